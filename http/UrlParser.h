// Taking URLs apart and putting request paths together. Positions are
// 1-based character positions, 0 meaning "none".
#pragma once

#include <string>

struct TUrlParts {
    std::string Proto;
    std::string User;
    std::string Pass;
    std::string Host;
    std::string Port;
    std::string Path;  // keeps its leading "/" or "?", the query and any fragment
};

// Splits url; "./" and "../" forms are resolved against the directory of
// base. Never fails: what cannot be read stays empty.
TUrlParts ParseUrl(const std::string& url, const std::string& base);

// The path up to and including its last "/" or ":" before any query.
std::string UrlDirectory(const std::string& path);

// Position where the last occurrence of sub begins; 0 when there is none.
int PosFromEnd(const std::string& sub, const std::string& text);

// Replaces what follows the last "." of name by ext, or appends "." + ext.
void ReplaceExtension(std::string& name, const std::string& ext);
