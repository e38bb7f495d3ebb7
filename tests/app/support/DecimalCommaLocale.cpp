// Linux only: the locale is compiled by glibc's localedef.
#ifndef _WIN32
#include "app/support/AppTestSupport.h"

#include <cstdlib>
#include <filesystem>

std::string DecimalCommaLocale()
{
    static const TTempDir folder;
    static const bool built = [] {
        // localedef may warn and still write the locale: judge by the result.
        const std::string command = "localedef -i de_DE -f UTF-8 '" + folder.Path() + "/de_DE.UTF-8' >/dev/null 2>&1";
        [[maybe_unused]] const int status = std::system(command.c_str());
        return std::filesystem::exists(folder.Path() + "/de_DE.UTF-8/LC_NUMERIC");
    }();
    if (!built)
        return std::string();
    setenv("LOCPATH", folder.Path().c_str(), 1);
    return "de_DE.UTF-8";
}
#endif  // _WIN32
