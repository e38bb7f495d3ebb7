// Downloads the way an update run does: one worker thread per file, each
// with its own THttpCli, the per cent text handed to the main thread for
// every piece, and the installed file replaced by renaming on the main
// thread once the file has arrived.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TDownloadJob {
    std::string Url;
    // The installed file; the download goes to Target + "_". Empty: the
    // document goes into no stream and nothing is replaced.
    std::string Target;
    // A public key line: the download is checked against Url + ".minisig"
    // as the updater checks it, and fails unless signed for its file name.
    std::string PublicKey = "";
};

struct TDownloadOutcome {
    bool Succeeded = false;
    std::int64_t Bytes = 0;
    std::string Status;  // the last status text
};

// Starts every job at once and waits for all on the calling (main) thread,
// which runs the handed-over steps meanwhile. A status text goes to the main
// thread only when it differs from the last one, as the updater's worker
// does; `everyPiece` hands one over for every piece received instead.
std::vector<TDownloadOutcome> RunDownloads(const std::vector<TDownloadJob>& jobs, bool everyPiece = false);
