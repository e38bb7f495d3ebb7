// Lays a Windows hostent out in a caller's buffer. This file sees the
// Windows layout (WinSock.h) and no system socket header.
#include "Backend.h"
#include "WinSock.h"

#include <cstring>

namespace wsock {

namespace {

std::size_t AlignUp(std::size_t offset, std::size_t alignment)
{
    return (offset + alignment - 1) / alignment * alignment;
}

// Pointers are stored with memcpy: the caller's buffer need not be aligned.
void StorePointer(char* buffer, std::size_t offset, const void* pointer)
{
    std::memcpy(buffer + offset, &pointer, sizeof pointer);
}

}  // namespace

int LayOutHostEnt(const HostRecord& host, char* buffer, int bufferLength)
{
    const std::size_t aliasesAt = AlignUp(sizeof(hostent), alignof(char*));
    const std::size_t addressListAt = aliasesAt + (host.aliases.size() + 1) * sizeof(char*);
    const std::size_t addressesAt = addressListAt + (host.addresses.size() + 1) * sizeof(char*);
    const std::size_t nameAt = addressesAt + host.addresses.size() * 4;
    std::size_t needed = nameAt + host.name.size() + 1;
    for (const std::string& alias : host.aliases)
        needed += alias.size() + 1;
    if (needed > static_cast<std::size_t>(bufferLength) || buffer == nullptr)
        return static_cast<int>(needed);

    std::size_t text = nameAt;
    auto storeText = [&](const std::string& value) {
        char* at = buffer + text;
        std::memcpy(at, value.c_str(), value.size() + 1);
        text += value.size() + 1;
        return at;
    };

    hostent entry{};
    entry.h_name = storeText(host.name);
    entry.h_aliases = reinterpret_cast<char**>(buffer + aliasesAt);
    entry.h_addrtype = AF_INET;
    entry.h_length = 4;
    entry.h_addr_list = reinterpret_cast<char**>(buffer + addressListAt);
    std::memcpy(buffer, &entry, sizeof entry);

    for (std::size_t i = 0; i < host.aliases.size(); ++i)
        StorePointer(buffer, aliasesAt + i * sizeof(char*), storeText(host.aliases[i]));
    StorePointer(buffer, aliasesAt + host.aliases.size() * sizeof(char*), nullptr);

    for (std::size_t i = 0; i < host.addresses.size(); ++i) {
        char* address = buffer + addressesAt + i * 4;
        std::memcpy(address, host.addresses[i].data(), 4);
        StorePointer(buffer, addressListAt + i * sizeof(char*), address);
    }
    StorePointer(buffer, addressListAt + host.addresses.size() * sizeof(char*), nullptr);
    return static_cast<int>(needed);
}

}  // namespace wsock
