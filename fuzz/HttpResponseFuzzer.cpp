// The HTTP response path: the bytes come from a real connection on
// 127.0.0.1 into a blocking GET, header and body, in any split. The client
// goes straight to the server or through it as a proxy, so that relocations
// to any host still end at this server.
#include "http/HttpProt.h"
#include "support/FuzzInput.h"
#include "support/Pump.h"
#include "support/ScriptedServer.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TFuzzInput input(data, size);
    const std::uint8_t settings = input.Byte();
    const std::uint8_t splitSeed = input.Byte();
    std::vector<TScriptedServer::TStep> steps;
    for (std::string& piece : SplitIntoPieces(input.Rest(), splitSeed))
        steps.push_back({1, std::move(piece)});
    TScriptedServer::Shared().Script(std::move(steps));

    const std::string port = std::to_string(TScriptedServer::Shared().Port());
    THttpCli client;
    client.SetMultiThreaded(true);
    client.SetTimeout(3);
    TMemoryStream document;
    if (settings & 1)
        client.SetReceiveStream(&document);
    if (settings & 2) {
        client.SetProxy("127.0.0.1");
        client.SetProxyPort(port);
        client.SetURL("http://update.test/update/eng/update.ini");
    } else {
        client.SetURL("http://127.0.0.1:" + port + "/update/eng/update.ini");
        // A relocation elsewhere would leave the loopback: stop it.
        client.OnLocationChange = [](THttpCli* sender) {
            if (ParseUrl(sender->CurrentUrl(), "").Host != "127.0.0.1")
                sender->AbortRequest();
        };
    }
    std::int64_t delivered = 0;
    client.OnDocData = [&delivered](THttpCli*, const void* buffer, std::int32_t len) {
        if (len < 0 || len > 8192 || (len > 0 && buffer == nullptr))
            std::abort();
        delivered += len;
    };
    client.OnHeaderData = [](THttpCli* sender) {
        if (sender->ResponseHeader().empty())
            std::abort();
    };
    try {
        client.BlockingGet();
    } catch (const EHttpException&) {
    }
    if (client.RequestState() != TRequestState::rsIdle)
        std::abort();
    if (client.ReceivedCount() != delivered)
        std::abort();
    if ((settings & 1) && document.Bytes().size() != static_cast<std::size_t>(delivered))
        std::abort();
    return 0;
}
