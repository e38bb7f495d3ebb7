// A TCP echo server on 127.0.0.1 in a thread of its own: every byte that a
// client sends comes back to it. Serves any number of clients at once.
#pragma once

#include <atomic>
#include <thread>

class EchoServer {
public:
    EchoServer();
    ~EchoServer();
    EchoServer(const EchoServer&) = delete;
    EchoServer& operator=(const EchoServer&) = delete;

    int Port() const { return m_Port; }

private:
    void Run();

    int m_Listener = -1;
    int m_Port = 0;
    std::atomic<bool> m_Stop{false};
    std::thread m_Thread;
};
