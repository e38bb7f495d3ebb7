// The Windows Sockets 1.1 numbers and record layouts, under names that do
// not clash with the system's socket headers, so that the POSIX side of the
// library can translate them. Exports.cpp checks every value against
// WinSock.h at compile time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace win {

constexpr std::uintptr_t kInvalidSocket = ~static_cast<std::uintptr_t>(0);
constexpr int kSocketError = -1;

constexpr int kAfInet = 2;
constexpr int kSockStream = 1;
constexpr int kSockDgram = 2;
constexpr int kSockRaw = 3;

constexpr int kSolSocket = 0xFFFF;
constexpr int kSoDebug = 0x0001;
constexpr int kSoReuseAddr = 0x0004;
constexpr int kSoKeepAlive = 0x0008;
constexpr int kSoDontRoute = 0x0010;
constexpr int kSoBroadcast = 0x0020;
constexpr int kSoLinger = 0x0080;
constexpr int kSoOobInline = 0x0100;
constexpr int kSoSndBuf = 0x1001;
constexpr int kSoRcvBuf = 0x1002;
constexpr int kIpProtoIp = 0;
constexpr int kIpProtoTcp = 6;
constexpr int kTcpNoDelay = 0x0001;
constexpr int kIpMulticastIf = 2;
constexpr int kIpMulticastTtl = 3;
constexpr int kIpMulticastLoop = 4;
constexpr int kIpAddMembership = 5;
constexpr int kIpDropMembership = 6;

constexpr long kFionRead = 0x4004667Fl;
constexpr long kFionBio = static_cast<long>(0x8004667Eu);

constexpr int kMsgOob = 0x1;
constexpr int kMsgPeek = 0x2;
constexpr int kMsgDontRoute = 0x4;
constexpr int kSdReceive = 0;
constexpr int kSdSend = 1;
constexpr int kSdBoth = 2;

constexpr long kFdRead = 0x01;
constexpr long kFdWrite = 0x02;
constexpr long kFdOob = 0x04;
constexpr long kFdAccept = 0x08;
constexpr long kFdConnect = 0x10;
constexpr long kFdClose = 0x20;
constexpr long kFdAll = 0x3F;

// Error numbers
#include "WinsockErrors.inc"

// sockaddr_in: family u16 (host order), port u16 and address u32 (network
// order), 8 bytes of zero.
constexpr std::size_t kSockAddrInSize = 16;
constexpr std::size_t kSockAddrInFamily = 0;
constexpr std::size_t kSockAddrInPort = 2;
constexpr std::size_t kSockAddrInAddr = 4;
// linger: two u16 fields
constexpr std::size_t kLingerSize = 4;
constexpr std::size_t kLingerOnOff = 0;
constexpr std::size_t kLingerSeconds = 2;
// ip_mreq: group address, interface address
constexpr std::size_t kIpMreqSize = 8;

}  // namespace win
