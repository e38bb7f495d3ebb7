// Every byte the peer sends arrives once and in order, whatever the handler
// does between its reads: reads of any size, line mode switched on and off,
// a SOCKS 5 reply in front of the data, and the peer's close at any moment
// (wherever the split puts it).
#include "socket/WSocket.h"
#include "support/FuzzInput.h"
#include "support/Pump.h"
#include "support/ScriptedServer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr const char* kTargetHost = "far.test";
// The method offer (3 bytes) and the request for kTargetHost (7 + 8).
constexpr std::size_t kSocks5SentBeforeReply = 3 + 7 + 8;
const std::string kSocks5Reply("\x05\x00\x00\x01\x7F\x00\x00\x01\x00\x50", 10);
constexpr int kReadSizes[] = {0, 1, 2, 3, 7, 64, 1024, 4096};  // 0: ReceiveText
constexpr std::size_t kMoves = 8;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TFuzzInput input(data, size);
    const std::uint8_t settings = input.Byte();
    const std::uint8_t splitSeed = input.Byte();
    // The handler's choices, taken in turn: bits 0-2 the read, bit 3 a
    // switch of line mode after it.
    std::uint8_t moves[kMoves];
    for (std::uint8_t& move : moves)
        move = input.Byte();
    const std::string sent = input.Rest();
    const bool socks = (settings & 1) != 0;

    std::vector<TScriptedServer::TStep> steps;
    if (socks) {
        steps.push_back({3, std::string("\x05\x00", 2)});
        for (std::string& piece : SplitIntoPieces(kSocks5Reply + sent, splitSeed))
            steps.push_back({kSocks5SentBeforeReply, std::move(piece)});
    } else {
        for (std::string& piece : SplitIntoPieces(sent, splitSeed))
            steps.push_back({0, std::move(piece)});
    }
    TScriptedServer::Shared().Script(std::move(steps));

    TWSocket socket;
    socket.SetMultiThreaded(true);
    socket.SetLineMode((settings & 2) != 0);
    socket.SetLineEnd((settings & 4) != 0 ? "\n" : "\r\n");
    std::string received;
    int closes = 0;
    std::size_t turn = 0;
    socket.OnDataAvailable = [&](TCustomWSocket* sender, WORD) {
        auto* line = static_cast<TWSocket*>(sender);
        const std::uint8_t move = moves[turn++ % kMoves];
        const int readSize = kReadSizes[move & 7];
        if (readSize == 0) {
            received += line->ReceiveText();
        } else {
            char buffer[4096];
            const std::int32_t count = line->Receive(buffer, readSize);
            if (count > 0)
                received.append(buffer, static_cast<std::size_t>(count));
        }
        if (move & 8)
            line->SetLineMode(!line->LineMode());
    };
    socket.OnSessionClosed = [&closes](TCustomWSocket*, WORD) { ++closes; };
    if (socks) {
        socket.SetSocksServer("127.0.0.1");
        socket.SetSocksPort(std::to_string(TScriptedServer::Shared().Port()));
        socket.SetAddr(kTargetHost);
        socket.SetPort("80");
    } else {
        socket.SetAddr("127.0.0.1");
        socket.SetPort(std::to_string(TScriptedServer::Shared().Port()));
    }
    socket.Connect();
    // The server always closes: a session that never ends lost its close.
    if (!PumpUntil([&] { return closes > 0; }, 10000)) {
        std::fprintf(stderr, "no close reported; state %d\n", static_cast<int>(socket.State()));
        std::abort();
    }
    if (closes != 1 || received != sent) {
        std::fprintf(stderr, "%d closes; %zu of %zu bytes, %s\n", closes, received.size(), sent.size(),
                     received == sent.substr(0, received.size()) ? "a prefix" : "not a prefix");
        std::abort();
    }
    return 0;
}
