// One attachment to a Firebird database and the transactions run on it.
#pragma once

#include "db/ConnectionParams.h"
#include "db/FbApi.h"
#include "db/TextCodec.h"

#include <QString>
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

class Transaction;

/// Owns an IAttachment. Destroying it detaches quietly; detach() reports errors.
class Attachment
{
public:
    /// Attaches as the options say. A database path without a host attaches through
    /// the embedded engine. Throws db::Error with fbclient's text.
    static Attachment attach(const AttachOptions& options);

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

    Firebird::IAttachment* get() const { return m_handle.get(); }
    const TextCodec& codec() const { return m_codec; }
    int dialect() const { return m_dialect; }

private:
    Attachment(fb::Ref<Firebird::IAttachment> handle, const AttachOptions& options);

    fb::Ref<Firebird::IAttachment> m_handle;
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

private:
    fb::Ref<Firebird::ITransaction> m_handle;
};

} // namespace db
