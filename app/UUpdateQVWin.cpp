#include "app/UUpdateQVWin.h"

#include "app/Globals.h"
#include "app/HttpThr2.h"
#include "http/HttpProt.h"
#include "platform/Win32.h"

#include <QCloseEvent>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QTextDocument>
#include <QTreeWidget>

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

enum { kColumnFiles, kColumnStatus, kColumnCopyTo };

template <typename T>
T* Place(QWidget* parent, int left, int top, int width, int height)
{
    T* widget = new T(parent);
    widget->setGeometry(left, top, width, height);
    return widget;
}

void UseButtonFaceBackground(QWidget* widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    widget->setPalette(palette);
}

TAnsiMemo* PlaceMemo(QWidget* parent, int left, int top, int width, int height)
{
    auto* memo = new TAnsiMemo(parent);
    memo->setGeometry(left, top, width, height);
    memo->setFocusPolicy(Qt::StrongFocus);
    memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // An edit control's narrow inner margin, so lines break where they did.
    memo->document()->setDocumentMargin(2);
    UseButtonFaceBackground(memo);
    return memo;
}

}  // namespace

TUpdateQVWin::TUpdateQVWin(QWidget* parent) : TUpdateQVWin(QVUPDATE_SERVER1, QVUPDATE_SERVER2, parent) {}

TUpdateQVWin::TUpdateQVWin(const std::string& server1, const std::string& server2, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_Server1Host(server1),
      m_Server2Host(server2),
      m_DownloadTimeout(kHttpTimeoutSeconds)
{
    setWindowTitle(kCaption);
    setFixedSize(639, 356);
    setAutoFillBackground(true);
    UseButtonFaceBackground(this);

    // "MS Sans Serif" where it exists; otherwise the nearest sans face.
    QFont face;
    face.setFamilies({"MS Sans Serif", "Sans Serif"});
    face.setStyleHint(QFont::SansSerif);
    face.setPixelSize(11);
    setFont(face);

    SetUpdateKey(QVUPDATE_UPDATE_KEY);
    CreateCheckClient();
    CreateComponents();
    SetTabOrder();
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

TUpdateQVWin::~TUpdateQVWin()
{
    // Workers show their status in this window until they end.
    DisposeWorkers(true);
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
    ButtNext->setEnabled(true);
    ButtAbort->setEnabled(false);
    ButtExit->setEnabled(true);
    ButtUpdate->setEnabled(updateEnabled);
}

void TUpdateQVWin::CreateComponents()
{
    ButtNext = Place<QPushButton>(this, 35, 323, 81, 22);
    ButtNext->setText(kEnglish.ButtNext);
    connect(ButtNext, &QPushButton::clicked, this, [this] { ButtNextClick(); });

    ButtExit = Place<QPushButton>(this, 203, 323, 81, 22);
    ButtExit->setText(kEnglish.ButtExit);
    connect(ButtExit, &QPushButton::clicked, this, [this] { ButtExitClick(); });

    DownPrecent = Place<QLabel>(this, 336, 279, 3, 13);

    ButtAbort = Place<QPushButton>(this, 119, 323, 81, 22);
    ButtAbort->setText(kEnglish.ButtAbort);
    ButtAbort->setEnabled(false);
    connect(ButtAbort, &QPushButton::clicked, this, [this] { ButtAbortClick(); });

    ButtUpdate = Place<QPushButton>(this, 317, 323, 316, 22);
    ButtUpdate->setText(kEnglish.ButtUpdate);
    ButtUpdate->setEnabled(false);
    connect(ButtUpdate, &QPushButton::clicked, this, [this] { ButtUpdateClick(); });

    UpdateMemo = PlaceMemo(this, 8, 96, 297, 217);

    LabelOnlineUpdate = Place<QLabel>(this, 324, 15, 260, 24);
    LabelOnlineUpdate->setText("Quorvan Online Update ");
    QFont heading = font();
    heading.setBold(true);
    heading.setPixelSize(19);
    LabelOnlineUpdate->setFont(heading);

    FilesList = Place<QTreeWidget>(this, 317, 152, 316, 161);
    FilesList->setColumnCount(3);
    FilesList->setHeaderLabels({kEnglish.Column1, kEnglish.Column2, kEnglish.Column3});
    FilesList->setColumnWidth(kColumnFiles, 130);
    FilesList->setColumnWidth(kColumnStatus, 110);
    FilesList->setColumnWidth(kColumnCopyTo, 70);
    FilesList->setRootIsDecorated(false);
    FilesList->setItemsExpandable(false);
    FilesList->setUniformRowHeights(true);
    FilesList->setSelectionBehavior(QAbstractItemView::SelectRows);
    FilesList->setSelectionMode(QAbstractItemView::SingleSelection);
    FilesList->setAllColumnsShowFocus(true);
    FilesList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FilesList->setSortingEnabled(false);
    FilesList->header()->setSectionsClickable(false);
    FilesList->header()->setSectionsMovable(false);
    FilesList->header()->setStretchLastSection(false);

    GroupBox1 = Place<QGroupBox>(this, 9, 6, 297, 40);
    UpdateEng = Place<QRadioButton>(GroupBox1, 40, 13, 72, 17);
    UpdateEng->setText("English");
    UpdateEng->setChecked(true);
    connect(UpdateEng, &QRadioButton::clicked, this, [this] { UpdateEngClick(); });
    UpdateChs = Place<QRadioButton>(GroupBox1, 160, 13, 72, 17);
    UpdateChs->setText(QString::fromUtf16(u"\u4e2d\u6587\u7b80\u4f53"));  // 中文简体
    connect(UpdateChs, &QRadioButton::clicked, this, [this] { UpdateChsClick(); });

    GroupBox2 = Place<QGroupBox>(this, 8, 48, 297, 42);
    Server1 = Place<QRadioButton>(GroupBox2, 41, 15, 97, 17);
    Server1->setText(kEnglish.Server1);
    Server1->setChecked(true);
    Server2 = Place<QRadioButton>(GroupBox2, 161, 15, 97, 17);
    Server2->setText(kEnglish.Server2);

    Button1 = Place<QPushButton>(this, 296, 323, 153, 21);
    Button1->setText("Run Quorvan");
    Button1->hide();
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    Panel1 = Place<QFrame>(this, 320, 48, 313, 89);
    Panel1->setFrameShape(QFrame::NoFrame);
    Memo2 = PlaceMemo(Panel1, 0, 0, 313, 89);
    Memo2->setFrameShape(QFrame::NoFrame);
    Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo2->SetText(kMemo2Initial);
}

void TUpdateQVWin::SetTabOrder()
{
    QWidget* const order[] = {ButtNext, ButtExit,  ButtAbort, ButtUpdate, UpdateMemo, FilesList,
                              UpdateEng, UpdateChs, Server1,   Server2,    Button1,    Memo2};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void TUpdateQVWin::CentreOnScreen()
{
    if (QScreen* display = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(display->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TUpdateQVWin::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        FormShow();
        CentreOnScreen();
    }
    QWidget::showEvent(event);
}

void TUpdateQVWin::closeEvent(QCloseEvent* event)
{
    // Exit is off while a check or an update runs; closing the window by
    // other means then would pull it from under the running work.
    if (!ButtExit->isEnabled()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TUpdateQVWin::FormShow()
{
    setWindowTitle(kCaption);
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
    Server1->setText(AnsiToQString(texts.Server1));
    Server2->setText(AnsiToQString(texts.Server2));
    ButtNext->setText(AnsiToQString(texts.ButtNext));
    ButtAbort->setText(AnsiToQString(texts.ButtAbort));
    ButtExit->setText(AnsiToQString(texts.ButtExit));
    ButtUpdate->setText(AnsiToQString(texts.ButtUpdate));
    QTreeWidgetItem* header = FilesList->headerItem();
    header->setText(kColumnFiles, AnsiToQString(texts.Column1));
    header->setText(kColumnStatus, AnsiToQString(texts.Column2));
    header->setText(kColumnCopyTo, AnsiToQString(texts.Column3));
    Memo2->SetText(texts.Memo2);
}

void TUpdateQVWin::ButtExitClick()
{
    close();
}

void TUpdateQVWin::Button1Click()
{
    const std::string program = InstallDir + "\\Quorvan.exe";
    ShellExecuteA(nullptr, "open", program.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
