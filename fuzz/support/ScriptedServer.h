// A server on 127.0.0.1 for fuzzing the socket and HTTP layers with real
// connections: it answers every connection with the same scripted pieces,
// one send each, and then closes.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TScriptedServer {
public:
    TScriptedServer();
    ~TScriptedServer();
    TScriptedServer(const TScriptedServer&) = delete;
    TScriptedServer& operator=(const TScriptedServer&) = delete;
    // The fuzzer's one server, made on first use and never torn down:
    // inputs keep running until the process ends.
    static TScriptedServer& Shared();

    int Port() const { return m_Port; }
    // A piece is sent once the client has sent at least AwaitTotal bytes
    // in all, or has gone quiet, so that a protocol's rounds are followed.
    struct TStep {
        std::size_t AwaitTotal = 0;
        std::string Bytes;
    };
    // The answer for connections accepted from now on.
    void Script(std::vector<TStep> steps);

private:
    void Serve();
    void Answer(int connection);

    int m_Listener = -1;
    int m_Port = 0;
    std::atomic<bool> m_Stopping{false};
    std::mutex m_Lock;
    std::vector<TStep> m_Steps;
    std::thread m_Thread;
};
