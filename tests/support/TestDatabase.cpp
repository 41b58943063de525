// A throw-away Firebird database for tests.
#include "TestDatabase.h"

#include "db/Attachment.h"
#include "db/RecordSet.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QUuid>

namespace testsupport {
namespace {

QString databaseFolder()
{
    const QString dir = qEnvironmentVariable("TW_TEST_DB_DIR");
    return dir.isEmpty() ? QDir::tempPath() : dir;
}

db::Attachment attachTo(const QString& address)
{
    db::AttachOptions options;
    options.database = address;
    options.user = QStringLiteral("SYSDBA");
    options.password = QStringLiteral("plumbtide");
    return db::Attachment::attach(options);
}

} // namespace

QString serverAddress()
{
    return qEnvironmentVariable("TW_TEST_FB_SERVER");
}

bool requireServer()
{
    if (!serverAddress().isEmpty())
        return true;
    if (qEnvironmentVariableIsSet("TW_TEST_REQUIRE_SERVER")) {
        QTest::qFail("TW_TEST_FB_SERVER is not set although the test script runs the tests",
                     __FILE__, __LINE__);
        return false;
    }
    QTest::qSkip("no Firebird server given (run the tests through scripts/test)", __FILE__,
                 __LINE__);
    return false;
}

QString fb4ServerAddress()
{
    return qEnvironmentVariable("TW_TEST_FB4_SERVER");
}

bool requireFb4Server()
{
    if (!fb4ServerAddress().isEmpty())
        return true;
    if (qEnvironmentVariableIsSet("TW_TEST_REQUIRE_FB4")) {
        QTest::qFail("TW_TEST_FB4_SERVER is not set although this run requires a Firebird 4 "
                     "server",
                     __FILE__, __LINE__);
        return false;
    }
    QTest::qSkip("no Firebird 4 server given (TW_TEST_FB4_SERVER is not set)", __FILE__, __LINE__);
    return false;
}

QStringList TestDatabase::standardRegistry()
{
    return {
        QStringLiteral("create table USER_REGISTRY ("
                       " user_name varchar(31) not null primary key,"
                       " name varchar(60),"
                       " user_log_in smallint,"
                       " email varchar(80),"
                       " last_seen timestamp)"),
        QStringLiteral("insert into USER_REGISTRY values ('tanaka', '田中 太郎', 1,"
                       " 'tanaka@example.jp', '2026-12-01 09:15:00')"),
        QStringLiteral("insert into USER_REGISTRY values ('suzuki', '鈴木 花子', 1,"
                       " 'suzuki@example.jp', '2026-12-02 10:00:00')"),
        QStringLiteral("insert into USER_REGISTRY values ('sato', '佐藤 健', 0,"
                       " 'sato@example.jp', null)"),
        QStringLiteral("insert into USER_REGISTRY values ('yamada', '山田 美咲', 1,"
                       " null, '2026-11-30 18:45:10')"),
    };
}

TestDatabase::TestDatabase(Engine engine, const QStringList& setupSql, const QString& charset)
    : m_filePath(newFilePath())
{
    m_address = engine == Engine::Server ? serverAddress() + u':' + m_filePath : m_filePath;
    create(setupSql, charset);
}

TestDatabase::TestDatabase(const QString& server, const QStringList& setupSql,
                           const QString& charset)
    : m_filePath(newFilePath())
{
    m_address = server.isEmpty() ? m_filePath : server + u':' + m_filePath;
    create(setupSql, charset);
}

QString TestDatabase::newFilePath()
{
    return QDir(databaseFolder())
        .filePath(
            QStringLiteral("tw-%1.fdb").arg(QUuid::createUuid().toString(QUuid::WithoutBraces)));
}

void TestDatabase::create(const QStringList& setupSql, const QString& charset)
{
    const QByteArray create =
        QStringLiteral("create database '%1' user 'SYSDBA' password 'plumbtide' "
                       "page_size 8192 default character set %2")
            .arg(m_address, charset)
            .toUtf8();
    db::fb::guarded([&] {
        db::fb::Status status;
        FB_BOOLEAN isCreate = false;
        db::fb::Ref<Firebird::IAttachment> created(db::fb::util()->executeCreateDatabase(
            &status, unsigned(create.size()), create.constData(), 3, &isCreate));
        created->detach(&status);
        (void)created.release();
    });
    execute(setupSql);
}

TestDatabase::~TestDatabase()
{
    try {
        attachTo(m_address).dropDatabase();
    } catch (const db::Error&) {
        QFile::remove(m_filePath); // the server is gone; the file is ours to delete
    }
}

void TestDatabase::execute(const QStringList& statements) const
{
    db::Attachment attachment = attachTo(m_address);
    for (const QString& statement : statements) {
        db::Transaction transaction(attachment, db::TransactionOptions{});
        db::fb::guarded([&] {
            db::fb::Status status;
            const QByteArray sql = statement.toUtf8();
            attachment.get()->execute(&status, transaction.get(), unsigned(sql.size()),
                                      sql.constData(), 3, nullptr, nullptr, nullptr, nullptr);
        });
        transaction.commit();
    }
    attachment.detach();
}

std::vector<QStringList> TestDatabase::rows(const QString& query) const
{
    db::Attachment attachment = attachTo(m_address);
    db::Transaction transaction(attachment, db::TransactionOptions{});
    const db::RecordSet records = db::fetchAll(attachment, transaction, query);
    std::vector<QStringList> result;
    for (qsizetype row = 0; row < records.rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < int(records.columns().size()); ++column) {
            const QVariant value = records.value(row, column);
            cells << (value.isNull() ? QStringLiteral("<null>") : value.toString());
        }
        result.push_back(cells);
    }
    transaction.commit();
    return result;
}

QString TestDatabase::scalar(const QString& query) const
{
    const std::vector<QStringList> result = rows(query);
    return result.empty() || result.front().isEmpty() ? QString() : result.front().front();
}

QStringList TestDatabase::loginStates() const
{
    QStringList states;
    for (const QStringList& row : rows(
             QStringLiteral("select user_name, user_log_in from USER_REGISTRY order by user_name")))
        states << row.join(u'=');
    return states;
}

std::vector<db::GridColumn> registryColumns()
{
    return {{QStringLiteral("user_name"), QStringLiteral("ユーザー名"), 100},
            {QStringLiteral("name"), QStringLiteral("本名"), 120},
            {QStringLiteral("user_log_in"), QStringLiteral("ログ状態"), 80}};
}

db::ConnectionSettings listSettings(const QString& database)
{
    db::ConnectionSettings settings;
    settings.params.append(QStringLiteral("drivername=Firebird"));
    settings.params.setValue(QStringLiteral("Database"), database);
    settings.params.setValue(QStringLiteral("User_Name"), QStringLiteral("SYSDBA"));
    settings.params.setValue(QStringLiteral("Password"), QStringLiteral("plumbtide"));
    return settings;
}

void writeProfile(const QString& path, const QStringList& entries)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write the profile %s", qPrintable(path));
    QByteArray text = "[FBDOCUMENTCONNECTION]\n";
    for (const QString& entry : entries)
        text += entry.toUtf8() + '\n';
    file.write(text);
}

} // namespace testsupport
