// A Firebird server of a test's own.
#include "PrivateServer.h"

#include "db/Error.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <csignal>

namespace testsupport {

PrivateServer::PrivateServer() : m_root(m_dir.filePath(QStringLiteral("fb"))) {}

PrivateServer::~PrivateServer()
{
    thaw(); // a stopped process would only die after the script's grace period
    run(QStringLiteral("stop"));
}

QString PrivateServer::start()
{
    QString output;
    if (!run(QStringLiteral("start"), &output))
        return output;
    m_port = output.trimmed().toInt();
    return m_port > 0 ? QString() : QStringLiteral("no port in: ") + output;
}

void PrivateServer::stop()
{
    run(QStringLiteral("stop"));
}

QString PrivateServer::restart()
{
    stop();
    return start();
}

pid_t PrivateServer::pid() const
{
    QFile pidFile(m_root + QStringLiteral("/pid"));
    if (!pidFile.open(QIODevice::ReadOnly))
        return 0;
    return pid_t(pidFile.readAll().trimmed().toLongLong());
}

void PrivateServer::crash()
{
    const pid_t server = pid();
    if (server > 0 && ::kill(server, SIGKILL) == 0) {
        while (::kill(server, 0) == 0)
            QTest::qSleep(20);
    }
    QFile::remove(m_root + QStringLiteral("/pid"));
}

void PrivateServer::freeze()
{
    if (const pid_t server = pid(); server > 0)
        ::kill(server, SIGSTOP);
}

void PrivateServer::thaw()
{
    if (const pid_t server = pid(); server > 0)
        ::kill(server, SIGCONT);
}

QString PrivateServer::gfix(const QStringList& arguments, const QString& database) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("gfix"),
                  arguments + QStringList{database, QStringLiteral("-user"),
                                          QStringLiteral("SYSDBA"), QStringLiteral("-password"),
                                          QStringLiteral("plumbtide")});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QStringLiteral("gfix failed: ") + QString::fromLocal8Bit(process.readAll());
    return {};
}

std::unique_ptr<TestDatabase> PrivateServer::createDatabase(const QStringList& setupSql) const
{
    // TestDatabase puts its file on the server named by TW_TEST_FB_SERVER; for the
    // moment of creation that is this one. Everything later goes by the address it keeps.
    const QByteArray saved = qgetenv("TW_TEST_FB_SERVER");
    const bool wasSet = qEnvironmentVariableIsSet("TW_TEST_FB_SERVER");
    qputenv("TW_TEST_FB_SERVER", server().toUtf8());
    std::unique_ptr<TestDatabase> database;
    try {
        database = std::make_unique<TestDatabase>(Engine::Server, setupSql);
    } catch (const db::Error& e) {
        qWarning("cannot create the database: %s", e.what());
    }
    if (wasSet)
        qputenv("TW_TEST_FB_SERVER", saved);
    else
        qunsetenv("TW_TEST_FB_SERVER");
    return database;
}

bool PrivateServer::run(const QString& command, QString* output)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (m_port > 0)
        environment.insert(QStringLiteral("FB_PORT"), QString::number(m_port));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("bash"),
                  {QStringLiteral(TW_SOURCE_DIR "/scripts/fbserver"), command, m_root});
    const bool finished = process.waitForFinished(60000);
    const QString text = QString::fromLocal8Bit(process.readAllStandardOutput()) +
                         QString::fromLocal8Bit(process.readAllStandardError());
    if (output)
        *output = text;
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace testsupport
