// With a key: a release signed by scripts/sign-release.sh is installed,
// and every kind of tampering is refused with the installed file unchanged.
// ctest-labels: threads
// ctest-link: qvapp_test_qt
#include "app/Globals.h"
#include "app/qt/QtUpdater.h"
#include "app/support/CuttingFront.h"
#include "app/support/SigningKey.h"
#include "app/support/UpdateTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

namespace {

const char* const kInstalled = "the installed app.dll";
const char* const kInvalid = "Signature invalid";

class SignedUpdate : public TUpdaterTest {
protected:
    // Publishes a release of app.dll and other.txt in `channel`, signed
    // with `signer`; returns the folder it lies in.
    std::string Publish(const std::string& version, const std::string& app, const TSigningKey& signer,
                        const std::string& channel = "eng")
    {
        const std::string folder = "update/" + channel + "/";
        web.Put(folder + "update.ini", version + "\r\nnotes\r\n[FILESLIST]\r\napp.dll\r\nother.txt\r\n");
        web.Put(folder + "app.dll", app);
        web.Put(folder + "other.txt", "other of " + version);
        const TCommandResult result = RunCommand("QVUPDATE_SIGNING_KEY='" + signer.SecretPath() + "' '" QV_SOURCE_DIR
                                                 "/scripts/sign-release.sh' '" + web.PathOf(folder) + "' " + version +
                                                 " 2>&1");
        EXPECT_EQ(result.Status, 0) << result.Output;
        return web.PathOf(folder);
    }

    // Checks with the key and, when offered, updates to the end.
    void CheckAndUpdate(bool chinese = false)
    {
        install.WriteFile("app.dll", kInstalled);
        window = std::make_unique<TQtUpdater>(web.Host(), web.Host());
        window->SetUpdateKey(key.PublicLine());
        if (chinese)
            window->UpdateChs->Click();
        window->ButtNextClick();
        if (!window->ButtUpdate->Enabled())
            return;
        window->ButtUpdateClick();
        ASSERT_TRUE(ProcessUntil([&] { return window->ButtNext->Enabled(); }));
    }

    std::string Status(int row) const { return window->FilesList->Cell(row, 1); }
    std::string LastLogLine() const { return window->UpdateMemo->Lines().back(); }

    void ExpectAppUntouched()
    {
        EXPECT_EQ(Installed("app.dll"), kInstalled);
        EXPECT_FALSE(Exists("app.dll_"));
        EXPECT_FALSE(Exists("app.dll.bak"));
    }

    TSigningKey key;
    std::unique_ptr<TQtUpdater> window;
};

void Edit(const std::string& path, const std::function<void(std::string&)>& change)
{
    std::string bytes = ReadBytes(path);
    change(bytes);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace

TEST_F(SignedUpdate, SignedReleaseIsInstalled)
{
    Publish("1.15", "new app", key);
    CheckAndUpdate();
    EXPECT_EQ(window->UpdateMemo->Lines()[2],
              "update.ini: signature verified (key " + KeyIdText(window->UpdateKey()->KeyId) + ")");
    EXPECT_EQ(Status(0), "Update Success");
    EXPECT_EQ(Status(1), "Update Success");
    EXPECT_EQ(Installed("app.dll"), "new app");
    EXPECT_EQ(Installed("other.txt"), "other of 1.15");
}

TEST_F(SignedUpdate, EveryTamperingIsRefusedAndNothingInstalled)
{
    const TSigningKey otherKey;
    const std::string app = PatternBytes(200'000, 1);
    const std::string big = PatternBytes(300'000, 3);
    auto flip = [](std::size_t at) { return [at](std::string& bytes) { bytes.at(at) ^= 1; }; };
    auto lineStart = [](const std::string& bytes, int line) {
        std::size_t at = 0;
        for (int i = 0; i < line; ++i)
            at = bytes.find('\n', at) + 1;
        return at;
    };
    auto replaceWith = [](std::string text) { return [text](std::string& bytes) { bytes = text; }; };

    const struct {
        const char* Name;
        const char* File;  // in the channel's folder
        std::function<void(std::string&)> Change;
        std::string Expected;  // the row's status, or the check's last log line
    } cases[] = {
        {"a byte of the file", "app.dll", flip(150'000), kInvalid},
        {"a byte more in the file", "app.dll", [](std::string& b) { b += 'x'; }, kInvalid},
        {"a byte of update.ini", "update.ini", flip(8),
         "Signature check failed: update.ini: signature does not match the file"},
        {"a byte of the signature", "app.dll.minisig", [&](std::string& b) { b[lineStart(b, 1) + 20] ^= 1; }, kInvalid},
        {"a byte of the trusted comment", "app.dll.minisig", [&](std::string& b) { b[lineStart(b, 3) - 3] ^= 1; },
         kInvalid},
        {"a byte of the manifest's trusted comment", "update.ini.minisig",
         [&](std::string& b) { b[lineStart(b, 3) - 3] ^= 1; },
         "Signature check failed: update.ini: trusted comment does not match its signature"},
        {"another file's signature", "app.dll.minisig",
         [&](std::string& b) { b = ReadBytes(web.PathOf("update/eng/other.txt.minisig")); }, kInvalid},
        {"no signature", "app.dll.minisig", nullptr, kInvalid},
        {"no signature of update.ini", "update.ini.minisig", nullptr,
         "Signature check failed: update.ini: signature file missing"},
        {"garbage", "app.dll.minisig", replaceWith("<html>404 Not Found</html>\n"), kInvalid},
        {"truncated", "app.dll.minisig", [](std::string& b) { b.resize(b.size() / 2); }, kInvalid},
        {"huge", "app.dll.minisig", replaceWith(big), kInvalid},
        {"huge for update.ini", "update.ini.minisig", replaceWith(big),
         "Signature check failed: update.ini: signature file malformed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string folder = Publish("1.16", app, key);
        if (c.Change)
            Edit(folder + c.File, c.Change);
        else
            web.Remove(std::string("update/eng/") + c.File);
        CheckAndUpdate();
        if (c.Expected == kInvalid)
            EXPECT_EQ(Status(0), kInvalid);
        else
            EXPECT_EQ(LastLogLine(), c.Expected);
        ExpectAppUntouched();
        EXPECT_EQ(Buttons(*window), c.Expected == kInvalid ? "1011" : "1010");
    }

    // Signed throughout with another key.
    Publish("1.16", app, otherKey);
    CheckAndUpdate();
    EXPECT_EQ(LastLogLine(), "Signature check failed: update.ini: signed with an unknown key");
    ExpectAppUntouched();

    // The file of release 1.15, validly signed for it, under the manifest of 1.16.
    const std::string old = Publish("1.15", "app of 1.15", key);
    const std::string oldSignature = ReadBytes(old + "app.dll.minisig");
    Publish("1.16", app, key);
    web.Put("update/eng/app.dll", "app of 1.15");
    web.Put("update/eng/app.dll.minisig", oldSignature);
    CheckAndUpdate();
    EXPECT_EQ(Status(0), kInvalid);
    EXPECT_EQ(Status(1), "Update Success");
    ExpectAppUntouched();
}

TEST_F(SignedUpdate, ChineseWindowRefusesInChinese)
{
    const std::string folder = Publish("1.15", "new app", key, "chs");
    Edit(folder + "app.dll", [](std::string& bytes) { bytes[0] ^= 1; });
    CheckAndUpdate(true);
    EXPECT_EQ(Status(0), "\xc7\xa9\xc3\xfb\xce\xde\xd0\xa7");  // 签名无效
    EXPECT_EQ(Status(1), "\xc9\xfd\xbc\xb6\xb3\xc9\xb9\xa6");  // 升级成功
    ExpectAppUntouched();

    Edit(folder + "update.ini", [](std::string& bytes) { bytes += "more.dll\r\n"; });
    CheckAndUpdate(true);
    // 签名校验失败: update.ini: 签名与文件不符
    EXPECT_EQ(LastLogLine(), "\xc7\xa9\xc3\xfb\xd0\xa3\xd1\xe9\xca\xa7\xb0\xdc: update.ini: "
                             "\xc7\xa9\xc3\xfb\xd3\xeb\xce\xc4\xbc\xfe\xb2\xbb\xb7\xfb");
    EXPECT_EQ(window->FilesList->RowCount(), 0);
}

// A download cut twice and resumed is verified over all its bytes, the kept ones too.
TEST_F(SignedUpdate, ResumedReleaseIsVerifiedWhole)
{
    const std::string app = PatternBytes(300'000, 4);
    Publish("1.15", app, key);
    const TCuttingFront front(web.Port(), "/update/eng/app.dll", {90'000, 210'000});
    install.WriteFile("app.dll", kInstalled);
    window = std::make_unique<TQtUpdater>(web.Host(), front.Host());
    window->SetUpdateKey(key.PublicLine());
    window->ButtNextClick();
    window->Server2->Click();
    window->SetRetryPause(1);
    window->ButtUpdateClick();
    ASSERT_TRUE(ProcessUntil([&] { return window->ButtNext->Enabled(); }));
    EXPECT_EQ(Status(0), "Update Success");
    EXPECT_EQ(Installed("app.dll"), app);
    EXPECT_NE(web.AccessLog().find("/update/eng/app.dll|bytes=210000-|"), std::string::npos);
}
