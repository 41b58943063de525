// Where a failure in the window's code is caught and shown to the operator, so that no
// exception unwinds through Qt's frames and none ends the program.
//
// Two lines of defence. Every handler the window connects runs behind runGuarded, which
// catches at the handler and shows the error box. Code that Qt calls outside any handler
// (a paint, a model read by a view or by the accessibility bridge) is caught by
// GuardedApplication at the event that led to it, and its error is shown once that event
// has returned. While an error box is up, every further error, from either line, is
// folded into that box (see ErrorBox.h): none opens a second box, none terminates.
#pragma once

#include "boxes/ErrorBox.h"

#include <QApplication>
#include <QObject>
#include <exception>
#include <utility>

/// Shows `error` in the error box; anything failing on the way is written to the log.
/// Never throws.
void reportError(std::exception_ptr error) noexcept;

/// Runs `action`; any exception it raises ends in an error box (or in the one already on
/// screen) instead of unwinding into the Qt frames that called us.
template <class Action> void runGuarded(Action&& action) noexcept
{
    try {
        std::forward<Action>(action)();
    } catch (...) {
        reportError(std::current_exception());
    }
}

/// Connects `signal` of `sender` to `handler` of `receiver`, which receives the sender the
/// way every handler of a window does. The connection ends with the receiver.
template <class Sender, class Signal, class Receiver>
void connectHandler(Sender* sender, Signal signal, Receiver* receiver,
                    void (Receiver::*handler)(QObject*))
{
    QObject::connect(sender, signal, receiver, [sender, receiver, handler] {
        runGuarded([&] { (receiver->*handler)(sender); });
    });
}

/// The application object of the program: an event whose handling throws ends at the
/// event, not in the event loop; the error is shown with showErrorBoxLater. Errors of
/// events handled on another thread are handed to the GUI thread first.
class GuardedApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override;
};
