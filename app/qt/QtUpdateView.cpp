#include "app/qt/QtUpdateView.h"

#include "app/qt/AnsiWidgets.h"

#include <QCloseEvent>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QTextDocument>
#include <QTreeWidget>

namespace {

template <typename T>
T* Place(QWidget* parent, const char* name, int left, int top, int width, int height)
{
    T* widget = new T(parent);
    widget->setObjectName(name);
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

QPlainTextEdit* PlaceMemo(QWidget* parent, const char* name, int left, int top, int width, int height)
{
    auto* memo = Place<QPlainTextEdit>(parent, name, left, top, width, height);
    memo->setFocusPolicy(Qt::StrongFocus);
    memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // An edit control's narrow inner margin, so lines break where they did.
    memo->document()->setDocumentMargin(2);
    UseButtonFaceBackground(memo);
    return memo;
}

}  // namespace

TQtUpdateView::TQtUpdateView() : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setFixedSize(639, 356);
    setAutoFillBackground(true);
    UseButtonFaceBackground(this);

    // "MS Sans Serif" where it exists; otherwise the nearest sans face.
    QFont face;
    face.setFamilies({"MS Sans Serif", "Sans Serif"});
    face.setStyleHint(QFont::SansSerif);
    face.setPixelSize(11);
    setFont(face);

    CreateComponents();
    SetTabOrder();
}

TQtUpdateView::~TQtUpdateView() = default;

template <typename T>
T* TQtUpdateView::Own(std::unique_ptr<T> control)
{
    T* const raw = control.get();
    m_Controls.push_back(std::move(control));
    return raw;
}

void TQtUpdateView::CreateComponents()
{
    ButtNext = Own(std::make_unique<TQtButton>(*Place<QPushButton>(this, "ButtNext", 35, 323, 81, 22)));
    ButtExit = Own(std::make_unique<TQtButton>(*Place<QPushButton>(this, "ButtExit", 203, 323, 81, 22)));
    DownPrecent = Own(std::make_unique<TQtLabel>(*Place<QLabel>(this, "DownPrecent", 336, 279, 3, 13)));
    ButtAbort = Own(std::make_unique<TQtButton>(*Place<QPushButton>(this, "ButtAbort", 119, 323, 81, 22)));
    ButtUpdate = Own(std::make_unique<TQtButton>(*Place<QPushButton>(this, "ButtUpdate", 317, 323, 316, 22)));

    m_UpdateMemo = std::make_unique<TQtMemo>(*PlaceMemo(this, "UpdateMemo", 8, 96, 297, 217));
    UpdateMemo = m_UpdateMemo.get();

    auto* heading = Place<QLabel>(this, "LabelOnlineUpdate", 324, 15, 260, 24);
    QFont bold = font();
    bold.setBold(true);
    bold.setPixelSize(19);
    heading->setFont(bold);
    LabelOnlineUpdate = Own(std::make_unique<TQtLabel>(*heading));

    auto* list = Place<QTreeWidget>(this, "FilesList", 317, 152, 316, 161);
    list->setColumnCount(TViewFileList::kColumnCount);
    list->setColumnWidth(TViewFileList::kColumnFiles, 130);
    list->setColumnWidth(TViewFileList::kColumnStatus, 110);
    list->setColumnWidth(TViewFileList::kColumnCopyTo, 70);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setAllColumnsShowFocus(true);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSortingEnabled(false);
    list->header()->setSectionsClickable(false);
    list->header()->setSectionsMovable(false);
    list->header()->setStretchLastSection(false);
    m_FilesList = std::make_unique<TQtFileList>(*list);
    FilesList = m_FilesList.get();

    auto* groupBox1 = Place<QGroupBox>(this, "GroupBox1", 9, 6, 297, 40);
    UpdateEng = Own(std::make_unique<TQtRadioButton>(*Place<QRadioButton>(groupBox1, "UpdateEng", 40, 13, 72, 17)));
    UpdateChs = Own(std::make_unique<TQtRadioButton>(*Place<QRadioButton>(groupBox1, "UpdateChs", 160, 13, 72, 17)));

    auto* groupBox2 = Place<QGroupBox>(this, "GroupBox2", 8, 48, 297, 42);
    Server1 = Own(std::make_unique<TQtRadioButton>(*Place<QRadioButton>(groupBox2, "Server1", 41, 15, 97, 17)));
    Server2 = Own(std::make_unique<TQtRadioButton>(*Place<QRadioButton>(groupBox2, "Server2", 161, 15, 97, 17)));

    Button1 = Own(std::make_unique<TQtButton>(*Place<QPushButton>(this, "Button1", 296, 323, 153, 21)));

    auto* panel1 = Place<QFrame>(this, "Panel1", 320, 48, 313, 89);
    panel1->setFrameShape(QFrame::NoFrame);
    QPlainTextEdit* memo2 = PlaceMemo(panel1, "Memo2", 0, 0, 313, 89);
    memo2->setFrameShape(QFrame::NoFrame);
    memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_Memo2 = std::make_unique<TQtMemo>(*memo2);
    Memo2 = m_Memo2.get();
}

void TQtUpdateView::SetTabOrder()
{
    const char* const order[] = {"ButtNext",  "ButtExit",  "ButtAbort", "ButtUpdate", "UpdateMemo", "FilesList",
                                 "UpdateEng", "UpdateChs", "Server1",   "Server2",    "Button1",    "Memo2"};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(findChild<QWidget*>(order[i - 1]), findChild<QWidget*>(order[i]));
}

void TQtUpdateView::CentreOnScreen()
{
    if (QScreen* display = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(display->availableGeometry().center());
        move(frame.topLeft());
    }
}

std::string TQtUpdateView::Caption() const
{
    return m_Caption;
}

void TQtUpdateView::SetCaption(const std::string& text)
{
    m_Caption = text;
    setWindowTitle(AnsiToQString(text));
}

void TQtUpdateView::Close()
{
    close();
}

void TQtUpdateView::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        if (OnShow)
            OnShow(*this);
        CentreOnScreen();
    }
    QWidget::showEvent(event);
}

void TQtUpdateView::closeEvent(QCloseEvent* event)
{
    if (OnCloseQuery && !OnCloseQuery(*this)) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}
