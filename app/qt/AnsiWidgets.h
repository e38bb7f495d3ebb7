// The view's controls on Qt widgets: the bases keep the updater's byte
// texts (ANSI code page, GBK here), the widgets show their conversion.
#pragma once

#include "app/UpdateView.h"

#include <QString>

#include <string>

class QAbstractButton;
class QLabel;
class QPlainTextEdit;
class QRadioButton;
class QTreeWidget;
class QWidget;

QString AnsiToQString(const std::string& ansi);

// What a multi-line edit control shows for these bytes: CR LF, LF CR and a
// lone CR or LF each break the line.
QString EditControlText(const std::string& ansi);

// Shows a control's caption, enabled and visible states on a widget.
template <typename TBase>
class TQtControl : public TBase {
public:
    explicit TQtControl(QWidget& widget) : m_Widget(widget) {}
    QWidget& Widget() const { return m_Widget; }

protected:
    void ShowEnabled() override;
    void ShowVisible() override;

private:
    QWidget& m_Widget;
};

class TQtButton : public TQtControl<TViewButton> {
public:
    explicit TQtButton(QAbstractButton& button);

protected:
    void ShowCaption() override;
};

class TQtLabel : public TQtControl<TViewLabel> {
public:
    explicit TQtLabel(QLabel& label);

protected:
    void ShowCaption() override;
};

class TQtRadioButton : public TQtControl<TViewRadioButton> {
public:
    explicit TQtRadioButton(QRadioButton& button);
    bool Checked() const override;
    void SetChecked(bool checked) override;

protected:
    void ShowCaption() override;
};

// A read-only multi-line text box.
class TQtMemo : public TViewMemo {
public:
    explicit TQtMemo(QPlainTextEdit& edit);
    QPlainTextEdit& Widget() const { return m_Edit; }

protected:
    void ShowText() override;
    void ShowAdded(const std::string& added) override;

private:
    QPlainTextEdit& m_Edit;
};

// Rows with a check box in their first column.
class TQtFileList : public TViewFileList {
public:
    explicit TQtFileList(QTreeWidget& tree);
    QTreeWidget& Widget() const { return m_Tree; }
    bool Checked(int row) const override;
    void SetChecked(int row, bool checked) override;

protected:
    void ShowAddedRow(int row) override;
    void ShowCleared() override;
    void ShowCell(int row, int column) override;
    void ShowColumnCaption(int column) override;

private:
    QTreeWidget& m_Tree;
};
