// The host, service and protocol databases, answered by the system, with
// the standard services and protocols still known where a minimal system
// lacks /etc/services or /etc/protocols.
#include "Library.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <initializer_list>

namespace wsock {

namespace {

int HostError(int error)
{
    switch (error) {
    case HOST_NOT_FOUND: return win::WSAHOST_NOT_FOUND;
    case TRY_AGAIN: return win::WSATRY_AGAIN;
    case NO_DATA: return win::WSANO_DATA;
    default: return win::WSANO_RECOVERY;
    }
}

std::vector<std::string> Names(char** list)
{
    std::vector<std::string> names;
    for (; list != nullptr && *list != nullptr; ++list)
        names.emplace_back(*list);
    return names;
}

void CopyHost(const hostent& entry, HostRecord& host)
{
    host.name = entry.h_name != nullptr ? entry.h_name : "";
    host.aliases = Names(entry.h_aliases);
    host.addresses.clear();
    if (entry.h_addrtype != AF_INET || entry.h_length != 4)
        return;
    for (char** address = entry.h_addr_list; address != nullptr && *address != nullptr; ++address) {
        std::array<unsigned char, 4> bytes;
        std::memcpy(bytes.data(), *address, 4);
        host.addresses.push_back(bytes);
    }
}

// Runs a reentrant database call, growing its scratch buffer while it asks
// for more room. The entry it fills points into `scratch`.
template <typename Call>
int WithScratch(std::vector<char>& scratch, Call call)
{
    scratch.resize(1024);
    for (;;) {
        int result = call(scratch);
        if (result != ERANGE || scratch.size() >= (1u << 20))
            return result;
        scratch.resize(scratch.size() * 2);
    }
}

struct KnownService {
    const char* name;
    int port;
    bool tcp;
    bool udp;
    std::initializer_list<const char*> aliases;
};

const KnownService kServices[] = {
    {"echo", 7, true, true, {}},
    {"discard", 9, true, true, {"sink", "null"}},
    {"daytime", 13, true, true, {}},
    {"ftp-data", 20, true, false, {}},
    {"ftp", 21, true, false, {}},
    {"ssh", 22, true, false, {}},
    {"telnet", 23, true, false, {}},
    {"smtp", 25, true, false, {"mail"}},
    {"time", 37, true, true, {"timserver"}},
    {"domain", 53, true, true, {}},
    {"gopher", 70, true, false, {}},
    {"finger", 79, true, false, {}},
    {"http", 80, true, false, {"www"}},
    {"pop3", 110, true, false, {"pop-3"}},
    {"nntp", 119, true, false, {"readnews", "untp"}},
    {"ntp", 123, false, true, {}},
    {"imap", 143, true, false, {"imap2"}},
    {"snmp", 161, false, true, {}},
    {"https", 443, true, false, {}},
    {"socks", 1080, true, false, {}},
    {"http-alt", 8080, true, false, {"webcache"}},
};

struct KnownProtocol {
    const char* name;
    int number;
    const char* alias;
};

const KnownProtocol kProtocols[] = {
    {"ip", 0, "IP"}, {"icmp", 1, "ICMP"}, {"igmp", 2, "IGMP"},
    {"tcp", 6, "TCP"}, {"udp", 17, "UDP"}, {"raw", 255, "RAW"},
};

bool FallbackService(const char* name, const char* protocol, ServiceRecord& service)
{
    const bool anyProtocol = protocol == nullptr || *protocol == '\0';
    for (const KnownService& known : kServices) {
        bool nameMatches = std::strcmp(known.name, name) == 0;
        for (const char* alias : known.aliases)
            nameMatches = nameMatches || std::strcmp(alias, name) == 0;
        if (!nameMatches)
            continue;
        const char* chosen = nullptr;
        if (known.tcp && (anyProtocol || std::strcmp(protocol, "tcp") == 0))
            chosen = "tcp";
        else if (known.udp && (anyProtocol || std::strcmp(protocol, "udp") == 0))
            chosen = "udp";
        if (chosen == nullptr)
            continue;
        service.name = known.name;
        service.aliases.assign(known.aliases.begin(), known.aliases.end());
        service.protocol = chosen;
        const unsigned char bytes[2] = {static_cast<unsigned char>(known.port >> 8),
                                        static_cast<unsigned char>(known.port & 0xFF)};
        std::memcpy(&service.port, bytes, sizeof service.port);  // network order
        return true;
    }
    return false;
}

bool FallbackProtocol(const char* name, ProtocolRecord& protocol)
{
    for (const KnownProtocol& known : kProtocols) {
        if (std::strcmp(known.name, name) != 0 && std::strcmp(known.alias, name) != 0)
            continue;
        protocol.name = known.name;
        protocol.aliases = {known.alias};
        protocol.number = known.number;
        return true;
    }
    return false;
}

}  // namespace

int LookUpHostByName(const char* name, HostRecord& host)
{
    // Windows answers an empty name with this host.
    char ownName[256] = {};
    if (name == nullptr || *name == '\0') {
        if (::gethostname(ownName, sizeof ownName - 1) != 0)
            return win::WSANO_RECOVERY;
        name = ownName;
    }
    hostent entry{};
    hostent* found = nullptr;
    int hostError = 0;
    std::vector<char> scratch;
    int result = WithScratch(scratch, [&](std::vector<char>& room) {
        return ::gethostbyname_r(name, &entry, room.data(), room.size(), &found, &hostError);
    });
    if (result == 0 && found != nullptr) {
        CopyHost(entry, host);
        return host.addresses.empty() ? win::WSANO_DATA : 0;
    }
    return result == ERANGE ? win::WSAENOBUFS : HostError(hostError);
}

int LookUpHostByAddr(const char* address, int length, int type, HostRecord& host)
{
    if (address == nullptr)
        return win::WSAEFAULT;
    if (type != win::kAfInet)
        return win::WSAEAFNOSUPPORT;
    if (length != 4)
        return win::WSAEFAULT;
    hostent entry{};
    hostent* found = nullptr;
    int hostError = 0;
    std::vector<char> scratch;
    int result = WithScratch(scratch, [&](std::vector<char>& room) {
        return ::gethostbyaddr_r(address, 4, AF_INET, &entry, room.data(), room.size(), &found, &hostError);
    });
    if (result == 0 && found != nullptr) {
        CopyHost(entry, host);
        return 0;
    }
    return result == ERANGE ? win::WSAENOBUFS : HostError(hostError);
}

int LookUpService(const char* name, const char* protocol, ServiceRecord& service)
{
    if (name == nullptr)
        return win::WSAEFAULT;
    const char* wanted = protocol != nullptr && *protocol != '\0' ? protocol : nullptr;
    servent entry{};
    servent* found = nullptr;
    std::vector<char> scratch;
    int result = WithScratch(scratch, [&](std::vector<char>& room) {
        return ::getservbyname_r(name, wanted, &entry, room.data(), room.size(), &found);
    });
    if (result == 0 && found != nullptr) {
        service.name = entry.s_name;
        service.aliases = Names(entry.s_aliases);
        service.protocol = entry.s_proto;
        service.port = static_cast<std::uint16_t>(entry.s_port);  // already network order
        return 0;
    }
    return FallbackService(name, wanted, service) ? 0 : win::WSANO_DATA;
}

int LookUpProtocol(const char* name, ProtocolRecord& protocol)
{
    if (name == nullptr)
        return win::WSAEFAULT;
    protoent entry{};
    protoent* found = nullptr;
    std::vector<char> scratch;
    int result = WithScratch(scratch, [&](std::vector<char>& room) {
        return ::getprotobyname_r(name, &entry, room.data(), room.size(), &found);
    });
    if (result == 0 && found != nullptr) {
        protocol.name = entry.p_name;
        protocol.aliases = Names(entry.p_aliases);
        protocol.number = entry.p_proto;
        return 0;
    }
    return FallbackProtocol(name, protocol) ? 0 : win::WSANO_DATA;
}

std::uint32_t InetAddr(const char* text)
{
    in_addr address{};
    if (text == nullptr || ::inet_aton(text, &address) == 0)
        return 0xFFFFFFFFu;
    return address.s_addr;
}

}  // namespace wsock
