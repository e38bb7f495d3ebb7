// The runtime's thread class, with the hand-over of a step to the main
// thread (Synchronize) that the download workers rely on.
#pragma once

#include "Win32.h"

#include <exception>
#include <functional>
#include <memory>

class TThread {
public:
    // A thread created running starts at the first Resume() or WaitFor():
    // a base-class constructor cannot start a body that a derived class is
    // still constructing.
    explicit TThread(bool createSuspended);
    // Terminates and waits for a started body; never frees anything else.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Resume();
    void Terminate();
    bool Terminated() const;
    bool Finished() const;
    // Waits for the body to end; on the main thread it keeps running
    // handed-over steps meanwhile. Returns the thread's ReturnValue.
    DWORD WaitFor();
    DWORD ThreadID() const;
    // The exception that ended Execute, if one did; the thread just ended.
    std::exception_ptr FatalException() const;

    // On a worker: runs `method` on the main thread and blocks until it has
    // run; an exception raised there is raised again here. On the main
    // thread: runs it at once.
    void Synchronize(const std::function<void()>& method);

protected:
    virtual void Execute() = 0;
    int ReturnValue = 0;

private:
    struct State;
    std::unique_ptr<State> m_State;
};

// Runs every step handed over to the main thread; returns whether any ran.
// Only the main thread runs them; elsewhere it returns false.
bool CheckSynchronize();
bool IsMainThread();
DWORD MainThreadId();
