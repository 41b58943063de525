// Modal message boxes in the program's look: its caption and a single OK button.
#pragma once

#include <QMessageBox>
#include <QString>

/// Gives `box` the program's look: caption, icon, `text` as plain text, a single OK button.
void prepareMessageBox(QMessageBox& box, QMessageBox::Icon icon, const QString& text);

/// Shows `text` with the given icon and waits until the operator closes the box.
void showMessageBox(QMessageBox::Icon icon, const QString& text);

/// Shows an informational `text` without an icon and waits until it is closed.
void showMessage(const QString& text);

/// Asks `text` with OK and Cancel; true when the operator chose OK.
bool askConfirmation(const QString& text);
