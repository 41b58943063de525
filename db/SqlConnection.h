// The connection component: stored settings, a parameter list and one attachment.
#pragma once

#include "db/ConnectionParams.h"

#include <QObject>
#include <QString>
#include <memory>
#include <optional>

namespace db {

class Attachment;
struct TransactionOptions;

/// How long opening may take, and how long the server may stay silent on any later
/// call, in seconds (see WatchLimits).
struct ConnectionTimeouts
{
    int connectSeconds = 15;
    int serverSeconds = 30;

    /// The entries "ConnectTimeout" and "ServerTimeout"; a missing, unreadable or
    /// non-positive value keeps the default.
    static ConnectionTimeouts fromParams(const ConnectionParams& params);
};

/// Settings that identify the driver and shape opening, as the window stores them.
struct ConnectionSettings
{
    QString connectionName;
    QString driverName = QStringLiteral("Firebird");
    bool loginPrompt = false;
    bool loadParamsOnConnect = false;
    bool keepConnection = true;
    ConnectionParams params;
};

/// A named database connection. It is closed or open; open means it holds one
/// attachment made from its parameter list at the moment of opening. Statements on
/// it listen to closing() and close themselves first.
class SqlConnection : public QObject
{
    Q_OBJECT
public:
    explicit SqlConnection(const QString& componentName, ConnectionSettings settings = {},
                           QObject* parent = nullptr);
    ~SqlConnection() override;

    const QString& connectionName() const { return m_settings.connectionName; }
    void setConnectionName(const QString& name) { m_settings.connectionName = name; }
    const QString& driverName() const { return m_settings.driverName; }
    bool loginPrompt() const { return m_settings.loginPrompt; }
    void setLoginPrompt(bool on) { m_settings.loginPrompt = on; }
    bool loadParamsOnConnect() const { return m_settings.loadParamsOnConnect; }
    void setLoadParamsOnConnect(bool on) { m_settings.loadParamsOnConnect = on; }
    bool keepConnection() const { return m_settings.keepConnection; }

    ConnectionParams& params() { return m_settings.params; }
    const ConnectionParams& params() const { return m_settings.params; }

    /// Replaces the whole parameter list by the entries of the section named by
    /// connectionName() in `file`. Throws db::Error when the file is missing or
    /// unreadable; the list is then left empty.
    void loadParamsFromIniFile(const QString& file);

    bool connected() const { return m_attachment != nullptr; }
    /// Opening an open connection and closing a closed one do nothing. Opening
    /// throws db::Error with fbclient's text when the attachment fails.
    void setConnected(bool on);
    void open() { setConnected(true); }
    void close() { setConnected(false); }

    /// The open attachment; opens the connection first when it is closed. An open
    /// attachment is pinged first: one found lost is dropped and made anew, so that the
    /// first action after a server restart works. One whose server did not answer the
    /// ping in time is dropped too, but the error is thrown: trying to attach to that
    /// server at once would only keep the window waiting longer.
    Attachment& attachment();
    TransactionOptions transactionOptions() const;

    /// Called by users of the attachment when fbclient reported `gdsCode`: a lost
    /// attachment (also one the watchdog cut off) is dropped, so that the next use
    /// attaches anew instead of failing for the rest of the run. That attaches with
    /// the parameters the lost attachment was made with, not with the list as it is
    /// now: a connection never moves to another database by itself. Only close()
    /// lets the next opening take the parameter list as it stands.
    void noteFailure(long gdsCode);

    /// Bounds for the connection's attachments from now on, in place of the ones its
    /// parameter list gives (for a connection whose list does not come from the profile).
    void setTimeouts(const ConnectionTimeouts& timeouts) { m_timeouts = timeouts; }

signals:
    /// Emitted before the attachment ends, while it is still usable.
    void closing();

private:
    void drop();

    ConnectionSettings m_settings;
    std::optional<ConnectionTimeouts> m_timeouts;
    /// The parameters the current (or lost) attachment was made with.
    ConnectionParams m_openedWith;
    /// Set while the attachment is lost: the next opening re-attaches with these.
    std::optional<ConnectionParams> m_reattachWith;
    std::unique_ptr<Attachment> m_attachment;
};

} // namespace db
