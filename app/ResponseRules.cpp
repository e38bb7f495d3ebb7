#include "app/ResponseRules.h"

#include "http/HttpProt.h"

bool ReceivedAsAnnounced(const THttpCli& client)
{
    const std::int32_t announced = client.ContentLength();
    return announced < 0 || client.ReceivedCount() == announced;
}

bool ReceivedWhole(const THttpCli& client)
{
    return client.ResponseStatus() == 200 && client.ContentLength() >= 0 &&
           client.ReceivedCount() == client.ContentLength();
}
