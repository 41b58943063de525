// Modal message boxes in the program's look: its caption and a single OK button.
#include "app/MessageBox.h"

#include "app/Application.h"

#include <QApplication>

void showMessageBox(QMessageBox::Icon icon, const QString& text)
{
    QMessageBox box(QApplication::activeWindow());
    box.setIcon(icon);
    box.setWindowTitle(applicationTitle());
    // Texts come from the database and the operator; never let them be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

void showMessage(const QString& text)
{
    showMessageBox(QMessageBox::NoIcon, text);
}

bool askConfirmation(const QString& text)
{
    QMessageBox box(QApplication::activeWindow());
    box.setIcon(QMessageBox::Question);
    box.setWindowTitle(applicationTitle());
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}
