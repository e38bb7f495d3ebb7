// A running "quorvan-window": the download manager's window in another
// process (Linux only: the program is a tool of the Linux layer).
#pragma once

#include <sys/types.h>

class TQuorvanProcess {
public:
    TQuorvanProcess();
    ~TQuorvanProcess();  // ends it with SIGTERM if it still runs
    TQuorvanProcess(const TQuorvanProcess&) = delete;
    TQuorvanProcess& operator=(const TQuorvanProcess&) = delete;

    bool Ready();  // waits, bounded, for its window
    // Sends `signal` and reaps the process; returns its wait status.
    int Stop(int signal);

private:
    pid_t m_Pid = -1;
    int m_Out = -1;
};
