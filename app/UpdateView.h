// The updater's window as its logic sees it: every control by its name,
// with the properties the logic reads and writes and the clicks as events.
// Texts are the updater's own bytes (the ANSI code page, GBK for Chinese);
// the bases below keep them exactly, and each view only converts them for
// display. The Qt dialog and the native Windows dialog implement it; no
// toolkit appears on this side.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// What every control has: a caption and whether it takes clicks or shows.
class TViewControl {
public:
    virtual ~TViewControl() = default;
    const std::string& Caption() const { return m_Caption; }
    void SetCaption(const std::string& text);
    bool Enabled() const { return m_Enabled; }
    void SetEnabled(bool enabled);
    bool Visible() const { return m_Visible; }
    void SetVisible(bool visible);

protected:
    // The view shows the new state; called after the base has changed it.
    virtual void ShowCaption() = 0;
    virtual void ShowEnabled() = 0;
    virtual void ShowVisible() = 0;

private:
    std::string m_Caption;
    bool m_Enabled = true;
    bool m_Visible = true;
};

using TViewLabel = TViewControl;

class TViewButton : public TViewControl {
public:
    std::function<void(TViewButton& sender)> OnClick;
    // A click as the user makes it: nothing while disabled or hidden. The
    // view calls it for the user's clicks.
    void Click();
};

class TViewRadioButton : public TViewControl {
public:
    std::function<void(TViewRadioButton& sender)> OnClick;
    // Checking one unchecks the others of its group (the view's business).
    virtual bool Checked() const = 0;
    virtual void SetChecked(bool checked) = 0;
    // The user's click: checks it, then raises OnClick.
    void Click();
};

// A memo's text with each of its line breaks (CR LF, LF CR, a lone CR or
// LF) written as `lineBreak`, the one a toolkit's edit control shows.
std::string WithLineBreaks(const std::string& text, const std::string& lineBreak);

// A read-only multi-line text box that keeps the bytes it was given, line
// breaks included (CR LF, LF CR and a lone CR or LF each break a line).
class TViewMemo {
public:
    virtual ~TViewMemo() = default;
    const std::string& Text() const { return m_Text; }
    void SetText(const std::string& text);
    // Appends one line (ended by CR LF) and keeps it in view.
    void Add(const std::string& line);
    void Clear();
    // The lines as shown, without the empty one after a final line break.
    std::vector<std::string> Lines() const;

protected:
    // The view shows Text() whole from its top, or appends `added` (which
    // may be empty) to what it shows and brings the end into view.
    virtual void ShowText() = 0;
    virtual void ShowAdded(const std::string& added) = 0;

private:
    std::string m_Text;
};

// The release's files: rows of three cells with a check box each.
class TViewFileList {
public:
    enum { kColumnFiles, kColumnStatus, kColumnCopyTo, kColumnCount };
    virtual ~TViewFileList() = default;

    int RowCount() const { return static_cast<int>(m_Rows.size()); }
    // Appends a row, its check box ticked.
    void AddRow(const std::string& file, const std::string& status, const std::string& copyTo);
    void Clear();
    const std::string& Cell(int row, int column) const;
    void SetCell(int row, int column, const std::string& text);
    // The user ticks and unticks the boxes; the view holds their state.
    virtual bool Checked(int row) const = 0;
    virtual void SetChecked(int row, bool checked) = 0;
    const std::string& ColumnCaption(int column) const { return m_Columns.at(static_cast<std::size_t>(column)); }
    void SetColumnCaption(int column, const std::string& text);

protected:
    virtual void ShowAddedRow(int row) = 0;  // ticked
    virtual void ShowCleared() = 0;
    virtual void ShowCell(int row, int column) = 0;
    virtual void ShowColumnCaption(int column) = 0;

private:
    std::vector<std::vector<std::string>> m_Rows;
    std::vector<std::string> m_Columns = std::vector<std::string>(kColumnCount);
};

// The window: its controls, owned by the view, and what happens to it.
// The logic gives every control its caption and state, and the window its
// title, when it takes the view; a view brings only the look.
class TUpdateView {
public:
    virtual ~TUpdateView() = default;

    TViewButton* ButtNext = nullptr;
    TViewButton* ButtExit = nullptr;
    TViewLabel* DownPrecent = nullptr;
    TViewButton* ButtAbort = nullptr;
    TViewButton* ButtUpdate = nullptr;
    TViewMemo* UpdateMemo = nullptr;
    TViewLabel* LabelOnlineUpdate = nullptr;
    TViewFileList* FilesList = nullptr;
    TViewRadioButton* UpdateEng = nullptr;
    TViewRadioButton* UpdateChs = nullptr;
    TViewRadioButton* Server1 = nullptr;
    TViewRadioButton* Server2 = nullptr;
    TViewButton* Button1 = nullptr;
    TViewMemo* Memo2 = nullptr;

    // The window's title bar.
    virtual std::string Caption() const = 0;
    virtual void SetCaption(const std::string& text) = 0;
    // Closes the window, asking OnCloseQuery first; the program ends with it.
    virtual void Close() = 0;

    // Raised when the window is first shown.
    std::function<void(TUpdateView& sender)> OnShow;
    // Asked before the window closes by any means; false keeps it open.
    std::function<bool(TUpdateView& sender)> OnCloseQuery;
};
