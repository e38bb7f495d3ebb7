// Which file entries of a manifest an update may act on: entries that stay
// inside the installation and hold no control bytes, and never two entries
// that would touch one file.
#pragma once

#include "app/ManifestRules.h"

#include <set>
#include <string>

// A plain, non-empty name and a relative destination without "..", neither
// holding a byte below 32 or 127: such a byte would end the name early in a
// system call, and the paths derived from it would meet another file. Nor
// may the name be one that an interrupted download's record takes.
bool IsSafeFileEntry(const TManifestFile& file);

// The line with bytes below 32 and 127 written as \xNN, so a log line stays one line.
std::string EscapeControls(const std::string& line);

// The files that the entries of one run touch: each its target, the
// target's download file and its backup, named as Windows compares names.
class TClaimedFiles {
public:
    // Claims the three files of `target`; false, claiming nothing, when one
    // of them is claimed already.
    bool Claim(const std::string& target);

private:
    std::set<std::string> m_Keys;
};
