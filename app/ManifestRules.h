// The format of the update manifest, free of widgets: how its bytes fall
// into lines, how line 1 becomes a release number, and what each later
// line stands for.
#pragma once

#include "platform/Streams.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

// A manifest that cannot be used.
class EManifestError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The text with characters of code 0 to 32 removed at both ends.
std::string TrimControls(const std::string& text);

// Cuts a stream into lines: a line ends at LF or CR LF, any other CR is
// dropped, and Ctrl-Z (26) ends the file. Lines may be of any length.
class TManifestLineReader {
public:
    explicit TManifestLineReader(TStream& stream) : m_Stream(stream) {}
    // False, with `line` empty, once the file has ended.
    bool ReadLine(std::string& line);

private:
    bool Fill();

    TStream& m_Stream;
    char m_Buffer[4096] = {};
    std::int32_t m_Count = 0;  // bytes in m_Buffer
    std::int32_t m_Next = 0;   // next unread byte of m_Buffer
    bool m_Ended = false;      // end of stream or Ctrl-Z seen
};

// The version line as a number: blanks around, an optional sign, digits
// with `decimalSeparator`, an optional exponent, nothing else. Empty when
// the text is not such a number or does not fit a double.
std::optional<double> ParseReleaseNumber(const std::string& text, char decimalSeparator);
// The same with the user's decimal separator (the system's locale settings).
std::optional<double> ParseReleaseNumber(const std::string& text);
char UserDecimalSeparator();

// "[FILESLIST]" in any letter case, with blanks or control characters around.
bool IsSectionLine(const std::string& line);

struct TManifestFile {
    std::string FileName;
    std::string CopyTo;  // prefix below the installation directory; may be empty
};

// What a line after the version line stands for, in order: note lines up to
// the first section line, then file lines.
class TManifestBody {
public:
    enum class TLineKind { Note, Section, Blank, File };
    struct TLine {
        TLineKind Kind = TLineKind::Note;
        TManifestFile File;  // for TLineKind::File
    };
    TLine Classify(const std::string& line);

private:
    bool m_InFilesList = false;
};

// A file line: with "=", the trimmed text before the first "=" and the
// trimmed rest; without, the whole line as it is and no destination.
TManifestFile ParseFileLine(const std::string& line);
