// Conversion between the ANSI code page (GBK here) and UTF-8 for display.
#pragma once

#include <string>

std::string AnsiToUtf8(const std::string& ansi);
std::string Utf8ToAnsi(const std::string& utf8);

// ASCII letters to lower case, leaving the second byte of a double-byte
// character alone: the case-blind compare of names such as window classes.
std::string LowerAnsi(std::string ansi);
