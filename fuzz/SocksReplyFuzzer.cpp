// The SOCKS client's reply parsing: a server on 127.0.0.1 answers the
// client's requests of level 4, 4A or 5 with any bytes, in any split.
#include "socket/WSocket.h"
#include "support/FuzzInput.h"
#include "support/Pump.h"
#include "support/ScriptedServer.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

constexpr const char* kTargetHost = "target.test";
// What a level 5 client sends before the connect reply: the method offer
// (3 bytes) and the request for kTargetHost (7 + its length).
constexpr std::size_t kSocks5SentBeforeReply = 3 + 7 + 11;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TFuzzInput input(data, size);
    const std::uint8_t level = input.Byte() % 3;
    const std::uint8_t splitSeed = input.Byte();
    const std::string reply = input.Rest();
    std::vector<TScriptedServer::TStep> steps;
    if (level == 2) {
        // The method choice, then the rest once the request is in.
        steps.push_back({3, reply.substr(0, 2)});
        for (std::string& piece : SplitIntoPieces(reply.size() > 2 ? reply.substr(2) : "", splitSeed))
            steps.push_back({kSocks5SentBeforeReply, std::move(piece)});
    } else {
        for (std::string& piece : SplitIntoPieces(reply, splitSeed))
            steps.push_back({9, std::move(piece)});
    }
    TScriptedServer::Shared().Script(std::move(steps));

    TWSocket socket;
    socket.SetMultiThreaded(true);
    socket.SetSocksServer("127.0.0.1");
    socket.SetSocksPort(std::to_string(TScriptedServer::Shared().Port()));
    socket.SetSocksLevel(level == 0 ? "4" : level == 1 ? "4A" : "5");
    socket.SetAddr(level == 0 ? "10.1.2.3" : kTargetHost);
    socket.SetPort("8080");
    socket.SetProto("tcp");
    bool closed = false;
    std::string userData;
    socket.OnDataAvailable = [&userData](TCustomWSocket* sender, WORD) {
        userData += static_cast<TWSocket*>(sender)->ReceiveText();
    };
    socket.OnSessionClosed = [&closed](TCustomWSocket*, WORD) { closed = true; };
    try {
        socket.Connect();
    } catch (const ESocketException&) {
        return 0;
    }
    if (!PumpUntil([&] { return closed || socket.State() == TSocketState::wsClosed; }, 10000))
        std::abort();
    // Whatever follows a reply is the server's data, never more than it sent.
    if (userData.size() > reply.size())
        std::abort();
    return 0;
}
