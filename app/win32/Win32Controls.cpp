#include "app/win32/Win32Controls.h"

#include "platform/win32/WideText.h"

#include <commctrl.h>

template <typename Base>
void TWin32Shown<Base>::ShowCaption()
{
    SetWindowTextW(m_Handle, AnsiToWide(this->Caption()).c_str());
}

template class TWin32Shown<TViewControl>;
template class TWin32Shown<TViewButton>;
template class TWin32Shown<TViewRadioButton>;

TWin32RadioButton::TWin32RadioButton(HWND handle, int first, int last)
    : TWin32Shown<TViewRadioButton>(handle), m_First(first), m_Last(last)
{
}

bool TWin32RadioButton::Checked() const
{
    return SendMessageW(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TWin32RadioButton::SetChecked(bool checked)
{
    if (checked)
        CheckRadioButton(GetParent(Handle()), m_First, m_Last, GetDlgCtrlID(Handle()));
    else
        SendMessageW(Handle(), BM_SETCHECK, BST_UNCHECKED, 0);
}

std::wstring EditControlText(const std::string& ansi)
{
    // No trail byte of a double-byte character is a CR or LF, so converting
    // after the breaks are replaced splits no character.
    return AnsiToWide(WithLineBreaks(ansi, "\r\n"));
}

TWin32Memo::TWin32Memo(HWND handle) : m_Handle(handle)
{
    SendMessageW(m_Handle, EM_SETLIMITTEXT, 0, 0);  // the log has no limit of its own
}

void TWin32Memo::ShowText()
{
    SetWindowTextW(m_Handle, EditControlText(Text()).c_str());
}

void TWin32Memo::ShowAdded(const std::string& added)
{
    const int end = GetWindowTextLengthW(m_Handle);
    SendMessageW(m_Handle, EM_SETSEL, end, end);
    SendMessageW(m_Handle, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(EditControlText(added).c_str()));
    SendMessageW(m_Handle, EM_SCROLLCARET, 0, 0);
}

TWin32FileList::TWin32FileList(HWND handle, const int (&widths)[kColumnCount]) : m_Handle(handle)
{
    SendMessageW(m_Handle, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT,
                 LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    for (int column = 0; column < kColumnCount; ++column) {
        LVCOLUMNW header{};
        header.mask = LVCF_WIDTH | LVCF_SUBITEM;
        header.cx = widths[column];
        header.iSubItem = column;
        SendMessageW(m_Handle, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&header));
    }
}

bool TWin32FileList::Checked(int row) const
{
    const LRESULT state = SendMessageW(m_Handle, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK);
    return (state & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
}

void TWin32FileList::SetChecked(int row, bool checked)
{
    LVITEMW item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    SendMessageW(m_Handle, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

void TWin32FileList::ShowAddedRow(int row)
{
    std::wstring file = AnsiToWide(Cell(row, kColumnFiles));
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = file.data();
    SendMessageW(m_Handle, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    ShowCell(row, kColumnStatus);
    ShowCell(row, kColumnCopyTo);
    SetChecked(row, true);
}

void TWin32FileList::ShowCleared()
{
    SendMessageW(m_Handle, LVM_DELETEALLITEMS, 0, 0);
}

void TWin32FileList::ShowCell(int row, int column)
{
    std::wstring text = AnsiToWide(Cell(row, column));
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text.data();
    SendMessageW(m_Handle, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

void TWin32FileList::ShowColumnCaption(int column)
{
    std::wstring text = AnsiToWide(ColumnCaption(column));
    LVCOLUMNW header{};
    header.mask = LVCF_TEXT;
    header.pszText = text.data();
    SendMessageW(m_Handle, LVM_SETCOLUMNW, column, reinterpret_cast<LPARAM>(&header));
}
