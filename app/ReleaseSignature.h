// The publisher's signature format: a public key is one base64 line, a
// signature file four lines (untrusted comment, signature, trusted
// comment, signature of the trusted comment). Parsing only: SignatureCheck
// verifies.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

using TKeyId = std::array<std::uint8_t, 8>;
using TEd25519Signature = std::array<std::uint8_t, 64>;

struct TMinisignPublicKey {
    TKeyId KeyId{};
    std::array<std::uint8_t, 32> Key{};
};

enum class TSignatureAlgorithm {
    Prehashed,  // "ED": the signature is over the file's BLAKE2b-512 hash
    Legacy,     // "Ed": the signature is over the file itself
};

struct TMinisignSignature {
    TSignatureAlgorithm Algorithm = TSignatureAlgorithm::Prehashed;
    TKeyId KeyId{};
    TEd25519Signature Signature{};
    std::string TrustedComment;  // the text after "trusted comment: "
    TEd25519Signature GlobalSignature{};  // over Signature + TrustedComment
};

// A signature file longer than this is refused unread.
inline constexpr std::size_t kMaxSignatureFileSize = 16384;

// The key's base64 line ("RW...") alone; empty when malformed.
std::optional<TMinisignPublicKey> ParsePublicKey(const std::string& line);
// A whole signature file, lines ending in LF or CR LF; empty when malformed.
std::optional<TMinisignSignature> ParseSignature(const std::string& text);

// The key id as the publisher's tool prints it (16 hex digits).
std::string KeyIdText(const TKeyId& id);

// Whether the trusted comment holds the blank-separated token name:value.
bool TrustedCommentHolds(const std::string& comment, const std::string& name, const std::string& value);
