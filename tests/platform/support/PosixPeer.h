// The other end of a loopback connection, written with the system's own
// socket calls (POSIX, or Windows Sockets 2 on Windows), for peers that must
// misbehave (reset, half close, stop reading) and for reading back what the
// Windows Sockets library set. Descriptors are plain ints; ports are in
// host order.
#pragma once

#include <cstdint>
#include <string>

namespace posix {

int Listen(std::uint16_t& port);                 // on 127.0.0.1, port chosen by the system
int Accept(int listener, int timeoutMs = 5000);  // -1 on timeout
int Connect(std::uint16_t port);                 // blocking, to 127.0.0.1
int BoundUdp(std::uint16_t& port);
bool SendUdp(std::uint16_t port, const std::string& data);
// A port bound but not listening, so that connects to it are refused;
// it stays reserved until the descriptor is closed.
int ReservePort(std::uint16_t& port);
bool SendAll(int fd, const std::string& data);
// Reads until `count` bytes have arrived, the peer closes or the timeout passes.
std::string Receive(int fd, std::size_t count, int timeoutMs = 5000);
// Reads and throws away whatever is waiting.
std::size_t Drain(int fd);
void SetReceiveBuffer(int fd, int bytes);
void HalfClose(int fd);   // no more sending
void ResetClose(int fd);  // linger 0: the peer sees a reset
void Close(int fd);

// The descriptor of this process's socket bound to that local port, or -1.
int FindSocketByLocalPort(std::uint16_t port, bool stream);
// An int option read with the system's getsockopt; -1 on failure.
int IntOption(int fd, int level, int name);
struct LingerValue {
    int onOff;
    int seconds;
};
LingerValue LingerOption(int fd);
std::uint32_t MulticastInterface(int fd);  // network order

// System numbers, for IntOption.
extern const int kSolSocket, kSoReuseAddr, kSoKeepAlive, kSoBroadcast, kSoSndBuf, kSoRcvBuf;
extern const int kIpProtoTcp, kTcpNoDelay, kIpProtoIp, kIpMulticastTtl, kIpMulticastLoop;

#ifdef _WIN32
// The peers start Windows Sockets for the whole process, and the library
// under test shares that start: stopped while this object lives.
class TPeerSocketsPause {
public:
    TPeerSocketsPause();
    ~TPeerSocketsPause();
    TPeerSocketsPause(const TPeerSocketsPause&) = delete;
    TPeerSocketsPause& operator=(const TPeerSocketsPause&) = delete;
};
#else
// Threads of this process now that carry that name.
int ThreadCount(const char* name);

// The program's own view of the C library's socket(), and whether a call
// through it gives a real descriptor.
void* ProgramSocketFunction();
bool ProgramSocketWorks();
#endif

}  // namespace posix
