// Bounds how long the window's thread may wait for a server that has stopped answering.
#pragma once

#include "db/FbApi.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

namespace db {

/// How long calls on one attachment may go without an answer from the server.
struct WatchLimits
{
    /// Any call: the server has said nothing for this long.
    std::chrono::milliseconds silence{std::chrono::seconds(30)};
    /// A statement that may wait for a row held by someone else. nullopt: it may wait
    /// for ever, so the server is asked on a connection of its own whether it is still
    /// there before the call is cut off.
    std::optional<std::chrono::milliseconds> lockWait = std::chrono::seconds(30);
};

/// Watches one attachment from a thread of its own. While a call on the attachment is
/// in progress (a Call is alive), the thread waits; once the server has been silent
/// for longer than the limits allow, it aborts the attachment's connection with
/// IAttachment::cancelOperation(fb_cancel_abort), which makes the blocked call fail at
/// once. That is all it ever does to the attachment: every other call stays on the
/// caller's thread. An aborted attachment is useless afterwards (abandoned()).
class Watchdog
{
public:
    /// Tells whether the server still answers other connections; run on the watchdog's
    /// thread, and must itself be bounded.
    using Probe = std::function<bool()>;

    /// Holds its own reference to `attachment`, so that a late abort never reaches a
    /// released interface.
    Watchdog(Firebird::IAttachment* attachment, WatchLimits limits, Probe probe = {});
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    enum class Wait
    {
        Answer,     // the server answers as soon as it has done the work
        MayWaitLock // an update or delete that may wait for another's row lock
    };

    /// Marks one call in progress for its lifetime. Calls may nest.
    class Call
    {
    public:
        Call(Watchdog* watchdog, Wait wait);
        ~Call();
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;

    private:
        Watchdog* m_watchdog;
        Wait m_wait;
    };

    Call call(Wait wait = Wait::Answer) { return Call(this, wait); }
    /// The server has just answered (a row, a blob segment): silence starts anew. Cheap
    /// enough to call for every row.
    void answered();
    /// Whether the connection was aborted.
    bool abandoned() const { return m_abandoned.load(); }
    const WatchLimits& limits() const { return m_limits; }

private:
    using Clock = std::chrono::steady_clock;

    void enter(Wait wait);
    void leave(Wait wait);
    void run(std::stop_token stop);
    /// The limit in force now, or nullopt when only the probe may decide.
    std::optional<std::chrono::milliseconds> currentLimit() const;

    const WatchLimits m_limits;
    const Probe m_probe;
    fb::Ref<Firebird::IAttachment> m_attachment;
    std::atomic<Clock::rep> m_lastAnswer{0};
    std::atomic<bool> m_abandoned{false};
    std::mutex m_lock;
    std::condition_variable_any m_wake;
    int m_calls = 0;       // guarded by m_lock
    int m_lockWaits = 0;   // guarded by m_lock
    std::jthread m_thread; // last: stops and joins before the members above go
};

} // namespace db
