// The manifest as the check reads it: release number, notes, file lines.
#include "app/ManifestRules.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TMemoryStream stream;
    stream.WriteBuffer(data, static_cast<std::int32_t>(size));
    stream.Seek(0, TStream::Origin::Beginning);
    TManifestLineReader reader(stream);

    std::string version;
    reader.ReadLine(version);
    ParseReleaseNumber(version, '.');
    ParseReleaseNumber(version, ',');

    TManifestBody body;
    std::string line;
    std::size_t total = version.size();
    while (reader.ReadLine(line)) {
        total += line.size();
        if (total > size)  // lines are never longer than what was read
            std::abort();
        const TManifestBody::TLine meaning = body.Classify(line);
        if (meaning.Kind == TManifestBody::TLineKind::File &&
            meaning.File.FileName.size() + meaning.File.CopyTo.size() > line.size())
            std::abort();
        IsSectionLine(line);
        TrimControls(line);
    }
    return 0;
}
