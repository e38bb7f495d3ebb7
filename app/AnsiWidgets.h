// Widgets that hold the updater's byte texts (ANSI code page, GBK here) and
// convert them only for display.
#pragma once

#include <QPlainTextEdit>
#include <QString>

#include <string>
#include <vector>

class QTreeWidgetItem;

QString AnsiToQString(const std::string& ansi);

// What a multi-line edit control shows for these bytes: CR LF, LF CR and a
// lone CR or LF each break the line.
QString EditControlText(const std::string& ansi);

// A read-only multi-line text box whose text is kept as the bytes it was
// given, line breaks included.
class TAnsiMemo : public QPlainTextEdit {
public:
    explicit TAnsiMemo(QWidget* parent);

    const std::string& Text() const { return m_Text; }
    void SetText(const std::string& text);
    // Appends one line (ended by CR LF) and keeps it in view.
    void Add(const std::string& line);
    void Clear();
    // The lines as shown, without the empty one after a final line break.
    std::vector<std::string> Lines() const;

private:
    std::string m_Text;
};

// A list row's cell as bytes; the display shows their conversion. Cells
// written through SetItemText give their exact bytes back.
void SetItemText(QTreeWidgetItem& item, int column, const std::string& ansi);
std::string ItemText(const QTreeWidgetItem& item, int column);
