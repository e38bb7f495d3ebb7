#include "app/qt/AnsiWidgets.h"

#include "platform/AnsiText.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTreeWidget>

QString AnsiToQString(const std::string& ansi)
{
    return QString::fromStdString(AnsiToUtf8(ansi));
}

QString EditControlText(const std::string& ansi)
{
    // GBK trail bytes never fall on CR or LF, so breaks survive conversion.
    return AnsiToQString(WithLineBreaks(ansi, "\n"));
}

template <typename TBase>
void TQtControl<TBase>::ShowEnabled()
{
    m_Widget.setEnabled(this->Enabled());
}

template <typename TBase>
void TQtControl<TBase>::ShowVisible()
{
    m_Widget.setVisible(this->Visible());
}

template class TQtControl<TViewButton>;
template class TQtControl<TViewLabel>;
template class TQtControl<TViewRadioButton>;

TQtButton::TQtButton(QAbstractButton& button) : TQtControl(button)
{
    QObject::connect(&button, &QAbstractButton::clicked, [this] { Click(); });
}

void TQtButton::ShowCaption()
{
    static_cast<QAbstractButton&>(Widget()).setText(AnsiToQString(Caption()));
}

TQtLabel::TQtLabel(QLabel& label) : TQtControl(label) {}

void TQtLabel::ShowCaption()
{
    static_cast<QLabel&>(Widget()).setText(AnsiToQString(Caption()));
}

TQtRadioButton::TQtRadioButton(QRadioButton& button) : TQtControl(button)
{
    // Qt has checked it already; Click checks it again, which changes nothing.
    QObject::connect(&button, &QAbstractButton::clicked, [this] { Click(); });
}

bool TQtRadioButton::Checked() const
{
    return static_cast<QRadioButton&>(Widget()).isChecked();
}

void TQtRadioButton::SetChecked(bool checked)
{
    static_cast<QRadioButton&>(Widget()).setChecked(checked);
}

void TQtRadioButton::ShowCaption()
{
    static_cast<QRadioButton&>(Widget()).setText(AnsiToQString(Caption()));
}

TQtMemo::TQtMemo(QPlainTextEdit& edit) : m_Edit(edit)
{
    m_Edit.setReadOnly(true);
    m_Edit.setLineWrapMode(QPlainTextEdit::WidgetWidth);
}

void TQtMemo::ShowText()
{
    m_Edit.setPlainText(EditControlText(Text()));
}

void TQtMemo::ShowAdded(const std::string& added)
{
    QTextCursor end(m_Edit.document());
    end.movePosition(QTextCursor::End);
    end.insertText(EditControlText(added));
    m_Edit.verticalScrollBar()->setValue(m_Edit.verticalScrollBar()->maximum());
}

TQtFileList::TQtFileList(QTreeWidget& tree) : m_Tree(tree) {}

bool TQtFileList::Checked(int row) const
{
    const QTreeWidgetItem* item = m_Tree.topLevelItem(row);
    return item && item->checkState(kColumnFiles) == Qt::Checked;
}

void TQtFileList::SetChecked(int row, bool checked)
{
    if (QTreeWidgetItem* item = m_Tree.topLevelItem(row))
        item->setCheckState(kColumnFiles, checked ? Qt::Checked : Qt::Unchecked);
}

void TQtFileList::ShowAddedRow(int row)
{
    auto* item = new QTreeWidgetItem(&m_Tree);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    for (int column = 0; column < kColumnCount; ++column)
        item->setText(column, AnsiToQString(Cell(row, column)));
    item->setCheckState(kColumnFiles, Qt::Checked);
}

void TQtFileList::ShowCleared()
{
    m_Tree.clear();
}

void TQtFileList::ShowCell(int row, int column)
{
    if (QTreeWidgetItem* item = m_Tree.topLevelItem(row))
        item->setText(column, AnsiToQString(Cell(row, column)));
}

void TQtFileList::ShowColumnCaption(int column)
{
    m_Tree.headerItem()->setText(column, AnsiToQString(ColumnCaption(column)));
}
