#include "platform/support/ScratchFolder.h"

#include "platform/Win32.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

ScratchFolder::ScratchFolder()
{
#ifdef _WIN32
    // No mkdtemp: the first name that create_directory makes afresh is ours.
    for (unsigned attempt = 0;; ++attempt) {
        auto candidate = std::filesystem::temp_directory_path() /
                         ("qvtest-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(attempt));
        if (std::filesystem::create_directory(candidate)) {
            m_Path = candidate.string();
            return;
        }
        if (attempt == 10000) throw std::runtime_error("cannot make a scratch folder");
    }
#else
    std::string pattern = (std::filesystem::temp_directory_path() / "qvtest-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_Path = pattern;
#endif
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ignored;
    std::filesystem::permissions(m_Path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_Path, ignored);
}

void WriteFileText(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
    if (!file) throw std::runtime_error("cannot write " + path);
}

std::string ReadFileText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool PathExists(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value)
    : m_Name(name)
{
    if (const char* old = std::getenv(name)) {
        m_Had = true;
        m_Old = old;
    }
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

ScopedEnv::~ScopedEnv()
{
#ifdef _WIN32
    _putenv_s(m_Name.c_str(), m_Had ? m_Old.c_str() : "");  // an empty value removes it
#else
    if (m_Had)
        setenv(m_Name.c_str(), m_Old.c_str(), 1);
    else
        unsetenv(m_Name.c_str());
#endif
}
