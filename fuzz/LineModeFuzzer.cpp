// Line mode over a real connection: any bytes, any split, several line
// ends and limits; every byte comes out exactly once, in order.
#include "socket/WSocket.h"
#include "support/FuzzInput.h"
#include "support/Pump.h"
#include "support/ScriptedServer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TFuzzInput input(data, size);
    const std::uint8_t settings = input.Byte();
    const std::uint8_t splitSeed = input.Byte();
    std::string lineEnd;
    switch (settings & 3) {
    case 0: lineEnd = "\r\n"; break;
    case 1: lineEnd = "\n"; break;
    case 2: lineEnd = std::string(1, static_cast<char>(input.Byte())); break;
    default: lineEnd = std::string{static_cast<char>(input.Byte()), static_cast<char>(input.Byte())}; break;
    }
    const std::string sent = input.Rest();
    std::vector<TScriptedServer::TStep> steps;
    for (std::string& piece : SplitIntoPieces(sent, splitSeed))
        steps.push_back({0, std::move(piece)});
    TScriptedServer::Shared().Script(std::move(steps));

    TWSocket socket;
    socket.SetMultiThreaded(true);
    socket.SetLineMode(true);
    socket.SetLineEnd(lineEnd);
    socket.SetLineEdit((settings & 4) != 0);
    const bool limited = (settings & 8) != 0;
    if (limited)
        socket.SetLineLimit(1 + settings / 16);
    std::string received;
    bool closed = false;
    socket.OnDataAvailable = [&received](TCustomWSocket* sender, WORD) {
        received += static_cast<TWSocket*>(sender)->ReceiveText();
    };
    socket.OnLineLimitExceeded = [](TCustomWSocket*, std::int32_t, bool& clearData) { clearData = true; };
    socket.OnSessionClosed = [&closed](TCustomWSocket*, WORD) { closed = true; };
    socket.SetAddr("127.0.0.1");
    socket.SetPort(std::to_string(TScriptedServer::Shared().Port()));
    socket.SetProto("tcp");
    socket.Connect();
    // The server always closes: a session that never ends lost its close.
    if (!PumpUntil([&] { return closed; }, 10000)) {
        std::fprintf(stderr, "no close reported; state %d\n", static_cast<int>(socket.State()));
        std::abort();
    }
    // Edited or cut lines may lose bytes; otherwise nothing is lost.
    if (!limited && !(settings & 4) && received != sent)
        std::abort();
    // Editing expands tabs; nothing else adds bytes.
    if (!(settings & 4) && received.size() > sent.size())
        std::abort();
    return 0;
}
