#include "socket/NameResolution.h"

#include "socket/SocketLibrary.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

constexpr std::size_t kMaxHostLength = 256;
constexpr std::size_t kMaxPortOrProtoLength = 32;
constexpr int kMaxHostAddresses = 256;

std::string FormatError(const char* format, const std::string& text, int error)
{
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format, text.c_str(), error);
    return buffer;
}

}  // namespace

std::string TrimSpaces(const std::string& text)
{
    // Control characters count as blanks, as spaces do.
    std::size_t first = 0;
    while (first < text.size() && static_cast<unsigned char>(text[first]) <= ' ')
        ++first;
    std::size_t last = text.size();
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
        --last;
    return text.substr(first, last - first);
}

bool IsAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::int32_t LeadingNumber(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    std::int64_t value = 0;
    for (; i < text.size() && IsAsciiDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > std::numeric_limits<std::int32_t>::max())
            throw std::overflow_error("Integer overflow");
    }
    return static_cast<std::int32_t>(value);
}

bool LooksLikeDottedQuad(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    if (i < text.size() && text[i] == '.')
        return false;
    int dots = 0;
    int group = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c == '.') {
            if (++dots > 3 || group > 255)
                return false;
            group = 0;
            if (i + 1 >= text.size() || !IsAsciiDigit(text[i + 1]))
                return false;
        } else if (IsAsciiDigit(c)) {
            if (group <= 255)  // past 255 the exact value no longer matters
                group = group * 10 + (c - '0');
        } else {
            for (; i < text.size(); ++i)
                if (text[i] != ' ')
                    return false;
            break;
        }
    }
    return dots == 3 && group <= 255;
}

u_long WSocketResolveHost(const std::string& host)
{
    if (host.empty() || host.size() > kMaxHostLength)
        throw ESocketException("WSocketResolveHost: '" + host + "' Invalid Hostname.");
    std::string name = TrimSpaces(host);
    if (LooksLikeDottedQuad(host)) {
        u_long address = Winsock::inet_addr(name.c_str());
        if (address == INADDR_NONE && name != "255.255.255.255")
            throw ESocketException("WSocketResolveHost: '" + host + "' Invalid IP address.");
        return address;
    }
    const hostent* entry = Winsock::gethostbyname(name.c_str());
    if (!entry || !entry->h_addr_list || !entry->h_addr_list[0] || entry->h_length < 4)
        throw ESocketException(FormatError("WSocketResolveHost: Cannot convert host address '%s', Error #%d",
                                           host, Winsock::WSAGetLastError()));
    in_addr address;
    std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    return address.s_addr;
}

u_short WSocketResolvePort(const std::string& port, const std::string& proto)
{
    if (port.empty() || port.size() >= kMaxPortOrProtoLength)
        throw ESocketException("WSocketResolvePort: Invalid Port.");
    if (proto.empty() || proto.size() >= kMaxPortOrProtoLength)
        throw ESocketException("WSocketResolvePort: Invalid Proto.");
    if (IsAsciiDigit(port[0])) {
        std::int32_t number = LeadingNumber(port);
        if (number > 65535)
            throw std::range_error("Range check error");
        return static_cast<u_short>(number);
    }
    std::string name = TrimSpaces(port);
    std::string protoName = TrimSpaces(proto);
    const servent* entry = Winsock::getservbyname(name.c_str(), protoName.empty() ? nullptr : protoName.c_str());
    if (!entry)
        throw ESocketException(FormatError("WSocketResolvePort: Cannot convert port '%s', Error #%d", port,
                                           Winsock::WSAGetLastError()));
    return Winsock::ntohs(static_cast<u_short>(entry->s_port));
}

std::int32_t WSocketResolveProto(const std::string& proto)
{
    if (proto.empty() || proto.size() >= kMaxPortOrProtoLength)
        throw ESocketException("WSocketResolveProto: Invalid Protocol.");
    std::string name = TrimSpaces(proto);
    if (!name.empty() && IsAsciiDigit(name[0]))
        return LeadingNumber(name);
    const protoent* entry = Winsock::getprotobyname(name.c_str());
    if (!entry)
        throw ESocketException(FormatError("WSocketResolveProto: Cannot convert protocol '%s', Error #%d", name,
                                           Winsock::WSAGetLastError()));
    return entry->p_proto;
}

void CollectHostAddresses(const hostent* entry, std::vector<std::string>& list)
{
    if (!entry || !entry->h_addr_list)
        return;
    for (int i = 0; i < kMaxHostAddresses && entry->h_addr_list[i]; ++i) {
        in_addr address;
        std::memcpy(&address, entry->h_addr_list[i], sizeof address);
        list.emplace_back(Winsock::inet_ntoa(address));
    }
}
