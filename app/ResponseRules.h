// What makes a received document whole, for the check and the workers alike.
#pragma once

class THttpCli;

// True unless the server announced a length and sent another number of
// bytes: a body cut short or overlong is a broken transfer, never a file.
bool ReceivedAsAnnounced(const THttpCli& client);

// A 200 whose body is exactly as long as its Content-Length announced (0
// included): the only answer a release file is installed from. Without a
// length nothing proves that the body is whole.
bool ReceivedWhole(const THttpCli& client);
