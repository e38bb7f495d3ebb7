// Helpers of the socket calls: Windows address records, flags, and the
// count of calls that may block.
#pragma once

#include "Library.h"

#include <netinet/in.h>

namespace wsock {

// Reads a Windows sockaddr_in; returns 0 or the error number.
int ReadAddress(const void* name, int length, sockaddr_in& address);
// The caller offers room for a Windows sockaddr_in.
bool RoomForAddress(const void* name, const int* length);
void WriteAddress(const sockaddr_in& address, void* name, int* length);
// Windows MSG_ flags to Linux ones; false for flags Linux has no match for.
bool TranslateFlags(int flags, int& translated);
// A reset, abort or time-out: the connection is gone.
bool IsAbortive(int error);

// Counts a call that may block, so that closesocket on another thread
// can wake it (Windows ends such calls when their socket is closed).
class BlockingCall {
public:
    explicit BlockingCall(SocketEntry& entry) : m_Entry(entry) { ++m_Entry.blockingCalls; }
    ~BlockingCall() { --m_Entry.blockingCalls; }
    BlockingCall(const BlockingCall&) = delete;
    BlockingCall& operator=(const BlockingCall&) = delete;

private:
    SocketEntry& m_Entry;
};

}  // namespace wsock
