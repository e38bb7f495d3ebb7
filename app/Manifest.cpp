// Reading the stored manifest into the window's log and file list.
#include "app/FileEntryRules.h"
#include "app/Globals.h"
#include "app/ManifestRules.h"
#include "app/UUpdateQVWin.h"

#include "platform/Streams.h"

bool TUpdateQVWin::ReadManifest(const std::string& fileName)
{
    TFileStream file(fileName, TFileStream::Mode::OpenRead);
    TManifestLineReader reader(file);

    reader.ReadLine(NewestVersion);
    const std::optional<double> newest = ParseReleaseNumber(NewestVersion);
    if (!newest)
        throw EManifestError("'" + NewestVersion + "' is not a valid release number");

    if (!(*newest > CurrentVersion)) {
        UpdateMemo->Add("Current Quorvan is newest");
        return false;
    }
    UpdateMemo->Add("Get newest version infomation");
    UpdateMemo->Add("Newest version : " + NewestVersion);

    TManifestBody body;
    std::string line;
    while (reader.ReadLine(line)) {
        const TManifestBody::TLine meaning = body.Classify(line);
        switch (meaning.Kind) {
        case TManifestBody::TLineKind::Note:
            UpdateMemo->Add(line);
            break;
        case TManifestBody::TLineKind::File:
            // A name or destination that could reach another file is never listed.
            if (IsSafeFileEntry(meaning.File))
                FilesList->AddRow(meaning.File.FileName, "0", meaning.File.CopyTo);
            else
                UpdateMemo->Add("Unsafe file entry skipped: " + EscapeControls(line));
            break;
        case TManifestBody::TLineKind::Section:
        case TManifestBody::TLineKind::Blank:
            break;
        }
    }
    return true;
}
