// Column types of every Firebird version the tool meets: registries whose hidden
// columns are of types new in Firebird 4 list and log out like any other, on each
// server the test script provides and on the embedded engine.
#include "TestDatabase.h"
#include "WindowFixture.h"
#include "db/SimpleDataSet.h"
#include "db/SqlConnection.h"
#include "db/SqlQuery.h"

#include <QTest>
#include <memory>
#include <optional>
#include <vector>

using testsupport::TestDatabase;
using testsupport::WindowFixture;

namespace {

/// Where a test database lives.
enum class Place
{
    Server,    // TW_TEST_FB_SERVER: Firebird 3 on Debian 12, or whatever the run points it at
    Fb4Server, // TW_TEST_FB4_SERVER: Firebird 4 or later, where the script could start one
    Embedded   // the engine that matches the fbclient the tests are built with
};

const char* placeName(Place place)
{
    switch (place) {
    case Place::Server:
        return "server";
    case Place::Fb4Server:
        return "fb4 server";
    case Place::Embedded:
        return "embedded";
    }
    return "";
}

/// The server part of a database address for `place` (empty for the embedded engine),
/// or nullopt when the test has been skipped or failed for want of that server.
std::optional<QString> serverOf(Place place)
{
    switch (place) {
    case Place::Server:
        if (!testsupport::requireServer())
            return std::nullopt;
        return testsupport::serverAddress();
    case Place::Fb4Server:
        if (!testsupport::requireFb4Server())
            return std::nullopt;
        return testsupport::fb4ServerAddress();
    case Place::Embedded:
        break;
    }
    return QString();
}

/// The engine's own word on its version, independent of the code under test.
int engineMajorVersion(const TestDatabase& database)
{
    const QString version = database.scalar(
        QStringLiteral("select rdb$get_context('SYSTEM', 'ENGINE_VERSION') from rdb$database"));
    return version.section(u'.', 0, 0).toInt();
}

/// A fresh, empty database at `place` whose engine can hold the types asked for; null
/// when the test was skipped there (an engine older than Firebird 4 has no such types)
/// or failed (a "Firebird 4" server that is not).
std::unique_ptr<TestDatabase> databaseAt(Place place, bool needsNewTypes)
{
    const std::optional<QString> server = serverOf(place);
    if (!server)
        return nullptr;
    auto database = std::make_unique<TestDatabase>(*server, QStringList{});
    const int major = engineMajorVersion(*database);
    if (place == Place::Fb4Server && major < 4) {
        QTest::qFail(
            qPrintable(QStringLiteral("TW_TEST_FB4_SERVER runs engine version %1").arg(major)),
            __FILE__, __LINE__);
        return nullptr;
    }
    if (needsNewTypes && major < 4) {
        QTest::qSkip(
            qPrintable(QStringLiteral("needs Firebird 4 or later; this engine is %1").arg(major)),
            __FILE__, __LINE__);
        return nullptr;
    }
    return database;
}

/// One shape of USER_REGISTRY with its rows, as the matrix runs it.
struct Registry
{
    const char* name;
    bool newTypes; // holds a type that only Firebird 4 and later know
    QString columns;
    QStringList rows; // what follows "insert into USER_REGISTRY", in insertion order
    QStringList grid; // the rows the grid must show: "user_name|name|user_log_in"
    QString loggedOut;
    QStringList profileExtras;
};

/// Hidden columns of every Firebird 4 type, placed around the shown ones so that
/// reading the row has to step over them.
const QString kNewTypeColumns = QStringLiteral(
    "created_at timestamp with time zone, user_name varchar(31) not null primary key,"
    " amount numeric(38,2), name varchar(60), opens time with time zone, user_log_in %1,"
    " serial int128, rate decfloat(16), total decfloat(34)");

std::vector<Registry> registries()
{
    const QString withNewTypes = QStringLiteral(
        "(created_at, user_name, amount, name, opens, user_log_in, serial, rate, total)");
    return {
        {"smallint, ordinary hidden columns",
         false,
         QStringLiteral("user_name varchar(31) not null primary key, name varchar(60),"
                        " user_log_in smallint, email varchar(80), last_seen timestamp"),
         {"values ('tanaka', '田中 太郎', 1, 'tanaka@example.jp', '2026-12-01 09:15:00')",
          "values ('suzuki', '鈴木 花子', 1, null, null)",
          "values ('sato', '佐藤 健', 0, 'sato@example.jp', null)"},
         {"tanaka|田中 太郎|1", "suzuki|鈴木 花子|1", "sato|佐藤 健|0"},
         "suzuki",
         {}},
        {"integer, every new type hidden",
         true,
         kNewTypeColumns.arg(QStringLiteral("integer")),
         {withNewTypes + " values ('2026-12-01 09:15:00 Asia/Tokyo', 'tanaka', 12.5, '田中 太郎',"
                         " '09:00 +09:00', 1, 170141183460469231731687303715884105727, 1.5,"
                         " 1.234567890123456789012345678901234E6144)",
          withNewTypes + " values (null, 'suzuki', null, '鈴木 花子', null, 2147483647, null,"
                         " null, null)",
          withNewTypes + " values ('2026-11-30 18:45:10.5 -03:30', 'sato', -0.01, '佐藤 健',"
                         " '23:59:59.9999 Europe/Berlin', 0, -1, 'NaN', '-inf')"},
         {"tanaka|田中 太郎|1", "suzuki|鈴木 花子|2147483647", "sato|佐藤 健|0"},
         "suzuki",
         {}},
        {"bigint, its extremes",
         false,
         QStringLiteral("user_name varchar(31) not null primary key, name varchar(60),"
                        " user_log_in bigint, last_seen timestamp"),
         {"values ('max', '最大', 9223372036854775807, '2026-12-01 09:15:00')",
          "values ('min', '最小', -9223372036854775808, null)", "values ('one', '一', 1, null)"},
         {"max|最大|9223372036854775807", "min|最小|-9223372036854775808", "one|一|1"},
         "max",
         {}},
        {"int128, its extremes, new types hidden",
         true,
         kNewTypeColumns.arg(QStringLiteral("int128")),
         {withNewTypes + " values (null, 'max', 1, '最大', null,"
                         " 170141183460469231731687303715884105727, 2, 3, 4)",
          withNewTypes + " values ('2026-12-01 09:15:00 UTC', 'min', null, '最小', null,"
                         " -170141183460469231731687303715884105728, null, null, null)",
          withNewTypes + " values (null, 'one', 0, '一', '00:00 +00:00', 1, 0, 0, 0)"},
         {"max|最大|170141183460469231731687303715884105727",
          "min|最小|-170141183460469231731687303715884105728", "one|一|1"},
         "max",
         {}},
        {"names in ISO8859_1 and WIN1252",
         false,
         QStringLiteral("user_name varchar(31) character set ISO8859_1 not null primary key,"
                        " name varchar(60) character set WIN1252, user_log_in integer"),
         {"values ('müller', 'Zoë Müller €', 1)", "values ('garçon', 'Ærø', 1)"},
         {"müller|Zoë Müller €|1", "garçon|Ærø|1"},
         "müller",
         {}},
        {"names in SJIS_0208, profile in SJIS_0208, new types hidden",
         true,
         QStringLiteral("user_name varchar(31) character set SJIS_0208 not null primary key,"
                        " name varchar(60) character set SJIS_0208, user_log_in smallint,"
                        " total decfloat(34), created_at timestamp with time zone"),
         {"values ('山本', '山本 一郎', 1, 1.10, '2026-12-01 09:15:00 Asia/Tokyo')",
          "values ('yamada', '山田 美咲', 1, null, null)"},
         {"山本|山本 一郎|1", "yamada|山田 美咲|1"},
         "山本",
         {QStringLiteral("ServerCharSet=SJIS_0208")}},
    };
}

QStringList setupOf(const Registry& registry)
{
    QStringList setup{QStringLiteral("create table USER_REGISTRY (%1)").arg(registry.columns)};
    for (const QString& row : registry.rows)
        setup << QStringLiteral("insert into USER_REGISTRY ") + row;
    return setup;
}

/// The grid's rows with `user`'s log-in state set to 0.
QStringList loggedOutIn(QStringList rows, const QString& user)
{
    for (QString& row : rows) {
        if (row.section(u'|', 0, 0) == user)
            row = row.section(u'|', 0, 1) + QStringLiteral("|0");
    }
    return rows;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

/// One hidden column of a type new in Firebird 4, a value for it and the text the list
/// must hold for that value: the server's own, to the last digit and with its zone.
struct NewTypeValue
{
    const char* column;
    const char* type;
    const char* literal;
    const char* text;
};

constexpr NewTypeValue kNewTypeValues[] = {
    {"ts_zone", "timestamp with time zone", "'2026-12-01 09:15:00.1234 Europe/Berlin'",
     "2026-12-01 09:15:00.1234 Europe/Berlin"},
    {"ts_offset", "timestamp with time zone", "'2026-03-29 01:59:59.9999 +14:00'",
     "2026-03-29 01:59:59.9999 +14:00"},
    {"t_offset", "time with time zone", "'23:59:59.9999 -03:30'", "23:59:59.9999 -03:30"},
    {"t_zone", "time with time zone", "'00:00:00 America/Sao_Paulo'",
     "00:00:00.0000 America/Sao_Paulo"},
    {"i128_min", "int128", "-170141183460469231731687303715884105728",
     "-170141183460469231731687303715884105728"},
    {"n38_big", "numeric(38,2)", "-123456789012345678901234567890123456.78",
     "-123456789012345678901234567890123456.78"},
    {"n38_small", "numeric(38,2)", "0.05", "0.05"},
    {"n20", "numeric(20,3)", "12345678901234567.891", "12345678901234567.891"},
    {"d16", "decfloat(16)", "1234567890123456E-3", "1234567890123.456"},
    {"d16_zeros", "decfloat(16)", "1.50", "1.50"},
    {"d16_max", "decfloat(16)", "9.999999999999999E384", "9.999999999999999E+384"},
    {"d34", "decfloat(34)", "-1.234567890123456789012345678901234E-6000",
     "-1.234567890123456789012345678901234E-6000"},
    {"d34_inf", "decfloat(34)", "'-inf'", "-Infinity"},
    {"d34_nan", "decfloat(34)", "'NaN'", "NaN"},
};

} // namespace

class TestTypes : public QObject
{
    Q_OBJECT

private slots:
    void registryListsAndLogsOut_data();
    void registryListsAndLogsOut();
    void newTypesKeepTheServersText_data();
    void newTypesKeepTheServersText();
};

void TestTypes::registryListsAndLogsOut_data()
{
    QTest::addColumn<Place>("place");
    QTest::addColumn<int>("registry");
    const std::vector<Registry> all = registries();
    for (Place place : {Place::Server, Place::Fb4Server, Place::Embedded}) {
        for (std::size_t i = 0; i < all.size(); ++i)
            QTest::addRow("%s: %s", placeName(place), all[i].name) << place << int(i);
    }
}

void TestTypes::registryListsAndLogsOut()
{
    QFETCH(Place, place);
    QFETCH(int, registry);
    const Registry shape = registries()[std::size_t(registry)];
    const std::unique_ptr<TestDatabase> database = databaseAt(place, shape.newTypes);
    if (!database)
        return;
    database->execute(setupOf(shape));
    const QStringList statesBefore = database->loginStates();

    WindowFixture window;
    window.writeProfile(QStringList{QStringLiteral("Database=") + database->address(),
                                    QStringLiteral("User_Name=SYSDBA"),
                                    QStringLiteral("Password=plumbtide")} +
                        shape.profileExtras);
    window.connect();
    QCOMPARE(window.boxes().errors(), QStringList{});
    QVERIFY(window.form().SQLConnection1->connected());
    window.boxes().clear();
    window.list();
    QCOMPARE(window.boxes().texts(), QStringList{});
    QCOMPARE(window.gridRows(), shape.grid);

    window.logout(shape.loggedOut);

    QCOMPARE(window.boxes().texts(), QStringList{});
    QStringList expectedStates = statesBefore;
    for (QString& state : expectedStates) {
        if (state.section(u'=', 0, -2) == shape.loggedOut)
            state = shape.loggedOut + QStringLiteral("=0");
    }
    QVERIFY(expectedStates != statesBefore); // the user was logged in to begin with
    QCOMPARE(sorted(database->loginStates()), sorted(expectedStates));
    QCOMPARE(window.gridRows(), loggedOutIn(shape.grid, shape.loggedOut));
}

void TestTypes::newTypesKeepTheServersText_data()
{
    QTest::addColumn<Place>("place");
    for (Place place : {Place::Server, Place::Fb4Server, Place::Embedded})
        QTest::addRow("%s", placeName(place)) << place;
}

void TestTypes::newTypesKeepTheServersText()
{
    QFETCH(Place, place);
    const std::unique_ptr<TestDatabase> database = databaseAt(place, true);
    if (!database)
        return;
    QString columns = QStringLiteral("user_name varchar(31) not null primary key,"
                                     " name varchar(60), user_log_in int128");
    QString names;
    QString literals;
    for (const NewTypeValue& value : kNewTypeValues) {
        columns +=
            QStringLiteral(", %1 %2").arg(QLatin1String(value.column), QLatin1String(value.type));
        names += QStringLiteral(", ") + QLatin1String(value.column);
        literals += QStringLiteral(", ") + QLatin1String(value.literal);
    }
    database->execute({
        QStringLiteral("create table USER_REGISTRY (%1)").arg(columns),
        QStringLiteral("insert into USER_REGISTRY (user_name, name, user_log_in%1)"
                       " values ('full', '満', 1%2)")
            .arg(names, literals),
        QStringLiteral("insert into USER_REGISTRY (user_name, name, user_log_in)"
                       " values ('empty', '空', 0)"),
    });

    db::SimpleDataSet list(QStringLiteral("SimpleDataSet1"),
                           testsupport::listSettings(database->address()));
    list.setCommandText(QStringLiteral("select * from USER_REGISTRY"));
    list.open();
    QCOMPARE(list.recordCount(), 2);
    QCOMPARE(list.value(0, 0).toString(), QStringLiteral("full"));
    QCOMPARE(list.value(1, 0).toString(), QStringLiteral("empty"));
    for (const NewTypeValue& value : kNewTypeValues) {
        const int column = list.columnIndex(QLatin1String(value.column));
        QVERIFY2(column >= 0, value.column);
        const QVariant full = list.value(0, column);
        QVERIFY2(full.toString() == QLatin1String(value.text),
                 qPrintable(QStringLiteral("%1 %2: got \"%3\", expected \"%4\"")
                                .arg(QLatin1String(value.column), QLatin1String(value.type),
                                     full.toString(), QLatin1String(value.text))));
        QVERIFY2(list.value(1, column).isNull(), value.column);
    }
    QCOMPARE(list.value(0, list.columnIndex(QStringLiteral("name"))).toString(),
             QStringLiteral("満"));

    // The logout's own connection reads the same table through a statement, not the list.
    db::SqlConnection connection(QStringLiteral("SQLConnection1"),
                                 testsupport::listSettings(database->address()));
    db::SqlQuery query(QStringLiteral("SQLQuery1"), &connection);
    query.setSql({QStringLiteral("select * from USER_REGISTRY where user_name = :user_name")});
    query.paramByName(QStringLiteral("user_name")).setAsString(QStringLiteral("full"));
    query.open();
    QVERIFY(!query.isEmpty());
}

QTEST_MAIN(TestTypes)
#include "tst_types.moc"
