// The updater's window on Qt: the dialog of 639 x 356 with its controls
// where the design puts them. Each widget's object name is its control's.
#pragma once

#include "app/UpdateView.h"

#include <QWidget>

#include <memory>
#include <vector>

class QCloseEvent;
class QShowEvent;

class TQtUpdateView : public QWidget, public TUpdateView {
public:
    TQtUpdateView();
    ~TQtUpdateView() override;

    std::string Caption() const override;
    void SetCaption(const std::string& text) override;
    void Close() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateComponents();
    void SetTabOrder();
    void CentreOnScreen();
    template <typename T>
    T* Own(std::unique_ptr<T> control);

    std::string m_Caption;
    std::vector<std::unique_ptr<TViewControl>> m_Controls;
    std::unique_ptr<TViewMemo> m_UpdateMemo;
    std::unique_ptr<TViewMemo> m_Memo2;
    std::unique_ptr<TViewFileList> m_FilesList;
};
