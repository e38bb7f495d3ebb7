#include "app/AnsiWidgets.h"

#include "platform/AnsiText.h"

#include <QByteArray>
#include <QScrollBar>
#include <QTextCursor>
#include <QTreeWidgetItem>

namespace {

bool IsBreak(char c)
{
    return c == '\r' || c == '\n';
}

// Length of the line break at `pos`: 2 for a CR LF or LF CR pair, 1 for a
// lone CR or LF, 0 for no break.
std::size_t BreakLength(const std::string& text, std::size_t pos)
{
    if (!IsBreak(text[pos]))
        return 0;
    if (pos + 1 < text.size() && IsBreak(text[pos + 1]) && text[pos + 1] != text[pos])
        return 2;
    return 1;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    bool open = false;  // a line has started that no break has ended yet
    for (std::size_t pos = 0; pos < text.size();) {
        if (const std::size_t length = BreakLength(text, pos)) {
            lines.push_back(line);
            line.clear();
            open = false;
            pos += length;
        } else {
            line += text[pos++];
            open = true;
        }
    }
    if (open)
        lines.push_back(line);
    return lines;
}

// Cells keep their bytes here, as the display text cannot give them back.
constexpr int kAnsiRole = Qt::UserRole + 1;

}  // namespace

QString AnsiToQString(const std::string& ansi)
{
    return QString::fromStdString(AnsiToUtf8(ansi));
}

QString EditControlText(const std::string& ansi)
{
    std::string shown;
    shown.reserve(ansi.size());
    for (std::size_t pos = 0; pos < ansi.size();) {
        if (const std::size_t length = BreakLength(ansi, pos)) {
            shown += '\n';
            pos += length;
        } else {
            shown += ansi[pos++];
        }
    }
    // GBK trail bytes never fall on CR or LF, so breaks survive conversion.
    return AnsiToQString(shown);
}

TAnsiMemo::TAnsiMemo(QWidget* parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
}

void TAnsiMemo::SetText(const std::string& text)
{
    m_Text = text;
    setPlainText(EditControlText(m_Text));
}

void TAnsiMemo::Add(const std::string& line)
{
    std::string added;
    if (!m_Text.empty() && !IsBreak(m_Text.back()))
        added = "\r\n";
    added += line;
    added += "\r\n";

    // A lone break at the end may pair with one at the start of the addition.
    const bool mayJoin = !m_Text.empty() && IsBreak(m_Text.back()) && IsBreak(added.front()) &&
                         m_Text.back() != added.front();
    m_Text += added;
    if (mayJoin) {
        setPlainText(EditControlText(m_Text));
    } else {
        QTextCursor end(document());
        end.movePosition(QTextCursor::End);
        end.insertText(EditControlText(added));
    }
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TAnsiMemo::Clear()
{
    m_Text.clear();
    clear();
}

std::vector<std::string> TAnsiMemo::Lines() const
{
    return SplitLines(m_Text);
}

void SetItemText(QTreeWidgetItem& item, int column, const std::string& ansi)
{
    item.setData(column, kAnsiRole, QByteArray::fromStdString(ansi));
    item.setText(column, AnsiToQString(ansi));
}

std::string ItemText(const QTreeWidgetItem& item, int column)
{
    const QVariant bytes = item.data(column, kAnsiRole);
    if (bytes.isValid())
        return bytes.toByteArray().toStdString();
    return Utf8ToAnsi(item.text(column).toStdString());
}
