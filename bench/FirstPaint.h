// Tells the start-up launcher (tw-bench startup) when a window has been painted for
// the first time, then ends the program.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>
#include <cstdio>
#include <ctime>

namespace bench {

/// Watches `window` for its first paint; once that paint has finished, prints the
/// moment on the system-wide monotonic clock and quits the event loop.
class FirstPaint : public QObject
{
public:
    explicit FirstPaint(QWidget* window) : QObject(window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            // Queued: runs after this paint and the flush to the window are done.
            QMetaObject::invokeMethod(
                this,
                [] {
                    timespec now{};
                    clock_gettime(CLOCK_MONOTONIC, &now);
                    std::printf("painted_ns=%lld\n", now.tv_sec * 1000000000LL + now.tv_nsec);
                    std::fflush(stdout);
                    QCoreApplication::quit();
                },
                Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_seen = false;
};

} // namespace bench
