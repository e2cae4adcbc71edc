#pragma once
// The texts of the window's edits as the user typed them (or the bench last
// wrote them). The window forwards every edit as it is typed; operations read
// these and the settings, never the widgets.
#include "bench/control.h"

#include <QString>
#include <array>
#include <mutex>

class TypedTexts {
public:
    QString text(Control c) const
    {
        std::lock_guard lock(mutex_);
        return texts_[static_cast<std::size_t>(c)];
    }
    void set(Control c, const QString& text)
    {
        std::lock_guard lock(mutex_);
        texts_[static_cast<std::size_t>(c)] = text;
    }

private:
    mutable std::mutex mutex_;
    std::array<QString, kControlCount> texts_;
};
