#include "app/UUpdateQVWin.h"

#include "app/Globals.h"
#include "app/HttpThr2.h"
#include "http/HttpProt.h"
#include "platform/Win32.h"

#include <stdexcept>

TUpdateQVWin* UpdateQVWin = nullptr;

namespace {

const char* const kCaption = "Quorvan Update 2.0";

// The notice shown until a language button is clicked, line by line.
const char* const kMemo2Initial =
    "The QVUpdate will allow you automatically update your \r\n"
    "Quorvan\r\n"
    "\r\n"
    "Please make sure you are connected to the Internet before \r\n"
    "you run the update.\r\n";

// The texts that follow the language buttons. Chinese is GBK.
struct TCaptionSet {
    const char* Server1;
    const char* Server2;
    const char* ButtNext;
    const char* ButtAbort;
    const char* ButtExit;
    const char* ButtUpdate;
    const char* Column1;
    const char* Column2;
    const char* Column3;
    const char* Memo2;
};

const TCaptionSet kEnglish = {
    "Server 1",
    "Server 2",
    "&Check",
    "&Abort",
    "&Exit",
    "Online &Update",
    "Files",
    "Status",
    "Copy to ...",
    // Line feed before carriage return, as the notice has always had it.
    "The QVUpdate will allow you automatically update your Quorvan"
    "\n\r\n\r\n\r"
    "Please make sure you are connected to the Internet before you run the update.",
};

const TCaptionSet kChinese = {
    "\xb7\xfe\xce\xf1\xc6\xf7 1",  // 服务器 1
    "\xb7\xfe\xce\xf1\xc6\xf7 2",  // 服务器 2
    "\xbc\xec\xb2\xe9",            // 检查
    "\xd6\xd0\xd6\xb9",            // 中止
    "\xcd\xcb\xb3\xf6",            // 退出
    "\xd4\xda\xcf\xdf\xb8\xfc\xd0\xc2",  // 在线更新
    "\xce\xc4\xbc\xfe",            // 文件
    "\xd7\xb4\xcc\xac",            // 状态
    "\xbf\xbd\xb1\xb4\xb5\xbd ...",  // 拷贝到 ...
    // QVUpdate 将帮助你自动升级到新版本的 Quorvan
    "QVUpdate \xbd\xab\xb0\xef\xd6\xfa\xc4\xe3\xd7\xd4\xb6\xaf\xc9\xfd\xbc\xb6"
    "\xb5\xbd\xd0\xc2\xb0\xe6\xb1\xbe\xb5\xc4 Quorvan"
    "\n\r\n\r\n\r"
    // 在升级之前, 请确定你已经连接到因特网
    "\xd4\xda\xc9\xfd\xbc\xb6\xd6\xae\xc7\xb0, \xc7\xeb\xc8\xb7\xb6\xa8\xc4\xe3"
    "\xd2\xd1\xbe\xad\xc1\xac\xbd\xd3\xb5\xbd\xd2\xf2\xcc\xd8\xcd\xf8",
};

const char* const kChineseSimplified = "\xd6\xd0\xce\xc4\xbc\xf2\xcc\xe5";  // 中文简体

}  // namespace

TUpdateQVWin::TUpdateQVWin(TUpdateView& view) : TUpdateQVWin(view, QVUPDATE_SERVER1, QVUPDATE_SERVER2) {}

TUpdateQVWin::TUpdateQVWin(TUpdateView& view, const std::string& server1, const std::string& server2)
    : ButtNext(view.ButtNext),
      ButtExit(view.ButtExit),
      DownPrecent(view.DownPrecent),
      ButtAbort(view.ButtAbort),
      ButtUpdate(view.ButtUpdate),
      UpdateMemo(view.UpdateMemo),
      LabelOnlineUpdate(view.LabelOnlineUpdate),
      FilesList(view.FilesList),
      UpdateEng(view.UpdateEng),
      UpdateChs(view.UpdateChs),
      Server1(view.Server1),
      Server2(view.Server2),
      Button1(view.Button1),
      Memo2(view.Memo2),
      m_View(view),
      m_Server1Host(server1),
      m_Server2Host(server2),
      m_DownloadTimeout(kHttpTimeoutSeconds)
{
    SetUpdateKey(QVUPDATE_UPDATE_KEY);
    CreateCheckClient();
    InitComponents();
    ConnectEvents();
}

TUpdateQVWin::~TUpdateQVWin()
{
    // Workers show their status in this window until they end.
    DisposeWorkers(true);
    // The view may outlive the window: its events reach nothing any more.
    m_View.OnShow = nullptr;
    m_View.OnCloseQuery = nullptr;
    for (TViewButton* button : {ButtNext, ButtExit, ButtAbort, ButtUpdate, Button1})
        button->OnClick = nullptr;
    for (TViewRadioButton* radio : {UpdateEng, UpdateChs, Server1, Server2})
        radio->OnClick = nullptr;
}

void TUpdateQVWin::SetUpdateKey(const std::string& line)
{
    if (line.empty()) {
        m_UpdateKey.reset();
        return;
    }
    m_UpdateKey = ParsePublicKey(line);
    if (!m_UpdateKey)
        throw std::invalid_argument("not a public key: " + line);
}

void TUpdateQVWin::CreateCheckClient()
{
    CheckHttpCli = std::make_unique<THttpCli>();
    CheckHttpCli->SetLocalAddr("0.0.0.0");
    CheckHttpCli->SetProxyPort("80");
    CheckHttpCli->SetAgent("Mozilla/3.0 (compatible)");
    CheckHttpCli->SetAccept("image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
    CheckHttpCli->SetNoCache(false);
    CheckHttpCli->SetContentTypePost("application/x-www-form-urlencoded");
    CheckHttpCli->SetMultiThreaded(true);
    CheckHttpCli->SetHTTPStream(0);
    CheckHttpCli->SetBandwidth(0);
    CheckHttpCli->SetSocksLevel("5");
    CheckHttpCli->SetSocksAuthentication(TSocksAuthentication::socksNoAuthentication);
    // A server that stops answering fails the check instead of holding it.
    CheckHttpCli->SetTimeout(kHttpTimeoutSeconds);
}

void TUpdateQVWin::SetIdleButtons(bool updateEnabled)
{
    ButtNext->SetEnabled(true);
    ButtAbort->SetEnabled(false);
    ButtExit->SetEnabled(true);
    ButtUpdate->SetEnabled(updateEnabled);
}

void TUpdateQVWin::InitComponents()
{
    m_View.SetCaption(kCaption);
    SwitchLanguage(false);
    ButtAbort->SetEnabled(false);
    ButtUpdate->SetEnabled(false);
    DownPrecent->SetCaption("");
    LabelOnlineUpdate->SetCaption("Quorvan Online Update ");
    UpdateEng->SetCaption("English");
    UpdateEng->SetChecked(true);
    UpdateChs->SetCaption(kChineseSimplified);
    Server1->SetChecked(true);
    Button1->SetCaption("Run Quorvan");
    Button1->SetVisible(false);
    Memo2->SetText(kMemo2Initial);
}

void TUpdateQVWin::ConnectEvents()
{
    m_View.OnShow = [this](TUpdateView&) { FormShow(); };
    m_View.OnCloseQuery = [this](TUpdateView&) { return FormCloseQuery(); };
    ButtNext->OnClick = [this](TViewButton&) { ButtNextClick(); };
    ButtExit->OnClick = [this](TViewButton&) { ButtExitClick(); };
    ButtAbort->OnClick = [this](TViewButton&) { ButtAbortClick(); };
    ButtUpdate->OnClick = [this](TViewButton&) { ButtUpdateClick(); };
    Button1->OnClick = [this](TViewButton&) { Button1Click(); };
    UpdateEng->OnClick = [this](TViewRadioButton&) { UpdateEngClick(); };
    UpdateChs->OnClick = [this](TViewRadioButton&) { UpdateChsClick(); };
}

void TUpdateQVWin::FormShow()
{
    m_View.SetCaption(kCaption);
}

bool TUpdateQVWin::FormCloseQuery()
{
    // Exit is off while a check or an update runs; closing the window by
    // other means then would pull it from under the running work.
    return ButtExit->Enabled();
}

void TUpdateQVWin::UpdateEngClick()
{
    SwitchLanguage(false);
}

void TUpdateQVWin::UpdateChsClick()
{
    SwitchLanguage(true);
}

void TUpdateQVWin::SwitchLanguage(bool chinese)
{
    const TCaptionSet& texts = chinese ? kChinese : kEnglish;
    Server1->SetCaption(texts.Server1);
    Server2->SetCaption(texts.Server2);
    ButtNext->SetCaption(texts.ButtNext);
    ButtAbort->SetCaption(texts.ButtAbort);
    ButtExit->SetCaption(texts.ButtExit);
    ButtUpdate->SetCaption(texts.ButtUpdate);
    FilesList->SetColumnCaption(TViewFileList::kColumnFiles, texts.Column1);
    FilesList->SetColumnCaption(TViewFileList::kColumnStatus, texts.Column2);
    FilesList->SetColumnCaption(TViewFileList::kColumnCopyTo, texts.Column3);
    Memo2->SetText(texts.Memo2);
}

void TUpdateQVWin::ButtExitClick()
{
    m_View.Close();
}

void TUpdateQVWin::Button1Click()
{
    const std::string program = InstallDir + "\\Quorvan.exe";
    ShellExecuteA(nullptr, "open", program.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
