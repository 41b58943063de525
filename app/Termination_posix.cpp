// Ending on SIGTERM and SIGINT: the one file that knows about POSIX signals.
//
// fbclient puts its own handler on both signals at the first attachment. Left alone, it
// shuts its engine down and lets the process live on: a window whose every database
// action fails. Here the program keeps the decision. fbclient is told not to shut down
// for a signal, and the signal only wakes the event loop through a socket pair, so the
// window and its attachments are taken down in order on the main thread.
#include "app/Termination.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ibase.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

/// The end the handler writes to; the other end belongs to the notifier.
int g_wakeFd = -1;
volatile std::sig_atomic_t g_requested = 0;

void onTerminationSignal(int signalNumber)
{
    const int savedErrno = errno;
    if (g_requested != 0) {
        // The first request is still unserved, so the main thread is stuck somewhere: the
        // default action ends the process once this handler returns.
        struct sigaction fallback = {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        sigaction(signalNumber, &fallback, nullptr);
        raise(signalNumber);
    } else {
        g_requested = 1;
        const char byte = char(signalNumber);
        // Non-blocking: should the pair ever be full, a wake-up is pending anyway.
        [[maybe_unused]] const ssize_t written = write(g_wakeFd, &byte, 1);
    }
    errno = savedErrno;
}

/// fbclient asks before it shuts down; a signal is the program's business, not its own.
/// Any other reason (the process exiting, the library unloading) goes ahead.
int refuseShutdownForSignals(const int reason, const int /*mask*/, void* /*arg*/)
{
    return reason == fb_shutrsn_signal ? 1 : 0;
}

} // namespace

void quitOnTerminationRequest(QCoreApplication& app)
{
    ISC_STATUS_ARRAY status = {};
    if (fb_shutdown_callback(status, refuseShutdownForSignals, fb_shut_confirmation, nullptr) !=
        0) {
        qWarning("fbclient refused the shutdown callback; a signal may leave the "
                 "database unusable until the program is restarted");
    }

    int fds[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
        qWarning("no socket pair for termination signals: %s", strerror(errno));
        return;
    }
    g_wakeFd = fds[0];

    auto* notifier = new QSocketNotifier(fds[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier] {
        char bytes[16];
        while (read(int(notifier->socket()), bytes, sizeof bytes) > 0) {
        }
        notifier->setEnabled(false);
        // exit() rather than quit(): it ends every running event loop, so a message box
        // that is open returns at once instead of waiting for the operator.
        QCoreApplication::exit(0);
    });

    // SA_RESTART: the signal must not make a blocking call elsewhere fail with EINTR.
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : {SIGTERM, SIGINT})
        sigaction(signalNumber, &action, nullptr);
}
