// URL parsing: any bytes, as the URL and as the base it is resolved against.
#include "http/UrlParser.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string url = input.substr(0, split);
    const std::string base = split == std::string::npos ? std::string() : input.substr(split + 1);

    const TUrlParts parts = ParseUrl(url, base);
    const std::string directory = UrlDirectory(parts.Path);
    // The directory is a leading part of the path.
    if (parts.Path.compare(0, directory.size(), directory) != 0)
        std::abort();
    UrlDirectory(url);
    const int position = PosFromEnd(base, url);
    if (position < 0 || static_cast<std::size_t>(position) > url.size())
        std::abort();
    std::string name = url;
    ReplaceExtension(name, base.substr(0, 8));
    return 0;
}
