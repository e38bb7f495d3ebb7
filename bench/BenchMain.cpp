// Measures the updater's download path against curl on one local web
// server: run "qvbench run ..." (scripts/bench.sh does, with the server and
// the files). The other modes are what "run" starts as child processes, so
// that both programs are measured the same way.
#include "ChildRun.h"
#include "FreePort.h"
#include "DownloadWorker.h"
#include "Statistics.h"

#include "http/HttpProt.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

int Fetch(const std::string& url, const std::string& target, bool everyPiece, const std::string& key = "")
{
    const auto outcomes = RunDownloads({{url, target == "-" ? std::string() : target, key}}, everyPiece);
    std::printf("%lld\n", static_cast<long long>(outcomes[0].Bytes));
    return outcomes[0].Succeeded ? 0 : 1;
}

int Update(const std::string& baseUrl, const std::string& installDir, int count)
{
    std::vector<TDownloadJob> jobs;
    for (int i = 0; i < count; ++i) {
        const std::string name = "f" + std::to_string(i) + ".bin";
        jobs.push_back({baseUrl + "/" + name, installDir + "/" + name});
    }
    bool all = true;
    for (const TDownloadOutcome& outcome : RunDownloads(jobs))
        all = all && outcome.Succeeded && outcome.Status == "Update Success";
    return all ? 0 : 1;
}

// One client reused for every request, as the window's check client is;
// prints each request's latency in seconds.
int Small(const std::string& url, int count)
{
    THttpCli client;
    client.SetMultiThreaded(true);
    TMemoryStream document;
    client.SetReceiveStream(&document);
    client.SetURL(url);
    for (int i = 0; i < count; ++i) {
        document.Clear();
        const auto start = std::chrono::steady_clock::now();
        try {
            client.BlockingGet();
        } catch (const EHttpException& e) {
            std::cerr << "request failed: " << e.Message() << "\n";
            return 1;
        }
        std::printf("%.9f\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return 0;
}

std::vector<double> ParseNumbers(const std::string& text)
{
    std::vector<double> numbers;
    std::istringstream in(text);
    double value = 0;
    while (in >> value)
        numbers.push_back(value);
    return numbers;
}

struct TOptions {
    int Port = 0;
    std::string Root;   // the server's document folder
    std::string Work;   // scratch folder for downloads
    int Pairs = 5;
    int SmallCount = 200;
    std::string Key;  // one.bin is signed with it; empty: no signed download
};

class TDriver {
public:
    explicit TDriver(TOptions options) : m_Options(std::move(options)) {}

    int Run()
    {
        SingleDownloads();
        ParallelDownloads();
        SmallDocument();
        LargeDownload();
        PrintTable();
        if (m_Failed) {
            std::cerr << "some runs failed\n";
            return 1;
        }
        return 0;
    }

private:
    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(m_Options.Port); }
    std::string Url(const std::string& name) const { return BaseUrl() + "/" + name; }
    double Size(const std::string& name) const
    {
        return static_cast<double>(std::filesystem::file_size(m_Options.Root + "/" + name));
    }
    TChildResult Check(TChildResult result)
    {
        m_Failed = m_Failed || !result.Ok;
        return result;
    }
    TChildResult Self(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{SelfPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        return Check(RunChild(argv));
    }
    TChildResult Curl(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{"curl", "-s", "-f", "--http1.0"};
        argv.insert(argv.end(), args.begin(), args.end());
        return Check(RunChild(argv));
    }
    void Row(const std::string& name, double own, double curl) { m_Rows.push_back({name, own, curl}); }

    // 1: A B A B pairs, so that drift of the machine hits both alike.
    void SingleDownloads()
    {
        const double mib = Size("one.bin") / kMiB;
        const std::string file = m_Options.Work + "/one.bin";
        std::vector<double> ownFile, curlFile, ownNone, curlNone, ratios, ownSigned;
        for (int i = 0; i < m_Options.Pairs; ++i) {
            const double own = mib / Self({"fetch", Url("one.bin"), file}).WallSeconds;
            std::filesystem::remove(file);
            const double curl = mib / Curl({"-o", file, Url("one.bin")}).WallSeconds;
            std::filesystem::remove(file);
            ownFile.push_back(own);
            curlFile.push_back(curl);
            ratios.push_back(own / curl);
            ownNone.push_back(mib / Self({"fetch", Url("one.bin"), "-"}).WallSeconds);
            curlNone.push_back(mib / Curl({"-o", "/dev/null", Url("one.bin")}).WallSeconds);
            if (!m_Options.Key.empty()) {
                ownSigned.push_back(mib / Self({"fetch-signed", Url("one.bin"), file, m_Options.Key}).WallSeconds);
                std::filesystem::remove(file);
            }
        }
        Row("1 one download into a file, MiB/s", Median(ownFile), Median(curlFile));
        Row("1 one download into no file, MiB/s", Median(ownNone), Median(curlNone));
        if (!ownSigned.empty()) {
            Row("1 one signed download into a file, MiB/s", Median(ownSigned), Median(curlFile));
            m_SignatureCost = 1 - Median(ownSigned) / Median(ownFile);
        }
        m_Ratio = Median(ratios);
    }

    // 2: ten files at once, replacing installed ones.
    void ParallelDownloads()
    {
        double mib = 0;
        std::vector<std::string> curlArgs{"--no-progress-meter", "--parallel", "--parallel-max", "10"};
        const std::string install = m_Options.Work + "/install";
        std::filesystem::create_directories(install);
        for (int i = 0; i < 10; ++i) {
            const std::string name = "f" + std::to_string(i) + ".bin";
            mib += Size(name) / kMiB;
            std::FILE* installed = std::fopen((install + "/" + name).c_str(), "wb");
            if (installed)
                std::fclose(installed);
            curlArgs.insert(curlArgs.end(), {"-o", m_Options.Work + "/" + name, Url(name)});
        }
        std::vector<double> own, curl;
        for (int i = 0; i < m_Options.Pairs; ++i) {
            own.push_back(mib / Self({"update", BaseUrl(), install, "10"}).WallSeconds);
            curl.push_back(mib / Curl(curlArgs).WallSeconds);
        }
        Row("2 ten downloads at once, MiB/s", Median(own), Median(curl));
    }

    // 3: the manifest-sized document, requests one after the other.
    void SmallDocument()
    {
        const int count = m_Options.SmallCount;
        const std::vector<double> own = ParseNumbers(Self({"small", Url("update.ini"), std::to_string(count)}).Output);
        // One curl per request, timed by curl itself, so that its start-up
        // is not counted; several URLs in one curl stall on connection reuse.
        std::vector<double> curl;
        for (int i = 0; i < count; ++i) {
            const std::vector<double> one =
                ParseNumbers(Curl({"-o", "/dev/null", "-w", "%{time_total}\\n", Url("update.ini")}).Output);
            curl.insert(curl.end(), one.begin(), one.end());
        }
        auto perSecond = [](const std::vector<double>& latencies) {
            double total = 0;
            for (double latency : latencies)
                total += latency;
            return total > 0 ? static_cast<double>(latencies.size()) / total : 0;
        };
        Row("3 small document, requests/s", perSecond(own), perSecond(curl));
        Row("3 small document, p50 latency ms", Quantile(own, 0.5) * 1000, Quantile(curl, 0.5) * 1000);
        Row("3 small document, p99 latency ms", Quantile(own, 0.99) * 1000, Quantile(curl, 0.99) * 1000);
    }

    // 4: what a large file costs in memory and processor time. The first
    // large write of a run costs the writer two to four times the CPU of
    // the next ones here, so an untimed download goes first, and pairs take
    // turns (A B, B A, ...).
    void LargeDownload()
    {
        const double gib = Size("big.bin") / (kMiB * 1024);
        const std::string file = m_Options.Work + "/big.bin";
        std::vector<double> ownCpu, curlCpu;
        double ownPeak = 0, curlPeak = 0;
        auto own = [&] {
            const TChildResult run = Self({"fetch", Url("big.bin"), file});
            std::filesystem::remove(file);
            ownCpu.push_back(run.CpuSeconds / gib);
            ownPeak = std::max(ownPeak, run.PeakKiB / 1024.0);
        };
        auto curl = [&] {
            const TChildResult run = Curl({"-o", file, Url("big.bin")});
            std::filesystem::remove(file);
            curlCpu.push_back(run.CpuSeconds / gib);
            curlPeak = std::max(curlPeak, run.PeakKiB / 1024.0);
        };
        Curl({"-o", file, Url("big.bin")});
        std::filesystem::remove(file);
        for (int i = 0; i < m_Options.Pairs; ++i) {
            if (i % 2 == 0) {
                own();
                curl();
            } else {
                curl();
                own();
            }
        }
        Row("4 large download, peak memory MiB", ownPeak, curlPeak);
        Row("4 large download, CPU s per GiB", Median(ownCpu), Median(curlCpu));
    }

    void PrintTable() const
    {
        std::printf("%-40s %12s %12s %10s\n", "benchmark", "qvupdate", "curl", "qv/curl");
        for (const TRow& row : m_Rows)
            std::printf("%-40s %12.2f %12.2f %10.2f\n", row.Name.c_str(), row.Own, row.Curl,
                        row.Curl > 0 ? row.Own / row.Curl : 0);
        std::printf("(sizes: one %.0f MiB, ten x %.0f MiB, small %.0f bytes, large %.0f MiB; %d pairs)\n",
                    Size("one.bin") / kMiB, Size("f0.bin") / kMiB, Size("update.ini"), Size("big.bin") / kMiB,
                    m_Options.Pairs);
        if (!m_Options.Key.empty())
            std::printf("signature check: %.1f%% of the download's throughput\n", m_SignatureCost * 100);
        std::printf("download/curl throughput ratio: %.2f\n", m_Ratio);
    }

    struct TRow {
        std::string Name;
        double Own;
        double Curl;
    };
    TOptions m_Options;
    std::vector<TRow> m_Rows;
    double m_Ratio = 0;
    double m_SignatureCost = 0;
    bool m_Failed = false;
};

int Usage()
{
    std::cerr << "usage: qvbench run --port N --root DIR --work DIR [--pairs N] [--small N] [--key PUBLICKEY]\n"
                 "       qvbench fetch URL TARGET|- [--status-every-piece]\n"
                 "       qvbench fetch-signed URL TARGET PUBLICKEY\n"
                 "       qvbench update BASEURL INSTALLDIR COUNT\n"
                 "       qvbench small URL COUNT\n"
                 "       qvbench freeport\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "fetch")
        return Fetch(args[1], args[2], false);
    if (args.size() == 4 && args[0] == "fetch" && args[3] == "--status-every-piece")
        return Fetch(args[1], args[2], true);
    if (args.size() == 4 && args[0] == "fetch-signed")
        return Fetch(args[1], args[2], false, args[3]);
    if (args.size() == 4 && args[0] == "update")
        return Update(args[1], args[2], std::stoi(args[3]));
    if (args.size() == 1 && args[0] == "freeport") {
        const int port = FreeLoopbackPort();
        std::printf("%d\n", port);
        return port > 0 ? 0 : 1;
    }
    if (args.size() == 3 && args[0] == "small")
        return Small(args[1], std::stoi(args[2]));
    if (args.empty() || args[0] != "run" || args.size() % 2 == 0)
        return Usage();
    TOptions options;
    for (std::size_t i = 1; i + 1 < args.size(); i += 2) {
        const std::string& value = args[i + 1];
        if (args[i] == "--port")
            options.Port = std::stoi(value);
        else if (args[i] == "--root")
            options.Root = value;
        else if (args[i] == "--work")
            options.Work = value;
        else if (args[i] == "--pairs")
            options.Pairs = std::stoi(value);
        else if (args[i] == "--small")
            options.SmallCount = std::stoi(value);
        else if (args[i] == "--key")
            options.Key = value;
        else
            return Usage();
    }
    if (options.Port <= 0 || options.Root.empty() || options.Work.empty() || options.Pairs < 1)
        return Usage();
    return TDriver(options).Run();
}
