// One attachment to a Firebird database and the transactions run on it.
#include "db/Attachment.h"

#include <array>
#include <utility>
#include <vector>

namespace db {
namespace {

QString paramOr(const ConnectionParams& params, const char* name, const QString& fallback)
{
    const QString value = params.value(QString::fromLatin1(name));
    return value.isEmpty() ? fallback : value;
}

bool isTrue(const QString& text)
{
    return text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0;
}

/// The first on-disk structure that only engines of version 4 and later open. Asking
/// the structure's version rather than the engine's text keeps it one number, and it
/// is the same answer: each engine opens only its own major structure.
constexpr int kFirstOdsWithNewTypes = 13;

/// The major on-disk structure version of the attached database: one info request,
/// answered by any server, remote or embedded. 0 when the answer holds no such item.
int odsMajorVersion(Firebird::IAttachment* attachment)
{
    fb::Status status;
    const unsigned char items[] = {isc_info_ods_version, isc_info_end};
    std::array<unsigned char, 32> buffer{};
    attachment->getInfo(&status, sizeof items, items, unsigned(buffer.size()), buffer.data());
    // Clusters of one tag, a two-byte length and the value, up to isc_info_end.
    for (std::size_t at = 0; at + 3 <= buffer.size();) {
        const unsigned char tag = buffer[at];
        if (tag == isc_info_end || tag == isc_info_truncated || tag == isc_info_error)
            break;
        const auto length =
            short(isc_portable_integer(buffer.data() + at + 1, 2)); // little-endian on the wire
        const std::size_t value = at + 3;
        if (length < 0 || value + std::size_t(length) > buffer.size())
            break;
        if (tag == isc_info_ods_version)
            return int(isc_portable_integer(buffer.data() + value, length));
        at = value + std::size_t(length);
    }
    return 0;
}

/// Engines of version 4 and later know column types that fbclient 3 cannot describe:
/// a statement reading one fails as a whole with "Data type unknown". These session
/// settings make the server send them as text, exact to the last digit, the time zone
/// included, which every client reads alike; so builds on fbclient 3 and on fbclient 4
/// show the same. Older engines know neither the types nor the statement.
constexpr const char* kNewTypesAsText[] = {
    "set bind of int128 to varchar", "set bind of decfloat to varchar",
    "set bind of time zone to varchar", // both TIME and TIMESTAMP WITH TIME ZONE
};

void bindNewTypesAsText(Firebird::IAttachment* attachment, unsigned dialect)
{
    fb::Status status;
    for (const char* statement : kNewTypesAsText) {
        // Session settings need no transaction.
        attachment->execute(&status, nullptr, 0, statement, dialect, nullptr, nullptr, nullptr,
                            nullptr);
    }
}

/// A whole number of seconds above zero, or the default: a bound cannot be switched off.
int secondsOr(const ConnectionParams& params, const char* name, int fallback)
{
    bool ok = false;
    const int seconds = params.value(QString::fromLatin1(name)).trimmed().toInt(&ok);
    return ok && seconds > 0 ? seconds : fallback;
}

void readTimeouts(const ConnectionParams& params, AttachOptions& options)
{
    options.connectTimeoutSeconds =
        secondsOr(params, "ConnectTimeout", options.connectTimeoutSeconds);
    options.serverTimeoutSeconds = secondsOr(params, "ServerTimeout", options.serverTimeoutSeconds);
}

/// Time the server needs past the lock timeout to notice it and answer: Firebird looks
/// at lock timeouts once a second, and a busy server is slower still.
constexpr std::chrono::seconds kLockTimeoutMargin{5};

/// Without this the attach waits for Firebird's own connect timeout (minutes) on a
/// server that accepts the connection but never answers.
void addConnectTimeout(Firebird::IXpbBuilder* dpb, fb::Status& status, const AttachOptions& options)
{
    dpb->insertInt(&status, isc_dpb_connect_timeout, options.connectTimeoutSeconds);
}

/// Whether the server still lets a new attachment in and answers it, within the connect
/// timeout. Runs on the watchdog's thread with an attachment of its own.
bool serverAnswers(const AttachOptions& options)
{
    try {
        Attachment probe = Attachment::attach(options);
        probe.ping();
        probe.detach();
        return true;
    } catch (const Error&) {
        return false;
    }
}

} // namespace

WatchLimits watchLimits(const AttachOptions& attach, const TransactionOptions& transactions)
{
    WatchLimits limits;
    limits.silence = std::chrono::seconds(attach.serverTimeoutSeconds);
    if (!transactions.waitOnLocks)
        limits.lockWait = limits.silence;
    else if (transactions.lockTimeoutSeconds)
        limits.lockWait =
            std::chrono::seconds(*transactions.lockTimeoutSeconds) + kLockTimeoutMargin;
    else
        limits.lockWait = std::nullopt;
    return limits;
}

AttachOptions AttachOptions::fromParams(const ConnectionParams& params)
{
    AttachOptions options;
    options.database = paramOr(params, "Database", options.database);
    options.user = paramOr(params, "User_Name", options.user);
    options.password = paramOr(params, "Password", options.password);
    // "RoleName" is the placeholder the driver ships with, not a role anyone grants.
    const QString role = params.value(QStringLiteral("Role"));
    if (role.compare(QLatin1String("RoleName"), Qt::CaseInsensitive) != 0)
        options.role = role;
    options.charset = paramOr(params, "ServerCharSet", options.charset);
    bool ok = false;
    const int dialect = params.value(QStringLiteral("SQLDialect")).toInt(&ok);
    if (ok && (dialect == 1 || dialect == 3))
        options.dialect = dialect;
    readTimeouts(params, options);
    return options;
}

TransactionOptions TransactionOptions::fromParams(const ConnectionParams& params)
{
    TransactionOptions options;
    const QString isolation = params.value(QStringLiteral("IsolationLevel"));
    if (isolation.compare(QLatin1String("RepeatableRead"), Qt::CaseInsensitive) == 0 ||
        isolation.compare(QLatin1String("Snapshot"), Qt::CaseInsensitive) == 0)
        options.isolation = Isolation::RepeatableRead;
    const QString wait = params.value(QStringLiteral("WaitOnLocks"));
    if (!wait.isEmpty())
        options.waitOnLocks = isTrue(wait);
    bool ok = false;
    const int timeout = params.value(QStringLiteral("LockTimeout")).toInt(&ok);
    if (ok)
        options.lockTimeoutSeconds = timeout > 0 ? std::optional<int>(timeout) : std::nullopt;
    return options;
}

Attachment::Attachment(fb::Ref<Firebird::IAttachment> handle, const AttachOptions& options,
                       const WatchLimits& limits)
    : m_handle(std::move(handle)), m_codec(options.charset), m_dialect(options.dialect)
{
    Watchdog::Probe probe;
    if (!limits.lockWait)
        probe = [options] { return serverAnswers(options); };
    m_watchdog = std::make_shared<Watchdog>(m_handle.get(), limits, std::move(probe));
}

Attachment Attachment::attach(const AttachOptions& options)
{
    WatchLimits limits;
    limits.silence = std::chrono::seconds(options.serverTimeoutSeconds);
    limits.lockWait = limits.silence;
    return attach(options, limits);
}

Attachment Attachment::attach(const AttachOptions& options, const WatchLimits& limits)
{
    // fbclient takes these as C strings and would quietly use what comes before a NUL:
    // another database, or a password other than the one written down.
    const std::pair<const char*, const QString*> texts[] = {{"Database", &options.database},
                                                            {"User_Name", &options.user},
                                                            {"Password", &options.password},
                                                            {"Role", &options.role},
                                                            {"ServerCharSet", &options.charset}};
    for (const auto& [name, text] : texts) {
        if (text->contains(QChar(u'\0')))
            throw Error(QStringLiteral("接続パラメータ '%1' に NUL 文字が含まれています")
                            .arg(QLatin1String(name)));
    }
    return fb::guarded([&] {
        fb::Status status;
        fb::Owned<Firebird::IXpbBuilder> dpb(
            fb::util()->getXpbBuilder(&status, Firebird::IXpbBuilder::DPB, nullptr, 0));
        // Paths and names go as UTF-8 so that non-ASCII folders and users survive.
        dpb->insertTag(&status, isc_dpb_utf8_filename);
        dpb->insertString(&status, isc_dpb_user_name, options.user.toUtf8().constData());
        dpb->insertString(&status, isc_dpb_password, options.password.toUtf8().constData());
        dpb->insertString(&status, isc_dpb_lc_ctype, options.charset.toUtf8().constData());
        if (!options.role.isEmpty())
            dpb->insertString(&status, isc_dpb_sql_role_name, options.role.toUtf8().constData());
        dpb->insertInt(&status, isc_dpb_sql_dialect, options.dialect);
        addConnectTimeout(dpb.get(), status, options);

        fb::Ref<Firebird::IProvider> provider(fb::master()->getDispatcher());
        fb::Ref<Firebird::IAttachment> handle(
            provider->attachDatabase(&status, options.database.toUtf8().constData(),
                                     dpb->getBufferLength(&status), dpb->getBuffer(&status)));
        // From here on a failure detaches again through the owning wrapper.
        Attachment attachment(std::move(handle), options, limits);
        const auto watch = attachment.watch();
        if (odsMajorVersion(attachment.get()) >= kFirstOdsWithNewTypes)
            bindNewTypesAsText(attachment.get(), unsigned(options.dialect));
        return attachment;
    });
}

Attachment::~Attachment()
{
    // The watchdog holds a reference of its own and may outlive the handle.
    if (!m_handle)
        return;
    try {
        detach();
    } catch (const Error&) {
        // Nothing more can be done for an attachment that will not detach; its handle
        // has been let go by detach() already.
    }
}

void Attachment::detach()
{
    if (!m_handle)
        return;
    const auto watch = this->watch();
    fb::guarded([&] {
        fb::Status status;
        try {
            m_handle->detach(&status); // releases the interface on success
            (void)m_handle.release();
        } catch (...) {
            m_handle.reset();
            throw;
        }
    });
}

void Attachment::dropDatabase()
{
    const auto watch = this->watch();
    fb::guarded([&] {
        fb::Status status;
        m_handle->dropDatabase(&status); // releases the interface on success
        (void)m_handle.release();
    });
}

void Attachment::ping()
{
    const auto watch = this->watch();
    fb::guarded([&] {
        fb::Status status;
        m_handle->ping(&status);
    });
}

Transaction::Transaction(Attachment& attachment, const TransactionOptions& options)
    : m_watchdog(attachment.watchdog())
{
    std::vector<unsigned char> tpb{isc_tpb_version3, isc_tpb_write};
    if (options.isolation == TransactionOptions::Isolation::ReadCommitted) {
        tpb.push_back(isc_tpb_read_committed);
        tpb.push_back(isc_tpb_rec_version);
    } else {
        tpb.push_back(isc_tpb_concurrency);
    }
    tpb.push_back(options.waitOnLocks ? isc_tpb_wait : isc_tpb_nowait);
    if (options.waitOnLocks && options.lockTimeoutSeconds) {
        const int seconds = *options.lockTimeoutSeconds;
        tpb.push_back(isc_tpb_lock_timeout);
        tpb.push_back(4);
        for (int shift = 0; shift < 32; shift += 8)
            tpb.push_back(static_cast<unsigned char>((seconds >> shift) & 0xff));
    }
    const auto watch = attachment.watch();
    m_handle = fb::guarded([&] {
        fb::Status status;
        return fb::Ref<Firebird::ITransaction>(attachment.get()->startTransaction(
            &status, static_cast<unsigned>(tpb.size()), tpb.data()));
    });
}

Transaction::~Transaction()
{
    if (!m_handle)
        return;
    try {
        rollback();
    } catch (const Error&) {
        // The handle is gone either way; the server rolls back what it still holds.
    }
}

void Transaction::commit()
{
    const auto watch = this->watch();
    fb::guarded([&] {
        fb::Status status;
        m_handle->commit(&status); // releases the interface on success
        (void)m_handle.release();
    });
}

void Transaction::rollback()
{
    if (!m_handle)
        return;
    const auto watch = this->watch();
    fb::guarded([&] {
        fb::Status status;
        try {
            m_handle->rollback(&status);
            (void)m_handle.release();
        } catch (...) {
            m_handle.reset();
            throw;
        }
    });
}

} // namespace db
