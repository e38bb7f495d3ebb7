#include "app/UpdateView.h"

namespace {

bool IsBreak(char c)
{
    return c == '\r' || c == '\n';
}

// Length of the line break at `pos`: 2 for a CR LF or LF CR pair, 1 for a
// lone CR or LF, 0 for no break.
std::size_t LineBreakLength(const std::string& text, std::size_t pos)
{
    if (!IsBreak(text[pos]))
        return 0;
    if (pos + 1 < text.size() && IsBreak(text[pos + 1]) && text[pos + 1] != text[pos])
        return 2;
    return 1;
}

}  // namespace

std::string WithLineBreaks(const std::string& text, const std::string& lineBreak)
{
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        if (const std::size_t length = LineBreakLength(text, pos)) {
            shown += lineBreak;
            pos += length;
        } else {
            shown += text[pos++];
        }
    }
    return shown;
}

void TViewControl::SetCaption(const std::string& text)
{
    m_Caption = text;
    ShowCaption();
}

void TViewControl::SetEnabled(bool enabled)
{
    m_Enabled = enabled;
    ShowEnabled();
}

void TViewControl::SetVisible(bool visible)
{
    m_Visible = visible;
    ShowVisible();
}

void TViewButton::Click()
{
    if (Enabled() && Visible() && OnClick)
        OnClick(*this);
}

void TViewRadioButton::Click()
{
    if (!Enabled() || !Visible())
        return;
    SetChecked(true);
    if (OnClick)
        OnClick(*this);
}

void TViewMemo::SetText(const std::string& text)
{
    m_Text = text;
    ShowText();
}

void TViewMemo::Add(const std::string& line)
{
    std::string added;
    if (!m_Text.empty() && !IsBreak(m_Text.back()))
        added = "\r\n";
    added += line;
    added += "\r\n";
    // A lone break at the end may pair with one at the start of the addition.
    const bool mayJoin =
        !m_Text.empty() && IsBreak(m_Text.back()) && IsBreak(added.front()) && m_Text.back() != added.front();
    m_Text += added;
    if (mayJoin) {
        ShowText();
        ShowAdded("");  // the end back in view
    } else {
        ShowAdded(added);
    }
}

void TViewMemo::Clear()
{
    m_Text.clear();
    ShowText();
}

std::vector<std::string> TViewMemo::Lines() const
{
    std::vector<std::string> lines;
    std::string line;
    bool open = false;  // a line has started that no break has ended yet
    for (std::size_t pos = 0; pos < m_Text.size();) {
        if (const std::size_t length = LineBreakLength(m_Text, pos)) {
            lines.push_back(line);
            line.clear();
            open = false;
            pos += length;
        } else {
            line += m_Text[pos++];
            open = true;
        }
    }
    if (open)
        lines.push_back(line);
    return lines;
}

void TViewFileList::AddRow(const std::string& file, const std::string& status, const std::string& copyTo)
{
    m_Rows.push_back({file, status, copyTo});
    ShowAddedRow(RowCount() - 1);
}

void TViewFileList::Clear()
{
    m_Rows.clear();
    ShowCleared();
}

const std::string& TViewFileList::Cell(int row, int column) const
{
    return m_Rows.at(static_cast<std::size_t>(row)).at(static_cast<std::size_t>(column));
}

void TViewFileList::SetCell(int row, int column, const std::string& text)
{
    m_Rows.at(static_cast<std::size_t>(row)).at(static_cast<std::size_t>(column)) = text;
    ShowCell(row, column);
}

void TViewFileList::SetColumnCaption(int column, const std::string& text)
{
    m_Columns.at(static_cast<std::size_t>(column)) = text;
    ShowColumnCaption(column);
}
