#include "app/ResponseRules.h"

#include "http/HttpProt.h"

bool ReceivedAsAnnounced(const THttpCli& client)
{
    const std::int32_t announced = client.ContentLength();
    return announced < 0 || client.ReceivedCount() == announced;
}
