// A server of the test's own on 127.0.0.1 at a port chosen at run time: one
// thread that serves each accepted connection with a script, in turn or,
// for clients that must not wait for each other, each on a thread of its own.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TServerConnection {
public:
    TServerConnection(int fd, int index) : m_Fd(fd), m_Index(index) {}
    int Index() const { return m_Index; }
    // The request header up to and including its empty line; what came
    // until the peer closed or the time-out passed otherwise.
    std::string ReadHeader();
    // Exactly count bytes, or fewer at a close or the time-out.
    std::string ReadBytes(std::size_t count);
    void Write(const std::string& bytes);
    // Returns when the peer has closed (true) or the time-out passed.
    bool WaitForClose();
    // The close that ends the script resets the connection instead.
    void ResetOnClose();

private:
    bool WaitReadable();
    int m_Fd;
    int m_Index;
    std::string m_Pending;  // read past the header
};

class TLoopbackServer {
public:
    using TScript = std::function<void(TServerConnection&)>;
    enum class TServing { InTurn, AtOnce };
    explicit TLoopbackServer(TScript script, TServing serving = TServing::InTurn);
    ~TLoopbackServer();

    std::string Port() const { return std::to_string(m_Port); }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + Port() + path; }
    // The request headers read by scripts, one per connection, in order.
    std::vector<std::string> Requests() const;
    int ConnectionCount() const { return m_Connections.load(); }

private:
    void Serve();
    void ServeConnection(int fd, int index);
    TScript m_Script;
    TServing m_Serving;
    int m_ListenFd = -1;
    int m_Port = 0;
    std::atomic<bool> m_Stop{false};
    std::atomic<int> m_Connections{0};
    mutable std::mutex m_Mutex;
    std::vector<std::string> m_Requests;
    std::thread m_Thread;
    std::vector<std::thread> m_ConnectionThreads;  // AtOnce only

    friend class TServerConnection;
    static void Record(TServerConnection& connection, const std::string& header);
};

// Server threads wait at most this long for any one thing.
constexpr int kServerWaitMs = 10000;
