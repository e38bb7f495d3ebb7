// A worker's signature steps: the signature file is fetched and judged
// before the download, and the download's hash checked once it is complete.
#include "app/HttpThr2.h"
#include "app/SignatureCheck.h"
#include "http/HttpProt.h"

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
