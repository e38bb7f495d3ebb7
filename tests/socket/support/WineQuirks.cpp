// The platform tests' check for Wine, built into the socket tests as well.
#include "platform/support/WineQuirks.cpp"
