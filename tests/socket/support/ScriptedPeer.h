// A peer on 127.0.0.1 that a test scripts step by step on its own thread
// (a SOCKS server that misbehaves on purpose, say). Every wait pumps the
// thread's messages, so a socket component of the same thread keeps running.
#pragma once

#include <string>

class ScriptedPeer {
public:
    ScriptedPeer();
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    int Port() const { return m_Port; }
    bool Accept(int timeoutMs = 5000);
    // Exactly `count` bytes, or fewer when the stream ended or time ran out.
    std::string Expect(std::size_t count, int timeoutMs = 5000);
    // Everything until the client closes (or the time runs out).
    std::string ExpectEnd(int timeoutMs = 5000);
    bool Send(const std::string& bytes);
    void Close();
    // Ends the connection with a reset; safe from another thread while the
    // test's own thread only waits.
    void Reset();

private:
    int m_Listener = -1;
    int m_Port = 0;
    int m_Connection = -1;
};
