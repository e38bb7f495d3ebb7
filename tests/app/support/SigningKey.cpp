#include "app/support/SigningKey.h"

#include "app/support/UpdateTestSupport.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

TSigningKey::TSigningKey() : m_SecretPath(m_Folder.Path() + "/key.sec")
{
    const std::string publicPath = m_Folder.Path() + "/key.pub";
    const TCommandResult made =
        RunCommand("minisign -G -W -p '" + publicPath + "' -s '" + m_SecretPath + "' </dev/null 2>&1");
    if (made.Status != 0)
        throw std::runtime_error("minisign -G failed: " + made.Output);
    std::istringstream lines(ReadBytes(publicPath));
    std::getline(lines, m_PublicLine);  // the untrusted comment
    std::getline(lines, m_PublicLine);
}

std::string TSigningKey::Sign(const std::string& path, const std::string& comment, bool legacy) const
{
    const TCommandResult signed_ = RunCommand("minisign -S -q " + std::string(legacy ? "-l " : "") + "-s '" +
                                              m_SecretPath + "' -m '" + path + "' -t '" + comment +
                                              "' </dev/null 2>&1");
    if (signed_.Status != 0)
        throw std::runtime_error("minisign -S failed: " + signed_.Output);
    return ReadBytes(path + ".minisig");
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}
