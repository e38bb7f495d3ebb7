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
// Lock held: keeps the first abortive error of a stream, which the kernel
// reports only once.
void NoteAbortive(SocketEntry& entry, int error);
// What every send or receive checks first: a buffer that can be used, and
// flags that Linux knows, without `refused` (the other direction's flag).
// Returns 0 with the Linux flags, or the error.
int CheckTransfer(const char* buffer, int length, int flags, int refused, int& systemFlags);

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
