// Tells the start-up launcher (tw-bench startup) when a window has been painted for
// the first time, then ends the program.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>
#include <chrono>
#include <cstdio>

namespace bench {

/// Watches `window` for its first paint; once that paint has finished, prints the
/// moment on the system-wide monotonic clock (steady_clock) and quits the event loop.
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
                    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now().time_since_epoch());
                    std::printf("painted_ns=%lld\n", static_cast<long long>(now.count()));
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
