// The connection component: stored settings, a parameter list and one attachment.
#include "db/SqlConnection.h"

#include "db/Attachment.h"
#include "db/ProfileReader.h"

namespace db {

ConnectionTimeouts ConnectionTimeouts::fromParams(const ConnectionParams& params)
{
    const AttachOptions options = AttachOptions::fromParams(params);
    return {options.connectTimeoutSeconds, options.serverTimeoutSeconds};
}

SqlConnection::SqlConnection(const QString& componentName, ConnectionSettings settings,
                             QObject* parent)
    : QObject(parent), m_settings(std::move(settings))
{
    setObjectName(componentName);
}

SqlConnection::~SqlConnection()
{
    // Statements may still be listening; they must let go of their handles before
    // the attachment goes.
    if (m_attachment)
        emit closing();
}

void SqlConnection::loadParamsFromIniFile(const QString& file)
{
    m_settings.params.clear();
    m_settings.params = ConnectionParams(readProfileSection(file, m_settings.connectionName));
}

void SqlConnection::setConnected(bool on)
{
    // Closing on purpose, even a connection already lost, lets the next opening take
    // the parameter list as it stands: a new connect reads the profile anew.
    if (!on)
        m_reattachWith.reset();
    if (on == connected())
        return;
    if (on) {
        if (m_settings.driverName.compare(QLatin1String("Firebird"), Qt::CaseInsensitive) != 0)
            throw Error(QStringLiteral("Unknown driver: %1").arg(m_settings.driverName));
        const ConnectionParams params = m_reattachWith ? *m_reattachWith : m_settings.params;
        AttachOptions options = AttachOptions::fromParams(params);
        if (m_timeouts) {
            options.connectTimeoutSeconds = m_timeouts->connectSeconds;
            options.serverTimeoutSeconds = m_timeouts->serverSeconds;
        }
        m_attachment = std::make_unique<Attachment>(Attachment::attach(
            options, watchLimits(options, TransactionOptions::fromParams(params))));
        m_openedWith = params;
        m_reattachWith.reset();
        return;
    }
    emit closing();
    const std::unique_ptr<Attachment> ending = std::move(m_attachment);
    try {
        ending->detach();
    } catch (const Error& e) {
        // An attachment the server has already dropped (or that the watchdog cut off)
        // is closed all the same.
        if (!fb::isLostAttachment(e.gdsCode()) && !ending->abandoned())
            throw;
    }
}

void SqlConnection::drop()
{
    emit closing();
    m_attachment.reset();
    m_reattachWith = m_openedWith;
}

Attachment& SqlConnection::attachment()
{
    // Cut off during an earlier action whose error was not passed on here.
    if (m_attachment && m_attachment->abandoned())
        drop();
    if (m_attachment) {
        // Without this, each connection would learn of a restart only by failing one
        // action, and a logout could commit and then fail on the list's old attachment.
        try {
            m_attachment->ping();
        } catch (const Error& e) {
            const bool silent = m_attachment->abandoned();
            noteFailure(e.gdsCode());
            if (m_attachment || silent)
                throw;
        }
    }
    open();
    return *m_attachment;
}

TransactionOptions SqlConnection::transactionOptions() const
{
    return TransactionOptions::fromParams(m_settings.params);
}

void SqlConnection::noteFailure(long gdsCode)
{
    if (m_attachment && (fb::isLostAttachment(gdsCode) || m_attachment->abandoned()))
        drop();
}

} // namespace db
