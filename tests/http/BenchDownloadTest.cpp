// ctest-labels: threads
// ctest-link: qvbench_support
// The benchmark's download workers must do what the update run does, or
// their figures mean nothing: the installed file is replaced only by a
// complete download, nothing is left behind, and a failure keeps the old file.
#include "DownloadWorker.h"
#include "Statistics.h"

#include "common/LoopbackServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// The document for a path: its name repeated, so that every file differs
// and spans several pieces of the client's receive buffer.
std::string DocumentFor(const std::string& path)
{
    std::string document;
    while (document.size() < 20000)
        document += path;
    return document;
}

std::string RequestPath(const std::string& header)
{
    const std::size_t start = header.find(' ') + 1;
    return header.substr(start, header.find(' ', start) - start);
}

class BenchDownload : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/qvbench-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::filesystem::path folder;
    TLoopbackServer server{[](TServerConnection& connection) {
        const std::string path = RequestPath(connection.ReadHeader());
        if (path.find("missing") != std::string::npos) {
            connection.Write("HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found");
            return;
        }
        const std::string document = DocumentFor(path);
        connection.Write("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(document.size()) + "\r\n\r\n" +
                         document);
    }};
};

TEST_F(BenchDownload, ReplacesInstalledFilesAndLeavesNothingBehind)
{
    std::vector<TDownloadJob> jobs;
    for (int i = 0; i < 10; ++i) {
        const std::string name = "f" + std::to_string(i) + ".bin";
        if (i % 2 == 0)
            WriteFile(folder / name, "installed");  // the others are new files
        WriteFile(folder / (name + ".bak"), "leftover of an earlier run");
        jobs.push_back({server.Url("/" + name), (folder / name).string()});
    }

    const std::vector<TDownloadOutcome> outcomes = RunDownloads(jobs);

    for (int i = 0; i < 10; ++i) {
        const std::string name = "f" + std::to_string(i) + ".bin";
        const std::string expected = DocumentFor("/" + name);
        EXPECT_TRUE(outcomes[i].Succeeded) << name;
        EXPECT_EQ(outcomes[i].Status, "Update Success") << name;
        EXPECT_EQ(outcomes[i].Bytes, static_cast<std::int64_t>(expected.size())) << name;
        EXPECT_EQ(ReadFile(folder / name), expected) << name;
        EXPECT_FALSE(std::filesystem::exists(folder / (name + "_"))) << name;
        EXPECT_FALSE(std::filesystem::exists(folder / (name + ".bak"))) << name;
    }
}

TEST_F(BenchDownload, FailedDownloadKeepsTheInstalledFile)
{
    WriteFile(folder / "missing.bin", "installed");

    const auto outcomes = RunDownloads({{server.Url("/missing.bin"), (folder / "missing.bin").string()}});

    EXPECT_FALSE(outcomes[0].Succeeded);
    EXPECT_EQ(outcomes[0].Status, "Update Failed");
    EXPECT_EQ(ReadFile(folder / "missing.bin"), "installed");
    EXPECT_FALSE(std::filesystem::exists(folder / "missing.bin_"));
}

TEST_F(BenchDownload, DocumentIntoNoStreamIsCountedWithEitherStatusHandOver)
{
    for (const bool everyPiece : {false, true}) {
        const auto outcomes = RunDownloads({{server.Url("/count.bin"), ""}}, everyPiece);
        EXPECT_TRUE(outcomes[0].Succeeded);
        EXPECT_EQ(outcomes[0].Bytes, static_cast<std::int64_t>(DocumentFor("/count.bin").size()));
        EXPECT_EQ(outcomes[0].Status, "Update Success");
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST(BenchStatistics, MedianAndNearestRankQuantiles)
{
    EXPECT_EQ(Median({}), 0);
    EXPECT_EQ(Median({3, 1, 2}), 2);
    EXPECT_EQ(Median({4, 1, 3, 2}), 2.5);
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i)
        hundred.push_back(i);
    EXPECT_EQ(Quantile(hundred, 0.5), 50);
    EXPECT_EQ(Quantile(hundred, 0.99), 99);
    EXPECT_EQ(Quantile(hundred, 1.0), 100);
    EXPECT_EQ(Quantile({7}, 0.99), 7);
    EXPECT_EQ(Quantile({}, 0.5), 0);
}

}  // namespace
