#include "app/SignatureCheck.h"

#include "http/HttpProt.h"

#include <functional>

namespace {

// Holds a signature file in memory, refusing to grow past the largest
// one there can be, so that a huge answer ends the transfer early.
class TBoundedStream : public TMemoryStream {
public:
    std::int32_t Write(const void* buffer, std::int32_t count) override
    {
        if (Bytes().size() + static_cast<std::size_t>(count) > kMaxSignatureFileSize) {
            m_Overflowed = true;
            throw EStreamError("signature file too long");
        }
        return TMemoryStream::Write(buffer, count);
    }
    bool Overflowed() const { return m_Overflowed; }

private:
    bool m_Overflowed = false;
};

bool VerifyEd25519(const TEd25519Signature& signature, const unsigned char* message, std::size_t size,
                   const TMinisignPublicKey& key)
{
    return crypto_sign_verify_detached(signature.data(), message, size, key.Key.data()) == 0;
}

void ReadFileInPieces(const std::string& path, const std::function<void(const char*, std::size_t)>& take)
{
    TFileStream file(path, TFileStream::Mode::OpenRead);
    char buffer[65536];
    while (const std::int32_t count = file.Read(buffer, sizeof buffer))
        take(buffer, static_cast<std::size_t>(count));
}

struct TFaultTexts {
    const char* English;
    const char* Chinese;  // GBK
};

TFaultTexts FaultTexts(TSignatureFault fault)
{
    switch (fault) {
    case TSignatureFault::None:
        return {"signature verified", "\xc7\xa9\xc3\xfb\xd5\xfd\xc8\xb7"};  // 签名正确
    case TSignatureFault::Missing:
        return {"signature file missing", "\xc7\xa9\xc3\xfb\xce\xc4\xbc\xfe\xc8\xb1\xca\xa7"};  // 签名文件缺失
    case TSignatureFault::Malformed:
        // 签名文件格式错误
        return {"signature file malformed", "\xc7\xa9\xc3\xfb\xce\xc4\xbc\xfe\xb8\xf1\xca\xbd\xb4\xed\xce\xf3"};
    case TSignatureFault::UnknownKey:
        // 签名所用的密钥未知
        return {"signed with an unknown key",
                "\xc7\xa9\xc3\xfb\xcb\xf9\xd3\xc3\xb5\xc4\xc3\xdc\xd4\xbf\xce\xb4\xd6\xaa"};
    case TSignatureFault::BadSignature:
        // 签名与文件不符
        return {"signature does not match the file", "\xc7\xa9\xc3\xfb\xd3\xeb\xce\xc4\xbc\xfe\xb2\xbb\xb7\xfb"};
    case TSignatureFault::BadComment:
        // 可信注释与签名不符
        return {"trusted comment does not match its signature",
                "\xbf\xc9\xd0\xc5\xd7\xa2\xca\xcd\xd3\xeb\xc7\xa9\xc3\xfb\xb2\xbb\xb7\xfb"};
    case TSignatureFault::WrongFile:
        // 签名属于另一个文件
        return {"signature is for another file",
                "\xc7\xa9\xc3\xfb\xca\xf4\xd3\xda\xc1\xed\xd2\xbb\xb8\xf6\xce\xc4\xbc\xfe"};
    case TSignatureFault::WrongVersion:
        // 签名属于另一个版本
        return {"signature is for another release",
                "\xc7\xa9\xc3\xfb\xca\xf4\xd3\xda\xc1\xed\xd2\xbb\xb8\xf6\xb0\xe6\xb1\xbe"};
    }
    return {"", ""};
}

}  // namespace

TSignatureCheck::TSignatureCheck(const TMinisignPublicKey& key, TSignatureBinding binding)
    : m_Key(key), m_Binding(std::move(binding))
{
}

TSignatureFault TSignatureCheck::Fetch(THttpCli& client, const std::string& fileURL)
{
    TBoundedStream text;
    client.SetURL(fileURL + ".minisig");
    client.SetReceiveStream(&text);
    try {
        client.BlockingGet();
    } catch (const EHttpException&) {
        client.SetReceiveStream(nullptr);
        if (text.Overflowed())
            return TSignatureFault::Malformed;
        if (client.ResponseStatus() >= 400)
            return TSignatureFault::Missing;
        throw;
    }
    client.SetReceiveStream(nullptr);
    if (client.ResponseStatus() < 200 || client.ResponseStatus() > 299)
        return TSignatureFault::Missing;
    return Accept(text.Bytes());
}

TSignatureFault TSignatureCheck::Accept(const std::string& signatureText)
{
    const std::optional<TMinisignSignature> signature = ParseSignature(signatureText);
    if (!signature)
        return TSignatureFault::Malformed;
    if (signature->KeyId != m_Key.KeyId)
        return TSignatureFault::UnknownKey;
    // The trusted comment is signed together with the file's signature.
    std::string signedComment(signature->Signature.begin(), signature->Signature.end());
    signedComment += signature->TrustedComment;
    if (!VerifyEd25519(signature->GlobalSignature, reinterpret_cast<const unsigned char*>(signedComment.data()),
                       signedComment.size(), m_Key))
        return TSignatureFault::BadComment;
    if (!TrustedCommentHolds(signature->TrustedComment, "file", m_Binding.FileName))
        return TSignatureFault::WrongFile;
    if (!m_Binding.Version.empty() && !TrustedCommentHolds(signature->TrustedComment, "version", m_Binding.Version))
        return TSignatureFault::WrongVersion;
    m_Signature = *signature;
    m_Accepted = true;
    return TSignatureFault::None;
}

void TSignatureCheck::Update(const void* data, std::size_t size)
{
    m_Hasher->Add(data, size);
}

void TSignatureCheck::Restart()
{
    m_Hasher = std::make_unique<TBackgroundHasher>();
}

TSignatureFault TSignatureCheck::Verify(const std::string& path)
{
    if (!m_Accepted)
        return TSignatureFault::Malformed;
    if (m_Signature.Algorithm == TSignatureAlgorithm::Prehashed) {
        const TBackgroundHasher::THash hash = m_Hasher->Finish();
        const bool valid = VerifyEd25519(m_Signature.Signature, hash.data(), hash.size(), m_Key);
        return valid ? TSignatureFault::None : TSignatureFault::BadSignature;
    }
    std::string bytes;
    ReadFileInPieces(path, [&](const char* piece, std::size_t size) { bytes.append(piece, size); });
    const bool valid = VerifyEd25519(m_Signature.Signature, reinterpret_cast<const unsigned char*>(bytes.data()),
                                     bytes.size(), m_Key);
    return valid ? TSignatureFault::None : TSignatureFault::BadSignature;
}

TSignatureFault TSignatureCheck::VerifyFile(const std::string& path)
{
    ReadFileInPieces(path, [this](const char* piece, std::size_t size) { Update(piece, size); });
    return Verify(path);
}

std::int32_t THashingStream::Write(const void* buffer, std::int32_t count)
{
    const std::int32_t written = m_File.Write(buffer, count);
    if (written > 0)
        m_Check.Update(buffer, static_cast<std::size_t>(written));
    return written;
}

std::string SignatureFaultText(TSignatureFault fault, bool chinese)
{
    const TFaultTexts texts = FaultTexts(fault);
    return chinese ? texts.Chinese : texts.English;
}

std::string SignatureRefusedLine(const std::string& fileName, TSignatureFault fault, bool chinese)
{
    // 签名校验失败:
    return std::string(chinese ? "\xc7\xa9\xc3\xfb\xd0\xa3\xd1\xe9\xca\xa7\xb0\xdc: " : "Signature check failed: ") +
           fileName + ": " + SignatureFaultText(fault, chinese);
}

std::string SignatureVerifiedLine(const std::string& fileName, const TKeyId& keyId, bool chinese)
{
    return fileName + ": " + SignatureFaultText(TSignatureFault::None, chinese) + " (key " + KeyIdText(keyId) + ")";
}

std::string SignatureInvalidStatus(bool chinese)
{
    return chinese ? "\xc7\xa9\xc3\xfb\xce\xde\xd0\xa7" : "Signature invalid";  // 签名无效
}
