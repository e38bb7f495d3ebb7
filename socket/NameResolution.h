// Host, port and protocol texts to numbers, answered at once from the
// system's databases (a host name may block), and the dotted-address test
// that these and the component's lookups share.
#pragma once

#include "platform/winsock/WinSock.h"

#include <cstdint>
#include <string>
#include <vector>

bool IsAsciiDigit(char c);
// Decimal digits after leading spaces; 0 when none. Raises
// std::overflow_error("Integer overflow") past 32 bits.
std::int32_t LeadingNumber(const std::string& text);
// Four dot-separated decimal groups of at most 255, spaces around allowed.
bool LooksLikeDottedQuad(const std::string& text);

// IPv4 address in network order. Raises ESocketException.
u_long WSocketResolveHost(const std::string& host);
// Port in host order. Raises ESocketException, or std::range_error
// ("Range check error") for a number above 65535.
u_short WSocketResolvePort(const std::string& port, const std::string& proto);
// Protocol number. Raises ESocketException.
std::int32_t WSocketResolveProto(const std::string& proto);

// Appends the dotted form of every address of the entry, in its order.
void CollectHostAddresses(const hostent* entry, std::vector<std::string>& list);

std::string TrimSpaces(const std::string& text);
