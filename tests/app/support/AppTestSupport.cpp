#include "app/support/AppTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

TTempDir::TTempDir()
{
    std::string pattern = (fs::temp_directory_path() / "qvapp-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_Path = pattern;
}

TTempDir::~TTempDir()
{
    std::error_code ignored;
    fs::remove_all(m_Path, ignored);
}

std::string TTempDir::WriteFile(const std::string& name, const std::string& bytes) const
{
    const std::string path = m_Path + "/" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
}

std::string TTempDir::MakeDir(const std::string& name) const
{
    fs::create_directories(m_Path + "/" + name);
    return m_Path + "/" + name;
}

TScopedEnv::TScopedEnv(const char* name, const std::optional<std::string>& value) : m_Name(name)
{
    if (const char* old = std::getenv(name))
        m_Old = old;
    value ? setenv(name, value->c_str(), 1) : unsetenv(name);
}

TScopedEnv::~TScopedEnv()
{
    m_Old ? setenv(m_Name.c_str(), m_Old->c_str(), 1) : unsetenv(m_Name.c_str());
}

std::string DecimalCommaLocale()
{
    static const TTempDir folder;
    static const bool built = [] {
        // localedef may warn and still write the locale: judge by the result.
        const std::string command = "localedef -i de_DE -f UTF-8 '" + folder.Path() + "/de_DE.UTF-8' >/dev/null 2>&1";
        [[maybe_unused]] const int status = std::system(command.c_str());
        return fs::exists(folder.Path() + "/de_DE.UTF-8/LC_NUMERIC");
    }();
    if (!built)
        return std::string();
    setenv("LOCPATH", folder.Path().c_str(), 1);
    return "de_DE.UTF-8";
}
