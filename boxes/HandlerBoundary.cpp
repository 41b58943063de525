// Where a failure in the window's code is caught and shown to the operator.
#include "boxes/HandlerBoundary.h"

#include <QThread>
#include <cstdio>

void reportError(std::exception_ptr error) noexcept
{
    try {
        showErrorBox(error);
    } catch (const std::exception& e) {
        // The box itself could not be made (out of memory): the log is all that is left.
        std::fprintf(stderr, "tarnwick-logout: error box failed: %s\n", e.what());
    }
}

bool GuardedApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        std::exception_ptr error = std::current_exception();
        if (QThread::currentThread() == thread()) {
            showErrorBoxLater(error);
        } else {
            QMetaObject::invokeMethod(
                this, [error] { showErrorBoxLater(error); }, Qt::QueuedConnection);
        }
        return false;
    }
}
