// The single place where a window handler's failure is caught and shown to the operator.
#pragma once

#include "app/ErrorBox.h"

#include <QObject>
#include <exception>
#include <utility>

/// Runs `action`; any exception it raises ends in an error box instead of unwinding into
/// the Qt frames that called us. noexcept: should showing the box itself fail, terminating
/// is better than unwinding through Qt.
template <class Action> void runGuarded(Action&& action) noexcept
{
    try {
        std::forward<Action>(action)();
    } catch (...) {
        showErrorBox(std::current_exception());
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
