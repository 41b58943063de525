// "②ユーザー一覧" in the real window: the list connection, the grid and the navigator.
#include "TestDatabase.h"
#include "WindowFixture.h"
#include "db/ListModel.h"
#include "db/SimpleDataSet.h"
#include "db/SqlConnection.h"
#include "ui/DBGrid.h"
#include "ui/DBNavigator.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

using testsupport::Engine;
using testsupport::TestDatabase;
using testsupport::WindowFixture;

namespace {

QString navigatorFlags(const DBNavigator* navigator)
{
    QString flags;
    for (NavigatorButton button :
         {NavigatorButton::First, NavigatorButton::Prior, NavigatorButton::Next,
          NavigatorButton::Last, NavigatorButton::Refresh})
        flags += navigator->button(button)->isEnabled() ? u'1' : u'0';
    return flags;
}

} // namespace

class TestUserList : public QObject
{
    Q_OBJECT

private slots:
    void listsTheProfilesDatabaseOverItsOwnConnection_data();
    void listsTheProfilesDatabaseOverItsOwnConnection();
    void emptyPathBoxTriesTheDefaultDatabase();
    void navigatorFollowsTheCurrentRow_data();
    void navigatorFollowsTheCurrentRow();
    void navigatorRefreshRereadsOrRefuses();
    void gridKeysEditOnlyTheMemory();
    void gridShowsTheFixedColumns();
};

void TestUserList::listsTheProfilesDatabaseOverItsOwnConnection_data()
{
    QTest::addColumn<bool>("server");
    QTest::newRow("server") << true;
    QTest::newRow("embedded") << false;
}

void TestUserList::listsTheProfilesDatabaseOverItsOwnConnection()
{
    QFETCH(bool, server);
    if (server && !testsupport::requireServer())
        return;
    TestDatabase database(server ? Engine::Server : Engine::Embedded);
    WindowFixture window;
    window.writeProfileFor(database.address());
    window.connect();
    QCOMPARE(navigatorFlags(window.navigator()), QStringLiteral("00000"));
    window.list();

    QCOMPARE(window.boxes().errors(), QStringList{});
    QCOMPARE(window.gridRows(), (QStringList{"tanaka|田中 太郎|1", "suzuki|鈴木 花子|1",
                                             "sato|佐藤 健|0", "yamada|山田 美咲|1"}));
    QCOMPARE(window.grid()->currentIndex().row(), 0);
    db::SqlConnection& listConnection = window.form().SimpleDataSet1->connection();
    QCOMPARE(listConnection.params().entries(),
             (QStringList{"drivername=Firebird", "Database=" + database.address(),
                          "User_Name=SYSDBA", "Password=plumbtide"}));
    QVERIFY(listConnection.connected());
    QVERIFY(&listConnection != window.form().SQLConnection1);
    // Closing the profile connection leaves the list's attachment alone.
    window.form().SQLConnection1->close();
    window.list();
    QCOMPARE(window.grid()->model()->rowCount(), 4);
}

void TestUserList::emptyPathBoxTriesTheDefaultDatabase()
{
    TestDatabase database(Engine::Embedded);
    WindowFixture window;
    window.writeProfileFor(database.address());
    window.connect();
    window.edit("DatabaseNameEdit")->clear();
    window.boxes().clear();
    window.list();
    QCOMPARE(window.boxes().errors().size(), 1);
    QVERIFY2(window.boxes().errors().front().contains(QLatin1String("database.gdb")),
             qPrintable(window.boxes().errors().front()));
    QCOMPARE(window.form().SimpleDataSet1->connection().params().entries(),
             (QStringList{"drivername=Firebird", "User_Name=SYSDBA", "Password=plumbtide"}));
    QVERIFY(!window.form().SimpleDataSet1->active());
    QCOMPARE(window.grid()->model()->rowCount(), 0);
}

void TestUserList::navigatorFollowsTheCurrentRow_data()
{
    QTest::addColumn<QList<NavigatorButton>>("clicks");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("flags"); // first, prior, next, last, refresh
    using B = NavigatorButton;
    QTest::newRow("opened") << QList<B>{} << 0 << "00111";
    QTest::newRow("next") << QList<B>{B::Next} << 1 << "11111";
    QTest::newRow("last") << QList<B>{B::Last} << 3 << "11001";
    QTest::newRow("last, prior") << QList<B>{B::Last, B::Prior} << 2 << "11111";
    QTest::newRow("last, first") << QList<B>{B::Last, B::First} << 0 << "00111";
    QTest::newRow("refresh keeps the row")
        << QList<B>{B::Next, B::Next, B::Refresh} << 2 << "11111";
}

void TestUserList::navigatorFollowsTheCurrentRow()
{
    QFETCH(QList<NavigatorButton>, clicks);
    QFETCH(int, row);
    QFETCH(QString, flags);
    TestDatabase database(Engine::Embedded);
    WindowFixture window;
    window.writeProfileFor(database.address());
    window.connect();
    window.list();
    for (NavigatorButton button : clicks)
        QTest::mouseClick(window.navigator()->button(button), Qt::LeftButton);
    QCOMPARE(window.boxes().errors(), QStringList{});
    QCOMPARE(window.form().SimpleDataSet1->currentRow(), row);
    QCOMPARE(window.grid()->currentIndex().row(), row);
    QCOMPARE(navigatorFlags(window.navigator()), flags);
    QCOMPARE(window.grid()->model()->headerData(row, Qt::Vertical).toString(), QStringLiteral("▶"));

    // Choosing a row in the grid moves the list, and the navigator with it.
    window.grid()->setCurrentIndex(window.grid()->model()->index(3, 1));
    QCOMPARE(window.form().SimpleDataSet1->currentRow(), 3);
    QCOMPARE(navigatorFlags(window.navigator()), QStringLiteral("11001"));
}

void TestUserList::navigatorRefreshRereadsOrRefuses()
{
    TestDatabase database(Engine::Embedded);
    WindowFixture window;
    window.writeProfileFor(database.address());
    window.connect();
    window.list();
    QToolButton* refresh = window.navigator()->button(NavigatorButton::Refresh);

    database.execute(QStringLiteral("update USER_REGISTRY set user_log_in = 0"));
    QTest::mouseClick(refresh, Qt::LeftButton);
    QCOMPARE(window.boxes().errors(), QStringList{});
    QCOMPARE(window.cell(0, 2), QStringLiteral("0"));

    // Typing into a cell, then refresh: the edit is kept, so the refresh refuses.
    DBGrid* grid = window.grid();
    window.activate();
    grid->setFocus();
    grid->setCurrentIndex(grid->model()->index(1, 1));
    QTest::keyClick(grid, Qt::Key_F2);
    QWidget* editor = QApplication::focusWidget();
    QVERIFY(editor && editor != grid);
    QTest::keyClicks(editor, QStringLiteral("abc"));
    QTest::mouseClick(refresh, Qt::LeftButton);
    QCOMPARE(window.boxes().errors(),
             QStringList{QStringLiteral("SimpleDataSet1: 最新のデータを取得する前に変更データを更新"
                                        "しなければなりません。.")});
    QCOMPARE(window.cell(1, 1), QStringLiteral("abc"));
    QCOMPARE(window.form().SimpleDataSet1->rowState(1), db::RowState::Modified);
    QCOMPARE(navigatorFlags(window.navigator()), QStringLiteral("11111"));
}

void TestUserList::gridKeysEditOnlyTheMemory()
{
    TestDatabase database(Engine::Embedded);
    WindowFixture window;
    window.writeProfileFor(database.address());
    window.connect();
    window.list();
    DBGrid* grid = window.grid();
    db::SimpleDataSet* list = window.form().SimpleDataSet1;
    grid->setFocus();

    QTest::keyClick(grid, Qt::Key_Insert);
    QCOMPARE(grid->model()->rowCount(), 5);
    QCOMPARE(list->state(), db::DataSetState::Insert);
    QTest::keyClick(grid, Qt::Key_Escape);
    QCOMPARE(grid->model()->rowCount(), 4);
    QCOMPARE(list->state(), db::DataSetState::Browse);

    QTest::mouseClick(window.navigator()->button(NavigatorButton::Last), Qt::LeftButton);
    QTest::keyClick(grid, Qt::Key_Down); // appends below the last row
    QCOMPARE(grid->model()->rowCount(), 5);
    QCOMPARE(grid->currentIndex().row(), 4);
    QTest::keyClick(grid, Qt::Key_Down); // an untouched new row is not followed by another
    QCOMPARE(grid->model()->rowCount(), 5);
    QTest::keyClick(grid, Qt::Key_Up); // and leaving it drops it
    QCOMPARE(grid->model()->rowCount(), 4);

    // Ctrl+Delete asks first; the watcher answers OK.
    grid->setCurrentIndex(grid->model()->index(0, 0));
    window.boxes().clear();
    QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(window.boxes().boxes().size(), std::size_t(1));
    QCOMPARE(window.boxes().boxes().front().icon, QMessageBox::Question);
    QCOMPARE(grid->model()->rowCount(), 3);
    QCOMPARE(window.cell(0, 0), QStringLiteral("suzuki"));
    QVERIFY(list->hasChanges());
    QCOMPARE(database.scalar(QStringLiteral("select count(*) from USER_REGISTRY")),
             QStringLiteral("4"));

    window.list(); // drops the grid's changes
    QCOMPARE(grid->model()->rowCount(), 4);
    QVERIFY(!list->hasChanges());
}

void TestUserList::gridShowsTheFixedColumns()
{
    TestDatabase database(Engine::Embedded);
    WindowFixture window;
    const QHeaderView* header = window.grid()->horizontalHeader();
    const QAbstractItemModel* model = window.grid()->model();
    QCOMPARE(model->columnCount(), 3);
    const QStringList titles{QStringLiteral("ユーザー名"), QStringLiteral("本名"),
                             QStringLiteral("ログ状態")};
    const QList<int> widths{100, 120, 80};
    for (int column = 0; column < 3; ++column) {
        QCOMPARE(model->headerData(column, Qt::Horizontal).toString(), titles[column]);
        QCOMPARE(header->sectionSize(column), widths[column]);
    }
    QVERIFY(window.grid()->verticalHeader()->isVisible()); // the row indicator
    window.writeProfileFor(database.address());
    window.connect();
    window.list();
    QCOMPARE(header->sectionSize(1), 120); // a reset keeps the widths
}

QTEST_MAIN(TestUserList)
#include "tst_userlist.moc"
