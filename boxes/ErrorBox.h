// How a failure is told to the operator: the text derived from an error and its modal box.
//
// There is at most one error box on screen. An error that arrives while it is up (thrown
// by a repaint, an accessibility query or another event handled inside the box's own
// event loop) is folded into that box: its text is added on a line of its own, unless
// the box already says exactly that, and nothing else opens. So a fault that repeats on
// every repaint shows once, and the operator closes one box, not a cascade.
#pragma once

#include <QString>
#include <exception>

/// The text the error box shows for `error`: the innermost non-empty message of the error
/// chain, closed with "." unless it already ends in punctuation sorting at or before ".".
QString errorBoxText(std::exception_ptr error);

/// Shows errorBoxText(error) in a modal critical box and waits until it is closed. While
/// an error box is already on screen, adds the text to that box and returns at once.
/// An exception that escapes the box's event loop does not end the box: its text is
/// folded in and the box waits on.
void showErrorBox(std::exception_ptr error);

/// For an error caught where no modal loop may start (inside a paint, a model read, a
/// nested event): folds it into the error box on screen, or else shows it once control
/// is back in the event loop; errors arriving before then share that one box. Must be
/// called on the thread of the application object.
void showErrorBoxLater(std::exception_ptr error) noexcept;
