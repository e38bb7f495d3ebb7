// The updater's ANSI bytes (code page 936) as UTF-16, for the wide-character
// API, which shows them right whatever code page the system runs with.
#pragma once

#include <string>

std::wstring AnsiToWide(const std::string& ansi);
