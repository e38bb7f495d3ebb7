#include "http/UrlParser.h"

#include <algorithm>
#include <cctype>

namespace {

bool IsSchemeChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

std::string LowerPrefix(const std::string& text, std::size_t count)
{
    std::string prefix = text.substr(0, count);
    std::transform(prefix.begin(), prefix.end(), prefix.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return prefix;
}

// Up to and including the last "/", or "/" when there is none.
std::string DirectoryOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("/") : path.substr(0, slash + 1);
}

// "../" climbs one directory per occurrence, never above "/".
std::string ResolveParentReference(const std::string& url, const std::string& base)
{
    std::string directory = DirectoryOf(base);
    std::string rest = url.substr(3);
    for (;;) {
        if (!directory.empty())
            directory.pop_back();
        directory = DirectoryOf(directory);
        if (rest.compare(0, 3, "../") != 0)
            break;
        rest.erase(0, 3);
    }
    return directory + rest;
}

void SplitAuthority(const std::string& authority, TUrlParts& parts)
{
    const std::size_t colon = authority.rfind(':');
    const std::size_t at = authority.rfind('@');
    std::string userInfo;
    if (colon == std::string::npos && at == std::string::npos) {
        parts.Host = authority;
        return;
    }
    if (colon != std::string::npos && (at == std::string::npos || colon > at)) {
        parts.Port = authority.substr(colon + 1);
        const std::size_t hostStart = at == std::string::npos ? 0 : at + 1;
        parts.Host = authority.substr(hostStart, colon - hostStart);
        if (at == std::string::npos)
            return;
    } else {
        parts.Host = authority.substr(at + 1);
    }
    userInfo = authority.substr(0, at);
    const std::size_t split = userInfo.find(':');
    if (split == std::string::npos) {
        parts.User = userInfo;
    } else {
        parts.User = userInfo.substr(0, split);
        parts.Pass = userInfo.substr(split + 1);
    }
}

}  // namespace

TUrlParts ParseUrl(const std::string& url, const std::string& base)
{
    TUrlParts parts;
    if (url.empty())
        return parts;
    if (url.compare(0, 2, "./") == 0) {
        parts.Path = DirectoryOf(base) + url.substr(2);
        return parts;
    }
    if (url.compare(0, 3, "../") == 0) {
        parts.Path = ResolveParentReference(url, base);
        return parts;
    }

    std::size_t authorityStart = 0;  // 0-based index into url
    bool haveScheme = false;
    const std::size_t separator = url.find("://");
    if (separator != std::string::npos) {
        if (std::all_of(url.begin(), url.begin() + static_cast<std::ptrdiff_t>(separator), IsSchemeChar)) {
            parts.Proto = url.substr(0, separator);
            authorityStart = separator + 3;
            haveScheme = true;
        } else {
            parts.Proto = "http";
        }
    }
    if (!haveScheme) {
        if (url[0] == '/') {
            parts.Proto = "http";
            if (url.size() > 1 && url[1] != '/') {
                parts.Path = url;
                return parts;
            }
            authorityStart = 1;
        } else if (LowerPrefix(url, 5) == "http:") {
            parts.Proto = "http";
            if (url.size() > 6 && url[6] != '/') {
                parts.Path = url.substr(5);
                return parts;
            }
            authorityStart = 6;
        } else if (LowerPrefix(url, 7) == "mailto:") {
            parts.Proto = "mailto";
            authorityStart = url.find(':') + 1;
        }
    }

    const std::string rest = authorityStart < url.size() ? url.substr(authorityStart) : std::string();
    std::size_t pathStart = rest.find('/');
    const std::size_t query = rest.find('?');
    if (query != std::string::npos && (pathStart == std::string::npos || query < pathStart))
        pathStart = query;
    if (pathStart == std::string::npos)
        pathStart = rest.size();
    parts.Path = rest.substr(pathStart);
    SplitAuthority(rest.substr(0, pathStart), parts);
    return parts;
}

std::string UrlDirectory(const std::string& path)
{
    std::size_t end = path.find('?');
    if (end == std::string::npos)
        end = path.size();
    // end counts the characters kept; back up to a "/" or ":".
    while (end > 0 && path[end - 1] != '/' && path[end - 1] != ':')
        --end;
    return path.substr(0, end);
}

int PosFromEnd(const std::string& sub, const std::string& text)
{
    if (sub.empty())
        return 0;
    const std::size_t found = text.rfind(sub);
    return found == std::string::npos ? 0 : static_cast<int>(found) + 1;
}

void ReplaceExtension(std::string& name, const std::string& ext)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        name += "." + ext;
    else
        name = name.substr(0, dot + 1) + ext;
}
