#include "app/FileEntryRules.h"

#include "app/FileReplacement.h"
#include "app/ResumeRecord.h"
#include "platform/AnsiText.h"

#include <cstdio>
#include <vector>

namespace {

bool IsControl(char c)
{
    return static_cast<unsigned char>(c) < 32 || c == 127;
}

bool HasControl(const std::string& text)
{
    for (char c : text)
        if (IsControl(c))
            return true;
    return false;
}

// The parts between "\" and "/" separators, empty ones included.
std::vector<std::string> Segments(const std::string& path)
{
    std::vector<std::string> segments(1);
    for (char c : path) {
        if (c == '\\' || c == '/')
            segments.emplace_back();
        else
            segments.back() += c;
    }
    return segments;
}

// One text per file: letters in one case, empty and "." segments dropped,
// trailing dots and blanks of a segment removed, as Windows reads a path.
std::string NameKey(const std::string& path)
{
    std::string key;
    for (std::string segment : Segments(LowerAnsi(path))) {
        while (!segment.empty() && (segment.back() == '.' || segment.back() == ' '))
            segment.pop_back();
        if (!segment.empty())
            key += "\\" + segment;
    }
    return key;
}

}  // namespace

bool IsSafeFileEntry(const TManifestFile& file)
{
    const std::string& name = file.FileName;
    if (name.empty() || name == "." || name == ".." || HasControl(name))
        return false;
    if (name.find_first_of("\\/:") != std::string::npos)
        return false;
    // The name of another entry's resume record.
    if (NameKey(name).ends_with(kResumeRecordSuffix))
        return false;

    const std::string& dest = file.CopyTo;
    if (HasControl(dest))
        return false;
    if (!dest.empty() && (dest[0] == '\\' || dest[0] == '/'))
        return false;
    const bool driveLetter = dest.size() >= 2 && dest[1] == ':' &&
                             ((dest[0] >= 'A' && dest[0] <= 'Z') || (dest[0] >= 'a' && dest[0] <= 'z'));
    if (driveLetter)
        return false;
    for (const std::string& segment : Segments(dest))
        if (segment == "..")
            return false;
    return true;
}

std::string EscapeControls(const std::string& line)
{
    std::string shown;
    for (char c : line) {
        if (!IsControl(c)) {
            shown += c;
            continue;
        }
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
        shown += escaped;
    }
    return shown;
}

bool TClaimedFiles::Claim(const std::string& target)
{
    const std::string keys[] = {NameKey(target), NameKey(DownloadPathOf(target)), NameKey(BackupPathOf(target))};
    for (const std::string& key : keys)
        if (m_Keys.count(key) != 0)
            return false;
    m_Keys.insert(std::begin(keys), std::end(keys));
    return true;
}
