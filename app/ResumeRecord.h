// What lets a download that ended early go on where it stopped, in this run
// or the next: the part kept on disk, the validator and length of the file
// it belongs to, and the rules that tell whether an answer continues it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class THttpCli;

// Beside the download file of `target`; no manifest entry may end in this
// suffix (FileEntryRules), so no entry's file ever takes the record's name.
inline constexpr const char* kResumeRecordSuffix = "_.resume";
std::string ResumeRecordPathOf(const std::string& target);

struct TResumeRecord {
    std::string URL;
    std::string Validator;  // a strong ETag, else Last-Modified; empty: none
    std::int64_t Total = -1;  // the whole file's length; -1 unknown
    std::int64_t Kept = 0;    // bytes of it in the download file

    // A range can be asked for only where a validator guards it.
    bool Resumable() const { return Kept > 0 && Kept < Total && !Validator.empty(); }
};

// The record of an earlier run, when it is for `url` and the download file
// holds exactly its kept bytes; nothing otherwise. The record file is gone
// afterwards either way: a failure writes it again.
std::optional<TResumeRecord> TakeResumeRecord(const std::string& target, const std::string& url);
// False when it could not be written (nothing is kept then).
bool SaveResumeRecord(const std::string& target, const TResumeRecord& record);

struct TContentRange {
    std::int64_t First = -1;
    std::int64_t Last = -1;
    std::int64_t Total = -1;  // -1 for "*"
};
// The Content-Range of the response ("bytes 100-199/1000", RFC 7233 4.2).
std::optional<TContentRange> ContentRangeOf(const THttpCli& client);
// The response's validator, as TResumeRecord keeps it (a weak ETag cannot
// guard a range, RFC 7233 3.2).
std::string ValidatorOf(const THttpCli& client);

// What an answer to a request from byte `start` means for the file.
enum class TAnswer {
    Append,     // a 206 continuing the kept bytes
    FromZero,   // a 200: the file from its first byte
    StartOver,  // the kept bytes belong to another file or cannot go on
    Other,      // no part of the file (a relocation, an error page)
};
// Judged once the answer's header has ended; a 200 makes its validator and
// length the record's.
TAnswer JudgeAnswer(const THttpCli& client, std::int64_t start, TResumeRecord& record);

// The 206 that ends the file: all it announced arrived and reaches the total.
bool CompletesFile(const THttpCli& client, std::int64_t start, std::int64_t total);
