// The native dialog read back through the Win32 API: what the user sees and
// presses, whatever the logic behind it.
#include "app/UUpdateQVWin.h"
#include "app/win32/DialogControls.h"
#include "app/win32/Win32UpdateView.h"
#include "win32/support/DialogLayout.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Dialog : public ::testing::Test {
protected:
    Dialog() { view.Show(); }

    HWND Control(int id) const { return GetDlgItem(view.Handle(), id); }

    std::wstring Text(int id) const
    {
        std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(Control(id))), L'\0');
        GetWindowTextW(Control(id), text.data(), static_cast<int>(text.size()) + 1);
        return text;
    }

    std::wstring ListText(int message, int index, int subItem, bool column = false) const
    {
        wchar_t buffer[256] = {};
        LVITEMW item{};
        item.iSubItem = subItem;
        item.pszText = buffer;
        item.cchTextMax = 256;
        LVCOLUMNW header{};
        header.mask = LVCF_TEXT;
        header.pszText = buffer;
        header.cchTextMax = 256;
        SendMessageW(Control(kIdFilesList), message, index,
                     column ? reinterpret_cast<LPARAM>(&header) : reinterpret_cast<LPARAM>(&item));
        return buffer;
    }

    TWin32UpdateView view;
};

}  // namespace

TEST_F(Dialog, EveryControlAtItsPlaceInTabOrder)
{
    for (const TExpectedPlace& control : kDialogLayout)
        EXPECT_EQ(PlaceInDialog(view.Handle(), control.Id), control.Place) << "control " << control.Id;

    const SIZE client = ClientSize(view.Handle());
    EXPECT_EQ(std::make_pair(client.cx, client.cy), std::make_pair(639L, 356L));
    const LONG_PTR style = GetWindowLongPtrW(view.Handle(), GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), WS_CAPTION);
    RECT frame{}, screen{};
    GetWindowRect(view.Handle(), &frame);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &screen, 0);
    EXPECT_LE(std::abs((frame.left + frame.right) - (screen.left + screen.right)), 2);
    EXPECT_LE(std::abs((frame.top + frame.bottom) - (screen.top + screen.bottom)), 2);

    const HWND list = Control(kIdFilesList);
    EXPECT_EQ(GetWindowLongPtrW(list, GWL_STYLE) & (LVS_TYPEMASK | LVS_NOSORTHEADER), LVS_REPORT | LVS_NOSORTHEADER);
    EXPECT_TRUE(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_CHECKBOXES);
    for (int column = 0; const int width : {130, 110, 70})
        EXPECT_EQ(SendMessageW(list, LVM_GETCOLUMNWIDTH, column++, 0), width);
    for (const int memo : {kIdUpdateMemo, kIdMemo2})
        EXPECT_TRUE(GetWindowLongPtrW(Control(memo), GWL_STYLE) & ES_READONLY);

    // Tab goes through the children in their order among siblings; of a
    // group of radio buttons, to the checked one.
    std::vector<int> tabOrder;
    for (HWND child = GetWindow(view.Handle(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if ((GetWindowLongPtrW(child, GWL_STYLE) & WS_TABSTOP) ||
            (SendMessageW(child, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON))
            tabOrder.push_back(GetDlgCtrlID(child));
    EXPECT_EQ(tabOrder, (std::vector<int>{kIdButtNext, kIdButtExit, kIdButtAbort, kIdButtUpdate, kIdUpdateMemo,
                                          kIdFilesList, kIdUpdateEng, kIdUpdateChs, kIdServer1, kIdServer2,
                                          kIdButton1, kIdMemo2}));
}

TEST_F(Dialog, StartsAsTheLogicDrawsIt)
{
    const TUpdateQVWin logic(view);
    const std::pair<int, std::wstring> captions[] = {
        {kIdButtNext, L"&Check"},  {kIdButtExit, L"&Exit"},          {kIdButtAbort, L"&Abort"},
        {kIdButtUpdate, L"Online &Update"},  {kIdUpdateEng, L"English"}, {kIdUpdateChs, L"\u4e2d\u6587\u7b80\u4f53"},
        {kIdServer1, L"Server 1"}, {kIdServer2, L"Server 2"},       {kIdButton1, L"Run Quorvan"},
        {kIdLabelOnlineUpdate, L"Quorvan Online Update "},          {kIdDownPrecent, L""},
    };
    for (const auto& [id, caption] : captions)
        EXPECT_EQ(Text(id), caption) << "control " << id;
    for (int column = 0; const wchar_t* caption : {L"Files", L"Status", L"Copy to ..."})
        EXPECT_EQ(ListText(LVM_GETCOLUMNW, column++, 0, true), caption);
    EXPECT_EQ(Text(kIdMemo2), L"The QVUpdate will allow you automatically update your \r\nQuorvan\r\n\r\n"
                              L"Please make sure you are connected to the Internet before \r\nyou run the update.\r\n");

    const std::pair<int, bool> enabled[] = {
        {kIdButtNext, true}, {kIdButtExit, true}, {kIdButtAbort, false}, {kIdButtUpdate, false}};
    for (const auto& [id, on] : enabled)
        EXPECT_EQ(IsWindowEnabled(Control(id)) != FALSE, on) << "control " << id;
    EXPECT_FALSE(IsWindowVisible(Control(kIdButton1)));
    EXPECT_TRUE(view.UpdateEng->Checked() && view.Server1->Checked());
    EXPECT_FALSE(view.UpdateChs->Checked() || view.Server2->Checked());
}

TEST_F(Dialog, ShowsCodePage936BytesAsTheirCharacters)
{
    view.ButtNext->SetCaption("\xbc\xec\xb2\xe9");  // 检查
    view.SetCaption("\xd4\xda\xcf\xdf\xb8\xfc\xd0\xc2");  // 在线更新
    view.FilesList->SetColumnCaption(TViewFileList::kColumnCopyTo, "\xbf\xbd\xb1\xb4\xb5\xbd ...");
    view.FilesList->AddRow("\xce\xc4\xbc\xfe.exe", "0", "bin\\");
    view.FilesList->SetCell(0, TViewFileList::kColumnStatus, "\xd7\xb4\xcc\xac");
    // LF CR pairs and lone breaks alike are lines of their own in the edit control.
    view.Memo2->SetText("a\n\r\n\rb\nc\rd");
    view.UpdateMemo->Add("\xd6\xd0");

    EXPECT_EQ(Text(kIdButtNext), L"\u68c0\u67e5");
    wchar_t title[64] = {};
    GetWindowTextW(view.Handle(), title, 64);
    EXPECT_EQ(std::wstring(title), L"\u5728\u7ebf\u66f4\u65b0");
    EXPECT_EQ(ListText(LVM_GETCOLUMNW, TViewFileList::kColumnCopyTo, 0, true), L"\u62f7\u8d1d\u5230 ...");
    EXPECT_EQ(ListText(LVM_GETITEMTEXTW, 0, TViewFileList::kColumnFiles), L"\u6587\u4ef6.exe");
    EXPECT_EQ(ListText(LVM_GETITEMTEXTW, 0, TViewFileList::kColumnStatus), L"\u72b6\u6001");
    EXPECT_EQ(ListText(LVM_GETITEMTEXTW, 0, TViewFileList::kColumnCopyTo), L"bin\\");
    EXPECT_EQ(Text(kIdMemo2), L"a\r\n\r\nb\r\nc\r\nd");
    EXPECT_EQ(Text(kIdUpdateMemo), L"\u4e2d\r\n");
}

TEST_F(Dialog, ClicksKeysAndCheckBoxesReachTheLogic)
{
    view.ButtNext->SetCaption("&Check");
    view.ButtAbort->SetEnabled(false);
    view.UpdateChs->SetCaption("\xd6\xd0\xce\xc4\xbc\xf2\xcc\xe5");
    std::vector<std::string> clicks;
    view.ButtNext->OnClick = [&](TViewButton& sender) { clicks.push_back(sender.Caption()); };
    view.ButtAbort->OnClick = view.ButtNext->OnClick;
    view.UpdateChs->OnClick = [&](TViewRadioButton& sender) { clicks.push_back(sender.Caption()); };

    SendMessageW(Control(kIdButtAbort), BM_CLICK, 0, 0);  // disabled
    SendMessageW(Control(kIdButtNext), BM_CLICK, 0, 0);
    SendMessageW(Control(kIdUpdateChs), BM_CLICK, 0, 0);
    MSG altC{Control(kIdButtExit), WM_SYSCHAR, 'c', 0, 0, {}};  // the "&Check" shortcut
    EXPECT_TRUE(IsDialogMessageW(view.Handle(), &altC));
    EXPECT_EQ(clicks, (std::vector<std::string>{"&Check", "\xd6\xd0\xce\xc4\xbc\xf2\xcc\xe5", "&Check"}));
    EXPECT_TRUE(view.UpdateChs->Checked());
    EXPECT_FALSE(view.UpdateEng->Checked());

    view.FilesList->AddRow("a.exe", "0", "");
    view.FilesList->AddRow("b.dll", "0", "");
    ListView_SetCheckState(Control(kIdFilesList), 1, FALSE);  // the user unticks a row
    EXPECT_TRUE(view.FilesList->Checked(0));
    EXPECT_FALSE(view.FilesList->Checked(1));

    // Closing asks first; the window goes, and the program with it, only when allowed.
    bool allow = false;
    view.OnCloseQuery = [&](TUpdateView&) { return allow; };
    SendMessageW(view.Handle(), WM_CLOSE, 0, 0);
    EXPECT_NE(view.Handle(), nullptr);
    allow = true;
    view.Close();
    EXPECT_EQ(view.Handle(), nullptr);
    MSG quit{};
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}
