// Keys and signatures made by the publisher's tool (Debian's minisign),
// as a release is signed.
#pragma once

#include "app/support/AppTestSupport.h"

#include <string>

class TSigningKey {
public:
    // A new key pair without a password; raises when the tool fails.
    TSigningKey();
    // The key's base64 line, as the build and SetUpdateKey take it.
    const std::string& PublicLine() const { return m_PublicLine; }
    const std::string& SecretPath() const { return m_SecretPath; }
    // Signs the file at `path` into path + ".minisig" with the trusted
    // comment; `legacy` makes the tool's legacy form. Returns that file's text.
    std::string Sign(const std::string& path, const std::string& comment, bool legacy = false) const;

private:
    TTempDir m_Folder;
    std::string m_SecretPath;
    std::string m_PublicLine;
};

std::string ReadBytes(const std::string& path);
