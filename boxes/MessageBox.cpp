// Modal message boxes in the program's look: its caption and a single OK button.
#include "boxes/MessageBox.h"

#include "boxes/ApplicationTitle.h"

#include <QApplication>

void prepareMessageBox(QMessageBox& box, QMessageBox::Icon icon, const QString& text)
{
    box.setIcon(icon);
    box.setWindowTitle(applicationTitle());
    // Texts come from the database and the operator; never let them be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
}

void showMessageBox(QMessageBox::Icon icon, const QString& text)
{
    QMessageBox box(QApplication::activeWindow());
    prepareMessageBox(box, icon, text);
    box.exec();
}

void showMessage(const QString& text)
{
    showMessageBox(QMessageBox::NoIcon, text);
}

bool askConfirmation(const QString& text)
{
    QMessageBox box(QApplication::activeWindow());
    prepareMessageBox(box, QMessageBox::Question, text);
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}
