// The statement component: markers, bound values, transactions and lost attachments.
#include "TestDatabase.h"
#include "db/Error.h"
#include "db/SqlConnection.h"
#include "db/SqlQuery.h"
#include "db/SqlText.h"

#include <QTest>

using testsupport::Engine;
using testsupport::TestDatabase;

namespace {

db::ConnectionSettings settingsFor(const QString& database)
{
    db::ConnectionSettings settings;
    settings.params.setValue(QStringLiteral("Database"), database);
    settings.params.setValue(QStringLiteral("User_Name"), QStringLiteral("SYSDBA"));
    settings.params.setValue(QStringLiteral("Password"), QStringLiteral("plumbtide"));
    return settings;
}

void setLookup(db::SqlQuery& query, const QString& name)
{
    query.clearSql();
    query.addSqlLine(QStringLiteral("select user_name from user_registry "));
    query.addSqlLine(QStringLiteral("where user_name=:user_name"));
    query.params().clear();
    query.params().createParam(db::FieldType::String, QStringLiteral("user_name"),
                               db::ParamDirection::Input);
    query.paramByName(QStringLiteral("user_name")).setAsString(name);
}

} // namespace

class TestSqlQuery : public QObject
{
    Q_OBJECT

private slots:
    void markersBecomePositional_data();
    void markersBecomePositional();
    void textChangeClosesAndRederivesParameters();
    void valuesAreBoundNeverPasted_data();
    void valuesAreBoundNeverPasted();
    void executeCommitsAtOnce();
    void executeNeverSendsASubstitute_data();
    void executeNeverSendsASubstitute();
    void failedStatementLeavesNothingOpen();
    void closingTheConnectionClosesTheStatement();
};

void TestSqlQuery::markersBecomePositional_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("one") << "select a from t where b=:b"
                         << "select a from t where b=?" << QStringList{"b"};
    QTest::newRow("two lines") << "update t set x=0 \nwhere a=:a and c = :Cc"
                               << "update t set x=0 \nwhere a=? and c = ?"
                               << QStringList{"a", "Cc"};
    QTest::newRow("literal") << "select ':x', a from t where b=:y"
                             << "select ':x', a from t where b=?" << QStringList{"y"};
    QTest::newRow("doubled quote") << "select 'it''s :x' from t where b=:y"
                                   << "select 'it''s :x' from t where b=?" << QStringList{"y"};
    QTest::newRow("quoted name") << "select \"a:b\" from t"
                                 << "select \"a:b\" from t" << QStringList{};
    QTest::newRow("line comment") << "select a -- :x\nfrom t where b=:y"
                                  << "select a -- :x\nfrom t where b=?" << QStringList{"y"};
    QTest::newRow("block comment") << "select /* :x */ a from t"
                                   << "select /* :x */ a from t" << QStringList{};
    QTest::newRow("lone colon") << "select a : from t"
                                << "select a : from t" << QStringList{};
    QTest::newRow("unterminated literal") << "select ':x"
                                          << "select ':x" << QStringList{};
}

void TestSqlQuery::markersBecomePositional()
{
    QFETCH(QString, sql);
    QFETCH(QString, text);
    QFETCH(QStringList, names);
    const db::PositionalSql positional = db::toPositional(sql);
    QCOMPARE(positional.text, text);
    QCOMPARE(positional.parameterNames, names);
}

void TestSqlQuery::textChangeClosesAndRederivesParameters()
{
    TestDatabase database(Engine::Embedded);
    db::SqlConnection connection(QStringLiteral("SQLConnection1"), settingsFor(database.address()));
    db::SqlQuery query(QStringLiteral("SQLQuery1"), &connection);

    query.addSqlLine(QStringLiteral("select user_name from user_registry "));
    QCOMPARE(query.params().count(), 0);
    query.addSqlLine(QStringLiteral("where user_name=:user_name"));
    QCOMPARE(query.params().count(), 1);
    QCOMPARE(query.params().items().front().name, QStringLiteral("user_name"));

    setLookup(query, QStringLiteral("tanaka"));
    QVERIFY(!connection.connected());
    query.open(); // opens the closed connection with the list it holds
    QVERIFY(connection.connected());
    QVERIFY(query.active());
    QVERIFY(!query.isEmpty());
    query.clearSql();
    QVERIFY(!query.active());

    try {
        query.paramByName(QStringLiteral("user_name"));
        QFAIL("a parameter that the text no longer has was found");
    } catch (const db::ComponentError& e) {
        QVERIFY(e.message().startsWith(QLatin1String("SQLQuery1: ")));
    }
}

void TestSqlQuery::valuesAreBoundNeverPasted_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("outcome"); // found, missing, or the database's error
    QTest::newRow("exact") << "tanaka"
                           << "found";
    QTest::newRow("other case") << "TANAKA"
                                << "missing";
    QTest::newRow("trailing blank") << "tanaka "
                                    << "found"; // VARCHAR compares padded
    QTest::newRow("leading blank") << " tanaka"
                                   << "missing";
    QTest::newRow("empty") << ""
                           << "missing";
    QTest::newRow("quote") << "o'brien"
                           << "found";
    QTest::newRow("tautology") << "' or '1'='1"
                               << "missing";
    QTest::newRow("statement end") << "x; delete from user_registry"
                                   << "missing";
    // Longer than the column equals nothing stored, unless all that is past it are blanks.
    QTest::newRow("one past the column") << QString(32, u'a') << "missing";
    QTest::newRow("blanks past the column") << "tanaka" + QString(40, u' ') << "found";
    QTest::newRow("past the column, then blanks")
        << QString(32, u'a') + QString(40, u' ') << "missing";
    QTest::newRow("longest text parameter") << QString(32765, u'x') << "missing";
    QTest::newRow("past any text parameter") << QString(40000, u'x') << "missing";
    QTest::newRow("lone surrogate") << QString(QChar(0xD842)) + u'野' << "missing";
    QTest::newRow("comment") << "tanaka' --"
                             << "missing";
    QTest::newRow("japanese") << "山本"
                              << "found";
    QTest::newRow("outside the BMP") << "𠮷野"
                                     << "found";
    QTest::newRow("marker text") << ":user_name"
                                 << "missing";
}

void TestSqlQuery::valuesAreBoundNeverPasted()
{
    QFETCH(QString, name);
    QFETCH(QString, outcome);
    QStringList setup = TestDatabase::standardRegistry();
    setup << QStringLiteral("insert into USER_REGISTRY (user_name, name, user_log_in) values "
                            "('o''brien', 'O''Brien', 1)")
          << QStringLiteral("insert into USER_REGISTRY (user_name, name, user_log_in) values "
                            "('山本', '山本 一郎', 1)")
          << QStringLiteral("insert into USER_REGISTRY (user_name, name, user_log_in) values "
                            "('𠮷野', '𠮷野 家', 1)");
    TestDatabase database(Engine::Embedded, setup);
    db::SqlConnection connection(QStringLiteral("SQLConnection1"), settingsFor(database.address()));
    db::SqlQuery query(QStringLiteral("SQLQuery1"), &connection);
    setLookup(query, name);
    try {
        query.open();
        QCOMPARE(query.isEmpty() ? "missing" : "found", outcome);
    } catch (const db::Error& e) {
        QVERIFY2(e.message().contains(outcome), qPrintable(e.message()));
    }
    QCOMPARE(database.scalar(QStringLiteral("select count(*) from USER_REGISTRY")),
             QStringLiteral("7"));
}

void TestSqlQuery::executeCommitsAtOnce()
{
    TestDatabase database(Engine::Embedded);
    db::SqlConnection connection(QStringLiteral("SQLConnection1"), settingsFor(database.address()));
    db::SqlQuery query(QStringLiteral("SQLQuery1"), &connection);
    query.setSql({QStringLiteral("update user_registry set user_log_in=0 "),
                  QStringLiteral("where user_name=:user_name")});
    query.paramByName(QStringLiteral("user_name")).setAsString(QStringLiteral("tanaka"));
    query.execSql();
    QVERIFY(!query.active());
    // Another attachment sees the change while ours is still open: it was committed.
    QCOMPARE(database.rows(QStringLiteral(
                 "select user_name, user_log_in from USER_REGISTRY order by user_name")),
             (std::vector<QStringList>{
                 {"sato", "0"}, {"suzuki", "1"}, {"tanaka", "0"}, {"yamada", "1"}}));
}

void TestSqlQuery::executeNeverSendsASubstitute_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("charset");
    QTest::addColumn<QString>("error");
    const QString cannotCarry = QStringLiteral("文字セットで表せない文字");
    // Each would reach a stored row if it travelled as "?" or cut short.
    QTest::newRow("lone surrogate") << QString(QChar(0xD842)) + u'田' << "UTF8" << cannotCarry;
    QTest::newRow("not in Latin-1") << "田田"
                                    << "ISO8859_1" << cannotCarry;
    QTest::newRow("past any text parameter")
        << "tanaka" + QString(65536, u' ') << "UTF8" << QStringLiteral("長すぎます");
}

void TestSqlQuery::executeNeverSendsASubstitute()
{
    QFETCH(QString, name);
    QFETCH(QString, charset);
    QFETCH(QString, error);
    QStringList setup = TestDatabase::standardRegistry();
    setup << QStringLiteral("insert into USER_REGISTRY (user_name, user_log_in) values ('?田', 1)")
          << QStringLiteral("insert into USER_REGISTRY (user_name, user_log_in) values ('?\?', 1)");
    TestDatabase database(Engine::Embedded, setup);
    const QStringList before = database.loginStates();
    db::ConnectionSettings settings = settingsFor(database.address());
    settings.params.setValue(QStringLiteral("ServerCharSet"), charset);
    db::SqlConnection connection(QStringLiteral("SQLConnection1"), settings);
    db::SqlQuery query(QStringLiteral("SQLQuery1"), &connection);
    query.setSql({QStringLiteral("update user_registry set user_log_in=0 "),
                  QStringLiteral("where user_name=:user_name")});
    query.paramByName(QStringLiteral("user_name")).setAsString(name);
    try {
        query.execSql();
        QFAIL("a value that cannot travel whole was sent");
    } catch (const db::ComponentError& e) {
        QVERIFY2(e.message().startsWith(QLatin1String("SQLQuery1: ")), qPrintable(e.message()));
        QVERIFY2(e.message().contains(error), qPrintable(e.message()));
    }
    QCOMPARE(database.loginStates(), before);

    // The lookup of the same value answers "no such row" instead, asking nothing.
    query.setSql({QStringLiteral("select user_name from user_registry "),
                  QStringLiteral("where user_name=:user_name")});
    query.paramByName(QStringLiteral("user_name")).setAsString(name);
    query.open();
    QVERIFY(query.active());
    QVERIFY(query.isEmpty());
}

void TestSqlQuery::failedStatementLeavesNothingOpen()
{
    TestDatabase database(Engine::Embedded);
    db::SqlConnection connection(QStringLiteral("SQLConnection1"), settingsFor(database.address()));
    db::SqlQuery query(QStringLiteral("SQLQuery1"), &connection);
    query.setSql({QStringLiteral("update user_registry set user_log_in=0 where user_name=:n"),
                  QStringLiteral("and no_such_column = 1")});
    query.paramByName(QStringLiteral("n")).setAsString(QStringLiteral("tanaka"));
    try {
        query.execSql();
        QFAIL("an unknown column was accepted");
    } catch (const db::Error& e) {
        QVERIFY2(e.message().contains(QLatin1String("NO_SUCH_COLUMN")), qPrintable(e.message()));
        QVERIFY(e.gdsCode() != 0);
        QCOMPARE(e.sqlState(), QStringLiteral("42S22"));
    }
    QVERIFY(!query.active());
    QVERIFY(connection.connected());
    QCOMPARE(database.scalar(
                 QStringLiteral("select count(*) from mon$transactions t join mon$attachments a"
                                " on a.mon$attachment_id = t.mon$attachment_id"
                                " where a.mon$attachment_id <> current_connection")),
             QStringLiteral("0"));

    query.setSql({QStringLiteral("update user_registry set name = :v where user_name = 'sato'")});
    query.paramByName(QStringLiteral("v"))
        .setAsString(QString(61, u'長')); // longer than the column
    try {
        query.execSql();
        QFAIL("a value longer than its column was accepted");
    } catch (const db::Error& e) {
        QVERIFY2(e.message().contains(QLatin1String("truncation")), qPrintable(e.message()));
    }
    QCOMPARE(
        database.scalar(QStringLiteral("select name from USER_REGISTRY where user_name = 'sato'")),
        QStringLiteral("佐藤 健"));
}

void TestSqlQuery::closingTheConnectionClosesTheStatement()
{
    TestDatabase database(Engine::Embedded);
    db::SqlConnection connection(QStringLiteral("SQLConnection1"), settingsFor(database.address()));
    db::SqlQuery query(QStringLiteral("SQLQuery1"), &connection);
    setLookup(query, QStringLiteral("nobody"));
    query.open();
    QVERIFY(query.active());
    QVERIFY(query.isEmpty());
    connection.close();
    QVERIFY(!query.active());
    QVERIFY(!connection.connected());
}

QTEST_GUILESS_MAIN(TestSqlQuery)
#include "tst_sqlquery.moc"
