// Plain POSIX sockets on 127.0.0.1 for tests whose peer must misbehave on
// purpose, and read-back of a socket's options. Kept apart from the Windows
// view of sockets, whose names clash with the system's.
#pragma once

#include <string>

namespace peer {

// A listening TCP socket on 127.0.0.1 with a port chosen by the system.
int Listen(int& port);
// Waits up to `timeoutMs`; -1 on timeout.
int Accept(int listener, int timeoutMs = 5000);
int Connect(int port);
int BindUdp(int& port);
bool SendAll(int fd, const std::string& data);
// Reads until `count` bytes or the end of the stream or the timeout.
std::string Receive(int fd, std::size_t count, int timeoutMs = 5000);
// The out-of-band byte, once it has arrived; empty on timeout.
std::string ReceiveUrgent(int fd, int timeoutMs = 5000);
// Reads until the peer closes (or resets) the stream, or the timeout.
std::string ReceiveToEnd(int fd, int timeoutMs = 5000);
std::string ReceiveDatagram(int fd, int& fromPort, int timeoutMs = 5000);
void SendDatagram(int fd, int port, const std::string& data);
// Closes with a reset instead of the orderly end.
void Reset(int fd);
void Close(int fd);
// True when the peer's orderly end (not a reset) arrived within the time.
bool SawOrderlyEnd(int fd, int timeoutMs = 5000);

struct Options {
    bool reuseAddr = false;
    bool keepAlive = false;
    bool noDelay = false;
    bool broadcast = false;
    bool lingerOn = false;
    int lingerSeconds = -1;
};
// The descriptor of this process's socket bound to 127.0.0.1:`port`
// (or any address with that port); -1 when none.
int FindByLocalPort(int port);
Options ReadOptions(int fd);
int Type(int fd);

}  // namespace peer
