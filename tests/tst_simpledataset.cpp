// The in-memory list: reading every type, the grid's edits, refresh rules and the model.
#include "TestDatabase.h"
#include "db/DataSource.h"
#include "db/Error.h"
#include "db/ListModel.h"
#include "db/SimpleDataSet.h"

#include <QAbstractItemModelTester>
#include <QDate>
#include <QDateTime>
#include <QSignalSpy>
#include <QTest>
#include <QTime>
#include <functional>
#include <limits>
#include <memory>

using testsupport::Engine;
using testsupport::registryColumns;
using testsupport::TestDatabase;

namespace {

/// A list opened on a database, with its model, as the window wires them.
struct OpenList
{
    explicit OpenList(const QString& database,
                      const QString& sql = QStringLiteral("select * from USER_REGISTRY"))
    {
        list = std::make_unique<db::SimpleDataSet>(QStringLiteral("SimpleDataSet1"),
                                                   testsupport::listSettings(database));
        source = std::make_unique<db::DataSource>(QStringLiteral("DataSource1"), list.get());
        model = std::make_unique<db::ListModel>(source.get(), registryColumns());
        tester = std::make_unique<QAbstractItemModelTester>(
            model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        list->setCommandText(sql);
        list->open();
    }

    QString cell(int row, int column) const
    {
        return model->data(model->index(row, column)).toString();
    }

    std::unique_ptr<db::SimpleDataSet> list;
    std::unique_ptr<db::DataSource> source;
    std::unique_ptr<db::ListModel> model;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

QString errorText(const std::function<void()>& action)
{
    try {
        action();
    } catch (const db::Error& e) {
        return e.message();
    }
    return {};
}

} // namespace

class TestSimpleDataSet : public QObject
{
    Q_OBJECT

private slots:
    void readsEveryRowOnBothEngines_data();
    void readsEveryRowOnBothEngines();
    void readsEveryFirebirdType();
    void showsOnlyTheGridColumns();
    void editsStayInMemoryAndBlockRefresh();
    void insertAndDeleteAreTrackedPerRow();
    void refreshOfAClosedListIsRefused();
    void refreshRereadsTheTable();
    void missingTableLeavesTheListClosed();
    void largeListIsReadWhole();
};

void TestSimpleDataSet::readsEveryRowOnBothEngines_data()
{
    QTest::addColumn<bool>("server");
    QTest::newRow("embedded") << false;
    QTest::newRow("server") << true;
}

void TestSimpleDataSet::readsEveryRowOnBothEngines()
{
    QFETCH(bool, server);
    if (server && !testsupport::requireServer())
        return;
    TestDatabase database(server ? Engine::Server : Engine::Embedded);
    OpenList open(database.address());

    QCOMPARE(open.model->rowCount(), 4);
    QCOMPARE(open.list->currentRow(), 0);
    QCOMPARE(open.list->columns().size(), std::size_t(5));
    QStringList names;
    for (int row = 0; row < 4; ++row)
        names << open.cell(row, 0) + u'|' + open.cell(row, 1) + u'|' + open.cell(row, 2);
    QCOMPARE(names, QStringList(
                        {QStringLiteral("tanaka|田中 太郎|1"), QStringLiteral("suzuki|鈴木 花子|1"),
                         QStringLiteral("sato|佐藤 健|0"), QStringLiteral("yamada|山田 美咲|1")}));
    // Columns the grid does not show are read all the same.
    const int email = open.list->columnIndex(QStringLiteral("EMAIL"));
    QVERIFY(email >= 0);
    QCOMPARE(open.list->value(0, email).toString(), QStringLiteral("tanaka@example.jp"));
    QVERIFY(open.list->value(3, email).isNull());
    const int lastSeen = open.list->columnIndex(QStringLiteral("last_seen"));
    QCOMPARE(open.list->value(1, lastSeen).toDateTime(),
             QDateTime(QDate(2026, 12, 2), QTime(10, 0)));
}

void TestSimpleDataSet::readsEveryFirebirdType()
{
    TestDatabase database(
        Engine::Embedded,
        {QStringLiteral(
             "create table USER_REGISTRY (user_name varchar(31), name char(10),"
             " name_sjis varchar(20) character set SJIS_0208, raw_bytes char(4) character set "
             "octets,"
             " user_log_in smallint, i integer, b bigint, n numeric(9,2), d decimal(18,4),"
             " nn numeric(4,1), f float, dp double precision, dt date, tm time, ts timestamp,"
             " ok boolean, memo blob sub_type text, bin blob sub_type binary)"),
         QStringLiteral("insert into USER_REGISTRY values ('all', '日本語', 'カタカナ',"
                        " x'00FF10AB', -32768, 2147483647, -9223372036854775808, -0.05,"
                        " 12345678901234.5678, 999.9, 1.5, 2.25, '2024-02-29', '23:59:58.1234',"
                        " '1999-12-31 12:34:56', true, '長い説明文', x'DEADBEEF')"),
         QStringLiteral("insert into USER_REGISTRY (user_name) values ('nulls')")});
    OpenList open(database.address());
    QCOMPARE(open.list->recordCount(), 2);

    const auto value = [&](const char* column, int row = 0) {
        const int index = open.list->columnIndex(QString::fromLatin1(column));
        if (index < 0)
            qFatal("no column %s", column);
        return open.list->value(row, index);
    };
    QCOMPARE(value("name").toString(), QStringLiteral("日本語")); // CHAR padding is dropped
    QCOMPARE(value("name_sjis").toString(), QStringLiteral("カタカナ"));
    QCOMPARE(value("raw_bytes").toByteArray(), QByteArray::fromHex("00FF10AB"));
    QCOMPARE(value("user_log_in").toLongLong(), -32768);
    QCOMPARE(value("i").toLongLong(), 2147483647);
    QCOMPARE(value("b").toLongLong(), std::numeric_limits<qint64>::min());
    QCOMPARE(value("n").toString(), QStringLiteral("-0.05"));
    QCOMPARE(value("d").toString(), QStringLiteral("12345678901234.5678"));
    QCOMPARE(value("nn").toString(), QStringLiteral("999.9"));
    QCOMPARE(value("f").toDouble(), 1.5);
    QCOMPARE(value("dp").toDouble(), 2.25);
    QCOMPARE(value("dt").toDate(), QDate(2024, 2, 29));
    QCOMPARE(value("tm").toTime(), QTime(23, 59, 58, 123));
    QCOMPARE(value("ts").toDateTime(), QDateTime(QDate(1999, 12, 31), QTime(12, 34, 56)));
    QCOMPARE(value("ok").toBool(), true);
    QCOMPARE(value("memo").toString(), QStringLiteral("長い説明文"));
    QCOMPARE(value("bin").toByteArray(), QByteArray::fromHex("DEADBEEF"));
    for (const char* column :
         {"name", "raw_bytes", "b", "n", "dt", "tm", "ts", "ok", "memo", "bin"})
        QVERIFY2(value(column, 1).isNull(), column);
}

void TestSimpleDataSet::showsOnlyTheGridColumns()
{
    TestDatabase database(
        Engine::Embedded,
        {QStringLiteral("create table USER_REGISTRY (id integer, \"User_Name\" varchar(10),"
                        " extra varchar(5), user_log_in smallint)"),
         QStringLiteral("insert into USER_REGISTRY values (7, 'kato', 'x', 1)")});
    OpenList open(database.address());
    QCOMPARE(open.model->columnCount(), 3);
    QCOMPARE(open.model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("本名"));
    QCOMPARE(open.cell(0, 0), QStringLiteral("kato"));           // matched without regard to case
    QVERIFY(open.model->data(open.model->index(0, 1)).isNull()); // no "name" column
    QVERIFY(!(open.model->flags(open.model->index(0, 1)) & Qt::ItemIsEditable));
    QCOMPARE(open.cell(0, 2), QStringLiteral("1"));
}

void TestSimpleDataSet::editsStayInMemoryAndBlockRefresh()
{
    TestDatabase database(Engine::Embedded);
    OpenList open(database.address());

    QVERIFY(open.model->setData(open.model->index(1, 1), QStringLiteral("変更後")));
    QCOMPARE(open.list->state(), db::DataSetState::Edit);
    QCOMPARE(open.model->headerData(1, Qt::Vertical).toString(), QStringLiteral("I"));
    QVERIFY(!open.model->setData(open.model->index(1, 2), QStringLiteral("abc"))); // smallint
    open.list->cancel();
    QCOMPARE(open.cell(1, 1), QStringLiteral("鈴木 花子"));
    QVERIFY(!open.list->hasChanges());

    QVERIFY(open.model->setData(open.model->index(1, 2), QStringLiteral("5")));
    open.list->next(); // leaving the row keeps the edit in memory
    QCOMPARE(open.list->rowState(1), db::RowState::Modified);
    QCOMPARE(open.cell(1, 2), QStringLiteral("5"));
    QVERIFY(open.list->hasChanges());

    const QString refused = errorText([&] { open.list->refresh(); });
    QCOMPARE(
        refused,
        QStringLiteral(
            "SimpleDataSet1: 最新のデータを取得する前に変更データを更新しなければなりません。"));
    QCOMPARE(open.cell(1, 2), QStringLiteral("5")); // the grid keeps what it showed
    QCOMPARE(database.scalar(QStringLiteral(
                 "select user_log_in from USER_REGISTRY where user_name = 'suzuki'")),
             QStringLiteral("1"));

    // A pending edit that changed nothing is dropped by the refresh, not kept.
    open.list->close();
    open.list->open();
    QVERIFY(open.model->setData(open.model->index(0, 1), open.cell(0, 1)));
    QCOMPARE(open.list->state(), db::DataSetState::Browse);
    open.list->refresh();
    QVERIFY(!open.list->hasChanges());
}

void TestSimpleDataSet::insertAndDeleteAreTrackedPerRow()
{
    TestDatabase database(Engine::Embedded);
    OpenList open(database.address());

    open.list->moveTo(2);
    open.list->insert();
    QCOMPARE(open.model->rowCount(), 5);
    QCOMPARE(open.list->currentRow(), 2);
    QCOMPARE(open.model->headerData(2, Qt::Vertical).toString(), QStringLiteral("*"));
    open.list->moveTo(0); // an untouched new row vanishes when left
    QCOMPARE(open.model->rowCount(), 4);
    QVERIFY(!open.list->hasChanges());

    open.list->append();
    QVERIFY(open.model->setData(open.model->index(4, 0), QStringLiteral("new_user")));
    open.list->post();
    QCOMPARE(open.list->rowState(4), db::RowState::Inserted);
    QCOMPARE(open.cell(4, 0), QStringLiteral("new_user"));

    open.list->moveTo(4);
    open.list->deleteCurrent(); // deleting the inserted row leaves no trace
    QVERIFY(!open.list->hasChanges());
    open.list->moveTo(0);
    open.list->deleteCurrent();
    QCOMPARE(open.model->rowCount(), 3);
    QCOMPARE(open.cell(0, 0), QStringLiteral("suzuki"));
    QVERIFY(open.list->hasChanges());

    open.list->close(); // closing drops every change
    open.list->open();
    QCOMPARE(open.model->rowCount(), 4);
    QVERIFY(!open.list->hasChanges());
    QCOMPARE(database.scalar(QStringLiteral("select count(*) from USER_REGISTRY")),
             QStringLiteral("4"));
}

void TestSimpleDataSet::refreshOfAClosedListIsRefused()
{
    db::SimpleDataSet list(QStringLiteral("SimpleDataSet1"), db::ConnectionSettings{});
    QCOMPARE(
        errorText([&] { list.refresh(); }),
        QStringLiteral("SimpleDataSet1: データセットは閉じているため, この操作は実行できません"));
    QVERIFY(!list.connection().connected()); // refused before touching the database
}

void TestSimpleDataSet::refreshRereadsTheTable()
{
    TestDatabase database(Engine::Embedded);
    OpenList open(database.address());
    open.list->moveTo(3);
    database.execute(
        {QStringLiteral("update USER_REGISTRY set user_log_in = 0 where user_name = 'yamada'"),
         QStringLiteral("insert into USER_REGISTRY (user_name, name, user_log_in) values ('ito', "
                        "'伊藤 翼', 1)")});
    QSignalSpy resets(open.model.get(), &QAbstractItemModel::modelReset);
    open.list->refresh();
    QCOMPARE(resets.count(), 1);
    QCOMPARE(open.model->rowCount(), 5);
    QCOMPARE(open.cell(3, 2), QStringLiteral("0"));
    QCOMPARE(open.list->currentRow(), 3); // the position survives the re-read
}

void TestSimpleDataSet::missingTableLeavesTheListClosed()
{
    TestDatabase database(Engine::Embedded, {QStringLiteral("create table OTHER (a integer)")});
    db::ConnectionSettings settings;
    settings.params.setValue(QStringLiteral("Database"), database.address());
    db::SimpleDataSet list(QStringLiteral("SimpleDataSet1"), settings);
    list.setCommandText(QStringLiteral("select * from USER_REGISTRY"));
    const QString message = errorText([&] { list.open(); });
    QVERIFY2(message.contains(QLatin1String("USER_REGISTRY")), qPrintable(message));
    QVERIFY(message.contains(QLatin1String("Table unknown")));
    QVERIFY(!list.active());
    QCOMPARE(list.recordCount(), 0);
    QVERIFY(list.connection().connected()); // the attachment itself succeeded and stays
}

void TestSimpleDataSet::largeListIsReadWhole()
{
    TestDatabase database(
        Engine::Embedded,
        {QStringLiteral("create table USER_REGISTRY (user_name varchar(31) not null primary key,"
                        " name varchar(60), user_log_in smallint)"),
         QStringLiteral(
             "execute block as declare i integer = 0; begin"
             " while (i < 20000) do begin"
             "  insert into USER_REGISTRY values ('u' || :i, '利用者' || :i, mod(:i, 2));"
             "  i = i + 1; end end")});
    OpenList open(database.address());
    QCOMPARE(open.model->rowCount(), 20000);
    QCOMPARE(open.cell(19999, 1), QStringLiteral("利用者19999"));
    open.list->last();
    QCOMPARE(open.list->currentRow(), 19999);
}

QTEST_GUILESS_MAIN(TestSimpleDataSet)
#include "tst_simpledataset.moc"
