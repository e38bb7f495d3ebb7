// Conversion between the ANSI code page (GBK here) and UTF-8 for display.
#pragma once

#include <string>

std::string AnsiToUtf8(const std::string& ansi);
std::string Utf8ToAnsi(const std::string& utf8);
