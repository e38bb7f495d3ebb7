// A socket library whose start-up always fails and that exports nothing else
// of the socket interface: for the binding's failure paths.
namespace {
int g_StartupCalls = 0;
}

extern "C" {
__attribute__((visibility("default"))) int WSAStartup(unsigned short, void*)
{
    ++g_StartupCalls;
    return 10091;
}
__attribute__((visibility("default"))) int WSACleanup()
{
    return 0;
}
__attribute__((visibility("default"))) int FakeStartupCalls()
{
    return g_StartupCalls;
}
}
