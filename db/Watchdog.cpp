// Bounds how long the window's thread may wait for a server that has stopped answering.
#include "db/Watchdog.h"

namespace db {

Watchdog::Watchdog(Firebird::IAttachment* attachment, WatchLimits limits, Probe probe)
    : m_limits(limits), m_probe(std::move(probe))
{
    attachment->addRef();
    m_attachment.reset(attachment);
    m_thread = std::jthread([this](std::stop_token stop) { run(std::move(stop)); });
}

Watchdog::~Watchdog()
{
    m_thread.request_stop();
    if (m_thread.joinable())
        m_thread.join();
}

Watchdog::Call::Call(Watchdog* watchdog, Wait wait) : m_watchdog(watchdog), m_wait(wait)
{
    m_watchdog->enter(m_wait);
}

Watchdog::Call::~Call()
{
    m_watchdog->leave(m_wait);
}

void Watchdog::answered()
{
    m_lastAnswer.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
}

void Watchdog::enter(Wait wait)
{
    {
        const std::lock_guard lock(m_lock);
        ++m_calls;
        if (wait == Wait::MayWaitLock)
            ++m_lockWaits;
        answered();
    }
    m_wake.notify_all();
}

void Watchdog::leave(Wait wait)
{
    {
        const std::lock_guard lock(m_lock);
        --m_calls;
        if (wait == Wait::MayWaitLock)
            --m_lockWaits;
    }
    m_wake.notify_all();
}

std::optional<std::chrono::milliseconds> Watchdog::currentLimit() const
{
    if (m_lockWaits == 0)
        return m_limits.silence;
    if (!m_limits.lockWait)
        return std::nullopt;
    return std::max(m_limits.silence, *m_limits.lockWait);
}

void Watchdog::run(std::stop_token stop)
{
    std::unique_lock lock(m_lock);
    while (!stop.stop_requested()) {
        if (m_calls == 0 || abandoned()) {
            m_wake.wait(lock, stop, [&] { return m_calls > 0 && !abandoned(); });
            continue;
        }
        const std::optional<std::chrono::milliseconds> limit = currentLimit();
        const int calls = m_calls;
        const int lockWaits = m_lockWaits;
        const Clock::time_point lastAnswer{Clock::duration(m_lastAnswer.load())};
        const Clock::time_point deadline = lastAnswer + limit.value_or(m_limits.silence);
        if (Clock::now() < deadline) {
            // Woken early by any call starting or ending, as that may change the limit.
            m_wake.wait_until(lock, stop, deadline,
                              [&] { return m_calls != calls || m_lockWaits != lockWaits; });
            continue;
        }
        if (!limit) {
            // Waiting for a lock for as long as it takes, as the profile asks, looks the
            // same as a silent server from here; a server that still lets a new
            // connection in is taken to be alive and only waiting.
            lock.unlock();
            const bool alive = m_probe && m_probe();
            lock.lock();
            if (alive) {
                answered();
                continue;
            }
            // The call may have ended, or a new one begun, while the probe ran.
            const Clock::time_point latest{Clock::duration(m_lastAnswer.load())};
            if (m_calls == 0 || Clock::now() < latest + m_limits.silence)
                continue;
        }
        try {
            fb::guarded([&] {
                fb::Status status;
                m_attachment->cancelOperation(&status, fb_cancel_abort);
            });
        } catch (const Error&) {
            // The attachment ended on its own meanwhile; nothing is waiting on it then.
        }
        m_abandoned = true;
    }
}

} // namespace db
