// A worker's signature steps: the signature file is fetched and judged
// before the download, and the download's hash checked once it is complete.
#include "app/HttpThr2.h"
#include "app/SignatureCheck.h"
#include "http/HttpProt.h"
#include "platform/Streams.h"

#include <algorithm>

bool THTTPThread::AcceptSignature()
{
    if (m_AbortRequested || Terminated())
        return false;
    m_Signature = std::make_unique<TSignatureCheck>(*m_UpdateKey, TSignatureBinding{m_FileName, m_ReleaseVersion});
    m_SignatureRefused = m_Signature->Fetch(*m_HttpCli, m_FileURL) != TSignatureFault::None;
    return !m_SignatureRefused;
}

bool THTTPThread::SignatureVerified()
{
    m_SignatureRefused = m_Signature->Verify(DownloadPath()) != TSignatureFault::None;
    return !m_SignatureRefused;
}

void THTTPThread::RestartHash()
{
    m_Hashing.reset();
    if (!m_Signature)
        return;
    // The signature covers the whole file, the bytes kept from earlier tries too.
    m_Signature->Restart();
    m_Download->Seek(0, TStream::Origin::Beginning);
    char buffer[65536];
    for (std::int64_t left = m_RangeStart; left > 0;) {
        const std::int32_t count =
            m_Download->Read(buffer, static_cast<std::int32_t>(std::min<std::int64_t>(left, sizeof buffer)));
        if (count <= 0)
            throw EStreamError("Kept bytes of " + DownloadPath() + " cannot be read");
        m_Signature->Update(buffer, static_cast<std::size_t>(count));
        left -= count;
    }
    m_Hashing = std::make_unique<THashingStream>(*m_Download, *m_Signature);
}

TStream* THTTPThread::ReceivingStream() const
{
    return m_Hashing ? m_Hashing.get() : static_cast<TStream*>(m_Download.get());
}
