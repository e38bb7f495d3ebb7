// A library for the module loader's tests. The counter starts afresh each
// time the library is really loaded.
#include <cstdio>

extern "C" int QvTestAnswer()
{
    return 42;
}

extern "C" int QvTestNextCount()
{
    static int count = 0;
    return ++count;
}

extern "C" int QvTestPrint(const char* text)
{
    return std::puts(text);  // the C library is a dependency, not an export
}
