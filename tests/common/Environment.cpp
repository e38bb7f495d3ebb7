#include "common/Environment.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#ifdef _WIN32
#include <process.h>
#endif

std::string MakeTempFolder(const std::string& prefix)
{
    const std::filesystem::path temp = std::filesystem::temp_directory_path();
#ifdef _WIN32
    // No mkdtemp: the first name that create_directory makes afresh is ours.
    for (unsigned attempt = 0; attempt <= 10000; ++attempt) {
        const auto candidate = temp / (prefix + std::to_string(_getpid()) + "-" + std::to_string(attempt));
        if (std::filesystem::create_directory(candidate))
            return candidate.string();
    }
    throw std::runtime_error("cannot make a folder in " + temp.string());
#else
    std::string pattern = (temp / (prefix + "XXXXXX")).string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed in " + temp.string());
    return pattern;
#endif
}

namespace {

void SetEnv(const std::string& name, const std::optional<std::string>& value)
{
#ifdef _WIN32
    _putenv_s(name.c_str(), value ? value->c_str() : "");
#else
    value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
#endif
}

}  // namespace

TScopedEnv::TScopedEnv(const char* name, const std::optional<std::string>& value) : m_Name(name)
{
    if (const char* old = std::getenv(name))
        m_Old = old;
    SetEnv(m_Name, value);
}

TScopedEnv::~TScopedEnv()
{
    SetEnv(m_Name, m_Old);
}
