#include "socket/support/ScriptedPeer.h"

#include "socket/support/EventWait.h"
#include "socket/support/PosixPeer.h"

#include <algorithm>

#include "common/PeerSockets.h"

namespace {

bool Readable(int fd)
{
    pollfd entry = PollEntry(fd, POLLIN);
    return poll(&entry, 1, 0) > 0;
}

}  // namespace

ScriptedPeer::ScriptedPeer()
{
    m_Listener = peer::Listen(m_Port);
}

ScriptedPeer::~ScriptedPeer()
{
    Close();
    peer::Close(m_Listener);
}

bool ScriptedPeer::Accept(int timeoutMs)
{
    if (!PumpUntil([&] { return Readable(m_Listener); }, timeoutMs))
        return false;
    m_Connection = peer::Accept(m_Listener, 0);
    return m_Connection >= 0;
}

std::string ScriptedPeer::Expect(std::size_t count, int timeoutMs)
{
    std::string received;
    bool ended = false;
    PumpUntil(
        [&] {
            while (!ended && received.size() < count && Readable(m_Connection)) {
                char buffer[512];
                std::size_t want = std::min(sizeof buffer, count - received.size());
                ssize_t n = recv(m_Connection, buffer, want, 0);
                if (n <= 0)
                    ended = true;
                else
                    received.append(buffer, static_cast<std::size_t>(n));
            }
            return ended || received.size() >= count;
        },
        timeoutMs);
    return received;
}

std::string ScriptedPeer::ExpectEnd(int timeoutMs)
{
    return Expect(static_cast<std::size_t>(-1) / 2, timeoutMs);
}

bool ScriptedPeer::Send(const std::string& bytes)
{
    return peer::SendAll(m_Connection, bytes);
}

void ScriptedPeer::Close()
{
    if (m_Connection >= 0)
        peer::Close(m_Connection);
    m_Connection = -1;
}

void ScriptedPeer::Reset()
{
    if (m_Connection >= 0)
        peer::Reset(m_Connection);
    m_Connection = -1;
}
