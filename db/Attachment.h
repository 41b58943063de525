// One attachment to a Firebird database and the transactions run on it.
#pragma once

#include "db/ConnectionParams.h"
#include "db/FbApi.h"
#include "db/TextCodec.h"
#include "db/Watchdog.h"

#include <QString>
#include <memory>
#include <optional>

namespace db {

/// What an attachment is made of, read from a connection's parameter list with the
/// driver's defaults filled in.
struct AttachOptions
{
    QString database = QStringLiteral("database.gdb");
    QString user = QStringLiteral("sysdba");
    QString password = QStringLiteral("plumbtide");
    QString role;                             // none unless the profile names a real one
    QString charset = QStringLiteral("UTF8"); // connection character set
    int dialect = 3;
    /// Seconds an attach may take before it fails (remote servers only).
    int connectTimeoutSeconds = 15;
    /// Seconds any later call may go without an answer from the server before its
    /// connection is cut; see WatchLimits.
    int serverTimeoutSeconds = 30;

    static AttachOptions fromParams(const ConnectionParams& params);
};

/// How each statement's transaction behaves, from the same parameter list.
struct TransactionOptions
{
    enum class Isolation
    {
        ReadCommitted,
        RepeatableRead
    };
    Isolation isolation = Isolation::ReadCommitted;
    bool waitOnLocks = true;
    /// Seconds a statement waits for a row locked by someone else before it fails;
    /// nullopt waits for ever. Bounded by default so that a forgotten transaction
    /// elsewhere can never freeze the window for good.
    std::optional<int> lockTimeoutSeconds = 10;

    static TransactionOptions fromParams(const ConnectionParams& params);
};

/// What the watchdog of an attachment allows: `attach.serverTimeoutSeconds` of silence,
/// and for statements that may wait on a row lock, the lock wait plus a margin (or, when
/// locks are waited for without end, as long as the server still answers elsewhere).
WatchLimits watchLimits(const AttachOptions& attach, const TransactionOptions& transactions);

class Transaction;

/// Owns an IAttachment. Destroying it detaches quietly; detach() reports errors.
class Attachment
{
public:
    /// Attaches as the options say. A database path without a host attaches through
    /// the embedded engine. Throws db::Error with fbclient's text. Every later call is
    /// watched with `limits` (by default the options' server timeout).
    static Attachment attach(const AttachOptions& options);
    static Attachment attach(const AttachOptions& options, const WatchLimits& limits);

    Attachment(Attachment&&) noexcept = default;
    Attachment& operator=(Attachment&&) noexcept = default;
    ~Attachment();

    /// Ends the attachment. The handle is gone afterwards even when the server is:
    /// a lost attachment cannot be detached, only forgotten.
    void detach();

    /// Deletes the database and ends the attachment (for tools and tests).
    void dropDatabase();

    /// One round trip to the server; throws db::Error with fbclient's text when the
    /// attachment is gone (server stopped or restarted, database shut down).
    void ping();

    /// Marks a call on get() in progress for the watchdog, for the returned object's
    /// lifetime: a server silent for too long makes the call fail instead of hanging.
    Watchdog::Call watch(Watchdog::Wait wait = Watchdog::Wait::Answer) const
    {
        return m_watchdog->call(wait);
    }
    /// The server has just answered within a long call (a row, a blob segment).
    void answered() const { m_watchdog->answered(); }
    /// Whether the watchdog cut the connection: nothing works on it any more.
    bool abandoned() const { return m_watchdog->abandoned(); }
    const std::shared_ptr<Watchdog>& watchdog() const { return m_watchdog; }

    Firebird::IAttachment* get() const { return m_handle.get(); }
    const TextCodec& codec() const { return m_codec; }
    int dialect() const { return m_dialect; }

private:
    Attachment(fb::Ref<Firebird::IAttachment> handle, const AttachOptions& options,
               const WatchLimits& limits);

    fb::Ref<Firebird::IAttachment> m_handle;
    std::shared_ptr<Watchdog> m_watchdog;
    TextCodec m_codec;
    int m_dialect = 3;
};

/// Owns an ITransaction. Destroying it without commit() rolls back and swallows the
/// outcome, so a failed statement never leaves a transaction open.
class Transaction
{
public:
    Transaction(Attachment& attachment, const TransactionOptions& options);
    Transaction(Transaction&&) noexcept = default;
    Transaction& operator=(Transaction&&) noexcept = default;
    ~Transaction();

    void commit();
    void rollback();
    bool isActive() const { return m_handle != nullptr; }
    Firebird::ITransaction* get() const { return m_handle.get(); }
    /// As Attachment::watch(), for code that holds only the transaction.
    Watchdog::Call watch() const { return m_watchdog->call(); }

private:
    std::shared_ptr<Watchdog> m_watchdog; // outlives the handle: declared first
    fb::Ref<Firebird::ITransaction> m_handle;
};

} // namespace db
