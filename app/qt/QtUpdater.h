// The updater's window on Qt: the logic paired with a Qt view of its own,
// and how start-up runs it.
#pragma once

#include "app/StartUp.h"
#include "app/UUpdateQVWin.h"
#include "app/qt/QtUpdateView.h"

#include <memory>
#include <utility>

// Made before the logic that takes it, destroyed after.
struct TQtViewHolder {
    std::unique_ptr<TQtUpdateView> QtView = std::make_unique<TQtUpdateView>();
};

class TQtUpdater : private TQtViewHolder, public TUpdateQVWin {
public:
    // The arguments after the view's, as TUpdateQVWin takes them.
    template <typename... TArgs>
    explicit TQtUpdater(TArgs&&... args) : TUpdateQVWin(*QtView, std::forward<TArgs>(args)...)
    {
    }

    TQtUpdateView& Widget() const { return *QtView; }
};

// Makes a TQtUpdateView and runs the application's event loop with it shown.
TWindowRunner QtWindowRunner();
