// A Firebird server of a test's own, for tests that stop, crash, freeze or restart it;
// the server the test script runs is shared with the other tests.
#pragma once

#include "TestDatabase.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <sys/types.h>

namespace testsupport {

/// Started and stopped through scripts/fbserver. Restarts come back on the same port,
/// so open windows find it where they left it. Stopped (and thawed) when destroyed.
class PrivateServer
{
public:
    PrivateServer();
    ~PrivateServer();
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;

    /// Empty on success, else what went wrong.
    QString start();
    /// Orderly, as an administrator stops the service.
    void stop();
    /// As a crash: no chance to say goodbye to anyone.
    void crash();
    /// Empty on success, else why the server could not be brought back.
    QString restart();

    /// SIGSTOP and SIGCONT: the process stays, its connections stay open, and it
    /// answers nothing meanwhile. Both are harmless when repeated.
    void freeze();
    void thaw();

    /// Runs gfix against `database` as SYSDBA; empty on success, else its output.
    QString gfix(const QStringList& arguments, const QString& database) const;

    /// A throw-away database on this server (nullptr, with a warning, on failure).
    std::unique_ptr<TestDatabase>
    createDatabase(const QStringList& setupSql = TestDatabase::standardRegistry()) const;

    QString server() const { return QStringLiteral("localhost/%1").arg(m_port); }
    pid_t pid() const;

private:
    bool run(const QString& command, QString* output = nullptr);

    QTemporaryDir m_dir;
    QString m_root;
    int m_port = 0;
};

/// Keeps the server frozen for as long as it lives, from whenever freeze() is called
/// (the constructor, or later from another thread); thaws it on every way out.
class FrozenServer
{
public:
    explicit FrozenServer(PrivateServer& server, bool now = true) : m_server(server)
    {
        if (now)
            m_server.freeze();
    }
    ~FrozenServer() { m_server.thaw(); }
    FrozenServer(const FrozenServer&) = delete;
    FrozenServer& operator=(const FrozenServer&) = delete;

    void freeze() { m_server.freeze(); }
    void thaw() { m_server.thaw(); }

private:
    PrivateServer& m_server;
};

} // namespace testsupport
