// Signature files and public key lines as the updater reads them from a
// server and from the build.
#include "app/ReleaseSignature.h"
#include "app/SignatureCheck.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (const auto signature = ParseSignature(text)) {
        if (signature->TrustedComment.size() >= size)
            std::abort();
        TrustedCommentHolds(signature->TrustedComment, "file", "update.ini");
    }
    if (const auto key = ParsePublicKey(text)) {
        if (KeyIdText(key->KeyId).size() != 16)
            std::abort();
        // The input as both key and signature: the checks run to a verdict.
        TSignatureCheck check(*key, {"update.ini", "1.15"});
        if (check.Accept(text) == TSignatureFault::None)
            std::abort();  // a key line is never a signature file
    }
    static const auto demoKey = ParsePublicKey("RWRAusMjQJNJh9xEGfUc2y0xhFLa3FAMUJ1PvR+MRJcbBQ/lDMf6dfQ5");
    TSignatureCheck check(*demoKey, {"f", ""});
    if (check.Accept(text) == TSignatureFault::None) {
        check.Update(data, size);
        try {
            check.Verify("");  // the legacy form reads the file: there is none
        } catch (const EStreamError&) {
        }
    }
    return 0;
}
