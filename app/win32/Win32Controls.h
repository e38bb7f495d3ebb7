// The view's controls on Win32 child windows: each keeps its state in the
// toolkit-free base and shows it through the wide-character API.
#pragma once

#include "app/UpdateView.h"
#include "platform/Win32.h"

#include <string>

// Caption, enabled and visible of one child window.
template <typename Base>
class TWin32Shown : public Base {
public:
    explicit TWin32Shown(HWND handle) : m_Handle(handle) {}
    HWND Handle() const { return m_Handle; }

protected:
    void ShowCaption() override;
    void ShowEnabled() override { EnableWindow(m_Handle, this->Enabled()); }
    void ShowVisible() override { ShowWindow(m_Handle, this->Visible() ? SW_SHOW : SW_HIDE); }

private:
    HWND m_Handle;
};

using TWin32Label = TWin32Shown<TViewControl>;
using TWin32Button = TWin32Shown<TViewButton>;

class TWin32RadioButton : public TWin32Shown<TViewRadioButton> {
public:
    // `first` and `last`: the identifiers that bound its group.
    TWin32RadioButton(HWND handle, int first, int last);
    bool Checked() const override;
    void SetChecked(bool checked) override;

private:
    int m_First;
    int m_Last;
};

// What an edit control shows for the memo's bytes: every break the memo
// knows (CR LF, LF CR, a lone CR or LF) as the CR LF the control breaks at.
std::wstring EditControlText(const std::string& ansi);

class TWin32Memo : public TViewMemo {
public:
    explicit TWin32Memo(HWND handle);
    HWND Handle() const { return m_Handle; }

protected:
    void ShowText() override;
    void ShowAdded(const std::string& added) override;

private:
    HWND m_Handle;
};

// A report-style list view with a check box per row.
class TWin32FileList : public TViewFileList {
public:
    TWin32FileList(HWND handle, const int (&widths)[kColumnCount]);
    HWND Handle() const { return m_Handle; }
    bool Checked(int row) const override;
    void SetChecked(int row, bool checked) override;

protected:
    void ShowAddedRow(int row) override;
    void ShowCleared() override;
    void ShowCell(int row, int column) override;
    void ShowColumnCaption(int column) override;

private:
    HWND m_Handle;
};
