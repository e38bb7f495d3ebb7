#include "app/support/AppTestSupport.h"

#include "common/Environment.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TTempDir::TTempDir() : m_Path(MakeTempFolder("qvapp-test-")) {}

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
