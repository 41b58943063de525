// How a failure is told to the operator: the text derived from an error and its modal box.
#pragma once

#include <QString>
#include <exception>

/// The text the error box shows for `error`: the innermost non-empty message of the error
/// chain, closed with "." unless it already ends in punctuation sorting at or before ".".
QString errorBoxText(std::exception_ptr error);

/// Shows errorBoxText(error) in a modal critical box and waits until it is closed.
void showErrorBox(std::exception_ptr error);
