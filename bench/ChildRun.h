// Running another program (curl, or this one in a single mode) as a child
// and reading what it cost: wall time, CPU time and peak resident memory.
#pragma once

#include <string>
#include <vector>

struct TChildResult {
    bool Ok = false;           // started and exited with 0
    double WallSeconds = 0;
    double CpuSeconds = 0;     // user + system
    long PeakKiB = 0;          // maximum resident set size
    std::string Output;        // its standard output
};

// argv[0] is looked up in PATH. Standard error goes to ours.
TChildResult RunChild(const std::vector<std::string>& argv);

// This program's own path, for running it in a single mode.
std::string SelfPath();
