// Answers the window's modal boxes during a test and records what they said.
#include "BoxWatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>

namespace testsupport {

BoxWatcher::BoxWatcher(std::function<QString()> snapshot) : m_snapshot(std::move(snapshot))
{
    connect(&m_timer, &QTimer::timeout, this, &BoxWatcher::poll);
    m_timer.start(5);
}

void BoxWatcher::poll()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    m_boxes.push_back(SeenBox{box->icon(), box->windowTitle(), box->text(),
                              int(box->buttons().size()), m_snapshot ? m_snapshot() : QString()});
    QAbstractButton* button = box->defaultButton();
    if (!button && !box->buttons().isEmpty())
        button = box->buttons().front();
    button->click();
}

QStringList BoxWatcher::texts() const
{
    QStringList texts;
    for (const SeenBox& box : m_boxes)
        texts << box.text;
    return texts;
}

QStringList BoxWatcher::errors() const
{
    QStringList texts;
    for (const SeenBox& box : m_boxes) {
        if (box.icon == QMessageBox::Critical)
            texts << box.text;
    }
    return texts;
}

} // namespace testsupport
