// A port for the benchmark's web server.
#pragma once

// A port on 127.0.0.1 that nobody listened on a moment ago; 0 on failure.
int FreeLoopbackPort();
