#include "app/ResumeRecord.h"

#include "app/FileReplacement.h"
#include "http/HttpProt.h"
#include "platform/AnsiText.h"
#include "platform/FileUtils.h"
#include "platform/Streams.h"

#include <charconv>
#include <sstream>
#include <vector>

namespace {

std::optional<std::int64_t> Number(const std::string& text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The value of the response's field `name` (lower case); empty when absent.
std::string FieldValue(const THttpCli& client, const std::string& name)
{
    for (const std::string& line : client.ResponseHeader()) {
        const auto colon = line.find(':');
        if (colon != std::string::npos && LowerAnsi(line.substr(0, colon)) == name)
            return Trimmed(line.substr(colon + 1));
    }
    return "";
}

std::int64_t FileSize(const std::string& path)
{
    try {
        TFileStream file(path, TFileStream::Mode::OpenRead);
        return file.Size();
    } catch (const EStreamError&) {
        return -1;
    }
}

}  // namespace

std::string ResumeRecordPathOf(const std::string& target)
{
    return target + kResumeRecordSuffix;
}

std::optional<TResumeRecord> TakeResumeRecord(const std::string& target, const std::string& url)
{
    const std::string path = ResumeRecordPathOf(target);
    if (!FileExists(path))
        return std::nullopt;
    std::string text;
    try {
        TFileStream file(path, TFileStream::Mode::OpenRead);
        char buffer[1024];
        for (std::int32_t count; (count = file.Read(buffer, sizeof buffer)) > 0 && text.size() < 16384;)
            text.append(buffer, static_cast<std::size_t>(count));
    } catch (const EStreamError&) {
    }
    DeleteFile(path);

    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    if (lines.size() != 4)
        return std::nullopt;
    const auto total = Number(lines[2]);
    const auto kept = Number(lines[3]);
    if (!total || !kept)
        return std::nullopt;
    TResumeRecord record{lines[0], lines[1], *total, *kept};
    if (record.URL != url || !record.Resumable() || FileSize(DownloadPathOf(target)) != record.Kept)
        return std::nullopt;
    return record;
}

bool SaveResumeRecord(const std::string& target, const TResumeRecord& record)
{
    // One value a line: a URL or a header value never holds a line end.
    try {
        TFileStream file(ResumeRecordPathOf(target), TFileStream::Mode::Create);
        const std::string text = record.URL + "\n" + record.Validator + "\n" + std::to_string(record.Total) + "\n" +
                                 std::to_string(record.Kept) + "\n";
        file.WriteBuffer(text.data(), static_cast<std::int32_t>(text.size()));
        return true;
    } catch (const EStreamError&) {
        DeleteFile(ResumeRecordPathOf(target));
        return false;
    }
}

std::optional<TContentRange> ContentRangeOf(const THttpCli& client)
{
    const std::string value = FieldValue(client, "content-range");
    const auto dash = value.find('-');
    const auto slash = value.find('/');
    if (value.rfind("bytes ", 0) != 0 || dash == std::string::npos || slash == std::string::npos || slash < dash)
        return std::nullopt;
    const auto first = Number(Trimmed(value.substr(6, dash - 6)));
    const auto last = Number(value.substr(dash + 1, slash - dash - 1));
    const std::string totalText = value.substr(slash + 1);
    const auto total = totalText == "*" ? std::optional<std::int64_t>(-1) : Number(totalText);
    if (!first || !last || !total || *first > *last)
        return std::nullopt;
    return TContentRange{*first, *last, *total};
}

std::string ValidatorOf(const THttpCli& client)
{
    const std::string etag = FieldValue(client, "etag");
    if (!etag.empty() && etag.rfind("W/", 0) != 0)
        return etag;
    return FieldValue(client, "last-modified");
}

TAnswer JudgeAnswer(const THttpCli& client, std::int64_t start, TResumeRecord& record)
{
    switch (client.ResponseStatus()) {
    case 200:
        record.Validator = ValidatorOf(client);
        record.Total = client.ContentLength();
        record.Kept = 0;
        return TAnswer::FromZero;
    case 206: {
        const auto range = ContentRangeOf(client);
        const std::string validator = ValidatorOf(client);
        const bool continues = start > 0 && range && range->First == start && range->Total == record.Total &&
                               (validator.empty() || validator == record.Validator);
        if (continues)
            return TAnswer::Append;
        record.Kept = 0;
        return TAnswer::StartOver;
    }
    case 416:
        record.Kept = 0;
        return TAnswer::StartOver;
    default:
        return TAnswer::Other;
    }
}

bool CompletesFile(const THttpCli& client, std::int64_t start, std::int64_t total)
{
    const auto range = ContentRangeOf(client);
    const std::int64_t length = client.ContentLength();
    return client.ResponseStatus() == 206 && range && length >= 0 && client.ReceivedCount() == length &&
           range->First == start && range->Last + 1 == total && start + length == total;
}
