// With a key built in, the stored manifest is read only once its signature,
// fetched from beside it, holds.
#include "app/Globals.h"
#include "app/SignatureCheck.h"
#include "app/UUpdateQVWin.h"
#include "http/HttpProt.h"

bool TUpdateQVWin::ManifestSigned(const std::string& manifestPath)
{
    if (!m_UpdateKey)
        return true;
    const bool chinese = UpdateChs->Checked();
    TSignatureFault fault = TSignatureFault::Missing;
    try {
        TSignatureCheck check(*m_UpdateKey, {"update.ini", ""});
        fault = check.Fetch(*CheckHttpCli, UpdateIniURL);
        if (fault == TSignatureFault::None)
            fault = check.VerifyFile(manifestPath);
    } catch (const std::exception&) {
        // The transfer failed or was aborted, as a manifest's can.
        UpdateMemo->Add("Can not get newest version infomation.");
        return false;
    }
    if (fault != TSignatureFault::None) {
        UpdateMemo->Add(SignatureRefusedLine("update.ini", fault, chinese));
        return false;
    }
    UpdateMemo->Add(SignatureVerifiedLine("update.ini", m_UpdateKey->KeyId, chinese));
    return true;
}
