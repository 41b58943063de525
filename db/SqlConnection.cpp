// The connection component: stored settings, a parameter list and one attachment.
#include "db/SqlConnection.h"

#include "db/Attachment.h"
#include "db/ProfileReader.h"

namespace db {

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
    if (on == connected())
        return;
    if (on) {
        if (m_settings.driverName.compare(QLatin1String("Firebird"), Qt::CaseInsensitive) != 0)
            throw Error(QStringLiteral("Unknown driver: %1").arg(m_settings.driverName));
        m_attachment = std::make_unique<Attachment>(
            Attachment::attach(AttachOptions::fromParams(m_settings.params)));
        return;
    }
    emit closing();
    const std::unique_ptr<Attachment> ending = std::move(m_attachment);
    try {
        ending->detach();
    } catch (const Error& e) {
        // An attachment the server has already dropped is closed all the same.
        if (!fb::isLostAttachment(e.gdsCode()))
            throw;
    }
}

Attachment& SqlConnection::attachment()
{
    if (m_attachment) {
        // Without this, each connection would learn of a restart only by failing one
        // action, and a logout could commit and then fail on the list's old attachment.
        try {
            m_attachment->ping();
        } catch (const Error& e) {
            noteFailure(e.gdsCode());
            if (m_attachment)
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
    if (m_attachment && fb::isLostAttachment(gdsCode)) {
        emit closing();
        m_attachment.reset();
    }
}

} // namespace db
