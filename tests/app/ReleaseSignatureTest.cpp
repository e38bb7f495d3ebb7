// Signatures of the publisher's tool against the updater's check, and
// texts that only look like signatures.
// ctest-labels: threads
#include "app/BackgroundHasher.h"
#include "app/ReleaseSignature.h"
#include "app/SignatureCheck.h"
#include "app/support/SigningKey.h"
#include "app/support/UpdateTestSupport.h"

#include <gtest/gtest.h>

#include <sodium.h>

#include <algorithm>

namespace {

std::string Base64(const std::string& bytes)
{
    std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    text.pop_back();  // the terminating zero
    return text;
}

std::string Unbase64(const std::string& text)
{
    std::string bytes(text.size(), '\0');
    std::size_t length = 0;
    sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), text.data(), text.size(), nullptr,
                      &length, nullptr, sodium_base64_VARIANT_ORIGINAL);
    bytes.resize(length);
    return bytes;
}

// The signature file with line `index` (0-based) replaced.
std::string WithLine(const std::string& signature, int index, const std::string& line)
{
    std::string result;
    std::size_t start = 0;
    for (int i = 0; start < signature.size(); ++i) {
        const std::size_t end = signature.find('\n', start);
        result += (i == index ? line : signature.substr(start, end - start)) + "\n";
        start = end + 1;
    }
    return result;
}

std::string Line(const std::string& signature, int index)
{
    std::size_t start = 0;
    for (int i = 0; i < index; ++i)
        start = signature.find('\n', start) + 1;
    return signature.substr(start, signature.find('\n', start) - start);
}

TSignatureFault Check(const TSigningKey& key, const std::string& signature, const std::string& path,
                      TSignatureBinding binding = {"app.dll", "1.15"})
{
    TSignatureCheck check(*ParsePublicKey(key.PublicLine()), binding);
    const TSignatureFault fault = check.Accept(signature);
    return fault != TSignatureFault::None ? fault : check.VerifyFile(path);
}

// Cases whose signatures the publisher's tool makes.
class ToolSignature : public ::testing::Test {
protected:
    void SetUp() override
    {
#ifdef _WIN32
        GTEST_SKIP() << "signs with the publisher's tool, which only the Linux machines have";
#endif
    }
};

}  // namespace

TEST_F(ToolSignature, VerifiesOnlyWithItsKeyAndFile)
{
    const TSigningKey key;
    const TSigningKey other;
    TTempDir folder;
    const std::string path = folder.WriteFile("app.dll", std::string(100'000, 'q') + "end");
    const std::string changed = folder.WriteFile("changed.dll", std::string(100'000, 'q') + "enD");

    for (const bool legacy : {false, true}) {
        SCOPED_TRACE(legacy ? "legacy" : "prehashed");
        const std::string signature = key.Sign(path, "file:app.dll version:1.15", legacy);
        const std::string foreign = other.Sign(path, "file:app.dll version:1.15", legacy);
        // Another key's signature under this key's id: the cryptography decides.
        std::string forgedBytes = Unbase64(Line(foreign, 1));
        const std::string ownId = Unbase64(Line(signature, 1)).substr(2, 8);
        forgedBytes.replace(2, 8, ownId);
        const std::string forged = WithLine(foreign, 1, Base64(forgedBytes));
        std::string comment = Line(signature, 2);
        comment.back() = '6';  // version:1.16

        EXPECT_EQ(Check(key, signature, path), TSignatureFault::None);
        EXPECT_EQ(Check(key, signature, changed), TSignatureFault::BadSignature);
        EXPECT_EQ(Check(key, foreign, path), TSignatureFault::UnknownKey);
        EXPECT_EQ(Check(key, forged, path), TSignatureFault::BadComment);
        EXPECT_EQ(Check(key, WithLine(signature, 2, comment), path), TSignatureFault::BadComment);
        EXPECT_EQ(Check(key, signature, path, {"other.dll", "1.15"}), TSignatureFault::WrongFile);
        EXPECT_EQ(Check(key, signature, path, {"app.dll", "1.14"}), TSignatureFault::WrongVersion);
        EXPECT_EQ(Check(key, signature, path, {"app.dll", ""}), TSignatureFault::None);
    }
}

TEST_F(ToolSignature, ParserTakesOnlyWellFormedTexts)
{
    const TSigningKey key;
    TTempDir folder;
    const std::string signature = key.Sign(folder.WriteFile("f", "x"), "file:f");
    const std::string sigLine = Line(signature, 1);
    std::string badAlgorithm = Unbase64(sigLine);
    badAlgorithm[1] = 'X';
    std::string crlf;
    for (const char c : signature)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);

    const struct {
        const char* Name;
        std::string Text;
        bool Valid;
    } cases[] = {
        {"as made", signature, true},
        {"CR LF line ends", crlf, true},
        {"no final line end", signature.substr(0, signature.size() - 1), true},
        {"empty", "", false},
        {"garbage", "\x01\xff<html>not a signature</html>\n", false},
        {"truncated", signature.substr(0, signature.size() / 2), false},
        {"three lines", Line(signature, 0) + "\n" + sigLine + "\n" + Line(signature, 2) + "\n", false},
        {"a fifth line", signature + "\n", false},
        {"huge", signature + std::string(kMaxSignatureFileSize, '\n'), false},
        {"no untrusted comment", WithLine(signature, 0, "comment: x"), false},
        {"no trusted comment", WithLine(signature, 2, "trusted: file:f"), false},
        {"signature not base64", WithLine(signature, 1, "!" + sigLine.substr(1)), false},
        {"signature unpadded", WithLine(signature, 1, sigLine.substr(0, sigLine.size() - 1)), false},
        {"signature one byte short", WithLine(signature, 1, Base64(Unbase64(sigLine).substr(1))), false},
        {"unknown algorithm", WithLine(signature, 1, Base64(badAlgorithm)), false},
        {"global signature short", WithLine(signature, 3, Line(signature, 3).substr(4)), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseSignature(c.Text).has_value(), c.Valid) << c.Name;

    EXPECT_TRUE(ParsePublicKey(key.PublicLine()));
    EXPECT_FALSE(ParsePublicKey(key.PublicLine() + "\n"));
    EXPECT_FALSE(ParsePublicKey(key.PublicLine().substr(1)));
    EXPECT_FALSE(ParsePublicKey(sigLine));  // a signature's line is no key
}

TEST(ReleaseSignature, TrustedCommentTokensAreWhole)
{
    // Tokens are whole and blank-separated.
    EXPECT_TRUE(TrustedCommentHolds("timestamp:1\tfile:a.dll  version:1.15", "file", "a.dll"));
    EXPECT_FALSE(TrustedCommentHolds("file:a.dll.bak", "file", "a.dll"));
    EXPECT_FALSE(TrustedCommentHolds("xfile:a.dll", "file", "a.dll"));
    EXPECT_FALSE(TrustedCommentHolds("file: a.dll", "file", "a.dll"));
}

TEST(ReleaseSignature, BackgroundHashIsTheHashOfTheWhole)
{
    // Far more pieces than may wait, so that the receiver waits for the hash.
    const std::string whole = PatternBytes(3'000'000, 7);
    TBackgroundHasher hasher;
    for (std::size_t at = 0, size = 1; at < whole.size(); at += size, size = size * 7 % 9001 + 1)
        hasher.Add(whole.data() + at, std::min(size, whole.size() - at));
    TBackgroundHasher::THash expected;
    crypto_generichash(expected.data(), expected.size(), reinterpret_cast<const unsigned char*>(whole.data()),
                       whole.size(), nullptr, 0);
    EXPECT_EQ(hasher.Finish(), expected);
}
