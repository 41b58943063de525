// Answers the window's modal boxes during a test and records what they said.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <vector>

namespace testsupport {

struct SeenBox
{
    QMessageBox::Icon icon;
    QString title;
    QString text;
    int buttonCount;
    QString windowState; // what the snapshot function said while the box was up
};

/// While alive, every QMessageBox that becomes the active modal widget is recorded and
/// closed with its default button (OK), as an operator would.
class BoxWatcher : public QObject
{
    Q_OBJECT
public:
    explicit BoxWatcher(std::function<QString()> snapshot = {});

    const std::vector<SeenBox>& boxes() const { return m_boxes; }
    QStringList texts() const;
    void clear() { m_boxes.clear(); }
    /// The error boxes' texts only.
    QStringList errors() const;

private:
    void poll();

    std::function<QString()> m_snapshot;
    std::vector<SeenBox> m_boxes;
    QTimer m_timer;
};

} // namespace testsupport
