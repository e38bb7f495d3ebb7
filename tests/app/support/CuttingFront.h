// A front before an nginx of the test's own that passes every request on
// and cuts the answers for one file: the i-th answer ends once the file
// has reached cuts[i] bytes, as a lost connection would end it. Linux only.
#pragma once

#include "common/LoopbackServer.h"

#include <string>
#include <vector>

class TCuttingFront {
public:
    TCuttingFront(int webPort, std::string path, std::vector<std::size_t> cuts);
    std::string Host() const { return "127.0.0.1:" + m_Server.Port(); }

private:
    void Serve(TServerConnection& connection);
    int m_WebPort;
    std::string m_Path;
    std::vector<std::size_t> m_Cuts;
    int m_Answered = 0;  // answers for m_Path
    TLoopbackServer m_Server;
};
