// Checking a release file against its signature: the signature file is
// fetched and judged first, the file's bytes are hashed while they arrive,
// and the verdict comes once the file is complete.
#pragma once

#include "app/BackgroundHasher.h"
#include "app/ReleaseSignature.h"
#include "platform/Streams.h"

#include <cstdint>
#include <memory>
#include <string>

class THttpCli;

enum class TSignatureFault {
    None,
    Missing,       // the server has no signature file
    Malformed,     // not a signature file, or one too long
    UnknownKey,    // made with another key
    BadSignature,  // the file is not the one signed
    BadComment,    // the trusted comment is not the one signed
    WrongFile,     // signed for another file name
    WrongVersion,  // signed for another release
};

// What the trusted comment must hold: "file:" + FileName and, unless
// Version is empty, "version:" + Version.
struct TSignatureBinding {
    std::string FileName;
    std::string Version;
};

class TSignatureCheck {
public:
    TSignatureCheck(const TMinisignPublicKey& key, TSignatureBinding binding);

    // Fetches fileURL + ".minisig" with the idle `client` and judges it
    // (format, key, trusted comment, binding). A server without the file
    // gives Missing; a failure of the transfer itself raises EHttpException.
    // The client is left without a ReceiveStream.
    TSignatureFault Fetch(THttpCli& client, const std::string& fileURL);
    // Judges a signature file's text, as Fetch does.
    TSignatureFault Accept(const std::string& signatureText);

    // The signed file's bytes, in order, as they arrive.
    void Update(const void* data, std::size_t size);
    // Forgets the bytes Update saw: the file starts again from its first byte.
    void Restart();
    // The verdict once every byte has gone through Update. The legacy form
    // signs the whole file, which is then read back from `path`.
    TSignatureFault Verify(const std::string& path);
    // Update with the whole file at `path`, then Verify.
    TSignatureFault VerifyFile(const std::string& path);

private:
    TMinisignPublicKey m_Key;
    TSignatureBinding m_Binding;
    TMinisignSignature m_Signature;
    bool m_Accepted = false;
    std::unique_ptr<TBackgroundHasher> m_Hasher = std::make_unique<TBackgroundHasher>();  // of what Update saw
};

// Receives a signed download: bytes go to the file and into the check.
class THashingStream : public TStream {
public:
    THashingStream(TStream& file, TSignatureCheck& check) : m_File(file), m_Check(check) {}
    std::int32_t Read(void*, std::int32_t) override { return 0; }
    std::int32_t Write(const void* buffer, std::int32_t count) override;
    std::int64_t Seek(std::int64_t offset, Origin origin) override { return m_File.Seek(offset, origin); }

private:
    TStream& m_File;
    TSignatureCheck& m_Check;
};

// Why a signature was refused, for the log; Chinese texts are GBK.
std::string SignatureFaultText(TSignatureFault fault, bool chinese);
// The log line of a refused signature of `fileName`.
std::string SignatureRefusedLine(const std::string& fileName, TSignatureFault fault, bool chinese);
// The log line of a verified signature of `fileName`.
std::string SignatureVerifiedLine(const std::string& fileName, const TKeyId& keyId, bool chinese);
// A worker's final status when its file's signature was refused.
std::string SignatureInvalidStatus(bool chinese);
