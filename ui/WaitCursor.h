// The hourglass while the window waits on the database.
#pragma once

#include <QGuiApplication>

/// Shows the wait cursor for its lifetime; the normal cursor returns on every way out,
/// before any error box is shown.
class WaitCursor
{
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};
