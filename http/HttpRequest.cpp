#include "http/HttpRequest.h"

#include "http/UrlParser.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <stdexcept>

void ComputeRequestTarget(const std::string& url, const std::string& proxy,
                          const std::string& proxyPort, THttpTarget& target, std::string& port,
                          std::string& username, std::string& password)
{
    TUrlParts parts;
    if (proxy.empty()) {
        // Relative URLs resolve against the previous request's target.
        parts = ParseUrl(url, target.RequestTarget);
        target.RequestTarget = parts.Path;
        target.DocumentName = parts.Path;
        port = parts.Port.empty() ? "80" : parts.Port;
    } else {
        parts = ParseUrl(url, "");
        target.DocumentName = parts.Path;
        // The proxy gets the absolute URL, without the user information.
        target.RequestTarget = (parts.Proto.empty() ? "http" : parts.Proto) + "://" + parts.Host +
                               (parts.Port.empty() ? "" : ":" + parts.Port) + parts.Path;
    }
    target.TargetHost = parts.Host;
    if (!parts.User.empty())
        username = parts.User;
    if (!parts.Pass.empty())
        password = parts.Pass;
    if (!proxy.empty()) {
        parts = ParseUrl(proxy, "");
        port = parts.Port.empty() ? proxyPort : parts.Port;
    }
    if (target.RequestTarget.empty())
        target.RequestTarget = "/";
    target.ConnectHost = parts.Host;
}

bool IsPortNumber(const std::string& port)
{
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int number = std::stoi(port);
    return number >= 1 && number <= 65535;
}

std::vector<std::string> BuildRequestHeader(const std::string& method, const std::string& version,
                                            const TRequestHeaderValues& values)
{
    const bool post = method == "POST";
    std::vector<std::string> lines;
    lines.push_back(method + " " + values.RequestTarget + " HTTP/" + version);
    auto addIf = [&lines](bool condition, const std::string& line) {
        if (condition)
            lines.push_back(line);
    };
    addIf(!values.Sender.empty(), "From: " + values.Sender);
    addIf(!values.Accept.empty(), "Accept: " + values.Accept);
    addIf(!values.Reference.empty(), "Referer: " + values.Reference);
    addIf(!values.AcceptLanguage.empty(), "Accept-Language: " + values.AcceptLanguage);
    addIf(post && !values.ContentTypePost.empty(), "Content-Type: " + values.ContentTypePost);
    addIf(!values.Agent.empty(), "User-Agent: " + values.Agent);
    addIf(!values.Icy_MetaData.empty(), "Icy-MetaData: " + values.Icy_MetaData);
    addIf(values.Bandwidth > 0, "Bandwidth: " + std::to_string(values.Bandwidth));
    addIf(!values.ClientID.empty(), "ClientID: " + values.ClientID);
    addIf(!values.GUID.empty(), "GUID: " + values.GUID);
    addIf(!values.RegionData.empty(), "RegionData: " + values.RegionData);
    addIf(!values.SupportsMaximumASMBandwidth.empty(),
          "SupportsMaximumASMBandwidth: " + values.SupportsMaximumASMBandwidth);
    lines.push_back("Connection: Keep-Alive");
    addIf(!values.Accept_Encoding.empty(), "Accept-Encoding: " + values.Accept_Encoding);
    lines.push_back("Host: " + values.TargetHost);
    addIf(values.NoCache, "Pragma: no-cache");
    addIf(post, "Content-Length: " + std::to_string(values.UploadSize));
    addIf(values.ModifiedSince != 0,
          "If-Modified-Since: " + FormatHttpDate(values.ModifiedSince) + " GMT");
    addIf(!values.Username.empty(),
          "Authorization: Basic " + BasicCredentials(values.Username, values.Password));
    addIf(!values.Proxy.empty() && !values.ProxyUsername.empty(),
          "Proxy-Authorization: Basic " +
              BasicCredentials(values.ProxyUsername, values.ProxyPassword));
    addIf(!values.Cookie.empty(), "Cookie: " + values.Cookie);
    addIf(!values.ContentRangeBegin.empty() || !values.ContentRangeEnd.empty(),
          "Range: bytes=" + values.ContentRangeBegin + "-" + values.ContentRangeEnd);
    return lines;
}

std::string EncodeBase64(const std::string& bytes)
{
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = (group << 8) | (k < count ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= count ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return out;
}

std::string BasicCredentials(const std::string& user, const std::string& password)
{
    return EncodeBase64(user + ":" + password);
}

std::string FormatHttpDate(double dateTime)
{
    using namespace std::chrono;
    // Years 1 to 9999, as the runtime's date-time allows.
    if (!std::isfinite(dateTime) || dateTime < -693593.0 || dateTime >= 2958466.0)
        throw std::invalid_argument("Invalid date-time for If-Modified-Since");
    // The whole days give the date; the fraction, whatever the sign of the
    // value, the time of day (milliseconds are dropped).
    std::int64_t wholeDays = static_cast<std::int64_t>(std::trunc(dateTime));
    std::int64_t milliseconds =
        std::llround(std::fabs(dateTime - static_cast<double>(wholeDays)) * 86400000.0);
    if (milliseconds >= 86400000) {
        milliseconds -= 86400000;
        ++wholeDays;
    }
    const year_month_day date{sys_days{year{1899} / December / 30} + days{wholeDays}};
    const std::int64_t seconds = milliseconds / 1000;
    static const char kDays[] = "MonTueWedThuFriSatSun";
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const std::int64_t weekday = (((wholeDays - 2) % 7) + 7) % 7;  // 0 is Monday
    const unsigned month = static_cast<unsigned>(date.month());
    char text[64];
    std::snprintf(text, sizeof text, "%.3s, %2.2u %.3s %4.4d %2.2d:%2.2d:%2.2d",
                  kDays + 3 * weekday, static_cast<unsigned>(date.day()),
                  kMonths + 3 * (month - 1), static_cast<int>(date.year()),
                  static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                  static_cast<int>(seconds % 60));
    return text;
}
