#include "DownloadWorker.h"

#include "app/SignatureCheck.h"
#include "http/HttpProt.h"
#include "platform/FileUtils.h"
#include "platform/Thread.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <stdexcept>

namespace {

std::string TrimControls(const std::string& text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= 32)
        ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32)
        --last;
    return text.substr(first, last - first);
}

class TBenchWorker : public TThread {
public:
    TBenchWorker(TDownloadJob job, TDownloadOutcome& outcome, bool everyPiece)
        : TThread(true), m_Job(std::move(job)), m_Outcome(outcome), m_EveryPiece(everyPiece) {}

protected:
    void Execute() override
    {
        THttpCli client;
        m_Client = &client;
        client.SetMultiThreaded(true);
        std::unique_ptr<TFileStream> file;
        std::unique_ptr<TSignatureCheck> signature;
        std::unique_ptr<THashingStream> hashing;
        try {
            if (!m_Job.PublicKey.empty()) {
                const std::optional<TMinisignPublicKey> key = ParsePublicKey(m_Job.PublicKey);
                if (!key)
                    throw std::runtime_error("not a public key");
                const std::string name = m_Job.Url.substr(m_Job.Url.rfind('/') + 1);
                signature = std::make_unique<TSignatureCheck>(*key, TSignatureBinding{name, ""});
                if (signature->Fetch(client, m_Job.Url) != TSignatureFault::None)
                    throw std::runtime_error("signature refused");
            }
            if (!m_Job.Target.empty()) {
                file = std::make_unique<TFileStream>(m_Job.Target + "_", TFileStream::Mode::Create);
                if (signature)
                    hashing = std::make_unique<THashingStream>(*file, *signature);
                client.SetReceiveStream(hashing ? static_cast<TStream*>(hashing.get()) : file.get());
                DeleteFile(m_Job.Target + ".bak");
            }
            client.OnHeaderData = [this](THttpCli* sender) { HeaderData(sender); };
            client.OnDocData = [this](THttpCli*, const void*, std::int32_t) { DocData(); };
            SetStatus("Connect server ...");
            client.SetURL(m_Job.Url);
            client.BlockingGet();
            file.reset();
            m_Outcome.Bytes = client.ReceivedCount();
            if (signature && signature->Verify(m_Job.Target + "_") != TSignatureFault::None)
                throw std::runtime_error("signature invalid");
            if (!m_Job.Target.empty())
                Synchronize([this] { ReplaceFile(); });
            else
                m_Succeeded = true;
        } catch (const std::exception&) {
            m_Succeeded = false;
        }
        if (!m_Succeeded && !m_Job.Target.empty()) {
            file.reset();
            RenameFile(m_Job.Target + ".bak", m_Job.Target);
            DeleteFile(m_Job.Target + "_");
        }
        SetStatus(m_Succeeded ? "Update Success" : "Update Failed");
        m_Outcome.Succeeded = m_Succeeded;
        m_Client = nullptr;
    }

private:
    void SetStatus(const std::string& text)
    {
        if (!m_EveryPiece && text == m_StatusText)
            return;
        m_StatusText = text;
        Synchronize([this] { m_Outcome.Status = m_StatusText; });
    }

    void HeaderData(THttpCli* sender)
    {
        const std::string& line = sender->ResponseHeader().back();
        std::string upper = line;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (upper.find("CONTENT-LENGTH") == std::string::npos)
            return;
        const std::size_t colon = line.find(':');
        m_ExpectedSize = static_cast<std::uint32_t>(
            std::stol(TrimControls(colon == std::string::npos ? line : line.substr(colon + 1))));
    }

    void DocData()
    {
        if (m_ExpectedSize == 0)
            return;
        const double percent = static_cast<double>(m_Client->ReceivedCount()) / m_ExpectedSize * 100;
        SetStatus(std::to_string(static_cast<std::int64_t>(percent)) + "%");
        PostMessageA(m_Client->WindowHandle(), 1, 0, 0);
    }

    void ReplaceFile()
    {
        m_Succeeded = true;
        const std::string& target = m_Job.Target;
        if (FileExists(target)) {
            if (!RenameFile(target, target + ".bak")) {
                m_Succeeded = false;
                return;
            }
            if (RenameFile(target + "_", target))
                DeleteFile(target + ".bak");
            else
                m_Succeeded = false;
        } else if (!RenameFile(target + "_", target)) {
            m_Succeeded = false;
        }
    }

    TDownloadJob m_Job;
    TDownloadOutcome& m_Outcome;
    THttpCli* m_Client = nullptr;
    std::uint32_t m_ExpectedSize = 0;
    std::string m_StatusText;
    bool m_Succeeded = false;
    bool m_EveryPiece = false;
};

}  // namespace

std::vector<TDownloadOutcome> RunDownloads(const std::vector<TDownloadJob>& jobs, bool everyPiece)
{
    std::vector<TDownloadOutcome> outcomes(jobs.size());
    std::vector<std::unique_ptr<TBenchWorker>> workers;
    for (std::size_t i = 0; i < jobs.size(); ++i)
        workers.push_back(std::make_unique<TBenchWorker>(jobs[i], outcomes[i], everyPiece));
    for (auto& worker : workers)
        worker->Resume();
    for (auto& worker : workers)
        worker->WaitFor();
    return outcomes;
}
