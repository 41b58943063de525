// "④ログアウト処理" end to end in the real window: the lookup, the committed update and
// the refreshed grid, with every outcome the operator can meet.
#include "TestDatabase.h"
#include "WindowFixture.h"
#include "db/Attachment.h"
#include "db/RecordSet.h"
#include "db/SimpleDataSet.h"
#include "db/SqlConnection.h"
#include "db/SqlQuery.h"
#include "ui/DBGrid.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using testsupport::Engine;
using testsupport::TestDatabase;
using testsupport::WindowFixture;

namespace {

const QString kNotFound = QStringLiteral("ユーザー名が違います");

QStringList registryWithTrickyNames()
{
    QStringList setup = TestDatabase::standardRegistry();
    for (const char* name : {"o'brien", "' or '1'='1", "a;b", "c--", "山本", "Tanaka", "ito "})
        setup << QStringLiteral("insert into USER_REGISTRY (user_name, name, user_log_in)"
                                " values ('%1', 'x', 1)")
                     .arg(QString::fromUtf8(name).replace(u'\'', QLatin1String("''")));
    return setup;
}

} // namespace

class TestLogout : public QObject
{
    Q_OBJECT

private slots:
    void logoutChangesExactlyThatUserAndTheGridShowsIt();
    void namesAreComparedAsTheDatabaseDoes_data();
    void namesAreComparedAsTheDatabaseDoes();
    void clickEmptiesTheNameBoxButTabKeepsIt();
    void alreadyLoggedOutAndTwiceInARow();
    void listNeverOpenedStillCommits();
    void pendingGridEditsKeepTheOldRows();
    void pathBoxChangedBeforeTheList();
    void logoutAfterAFailedReconnectTriesAgain();
    void refusedUpdateLeavesTheListAlone();
    void missingTableFailsTheLookup();
    void noTransactionOutlivesTheAction_data();
    void noTransactionOutlivesTheAction();
};

void TestLogout::logoutChangesExactlyThatUserAndTheGridShowsIt()
{
    if (!testsupport::requireServer())
        return;
    TestDatabase database(Engine::Server);
    WindowFixture window;
    window.writeProfileFor(database.address());
    window.connect();
    window.list();
    QCOMPARE(window.cell(1, 2), QStringLiteral("1"));
    window.boxes().clear();

    window.logout(QStringLiteral("suzuki"));

    QCOMPARE(window.boxes().texts(), QStringList{}); // success shows no box
    QCOMPARE(database.loginStates(), (QStringList{"sato=0", "suzuki=0", "tanaka=1", "yamada=1"}));
    QCOMPARE(window.gridRows(), (QStringList{"tanaka|田中 太郎|1", "suzuki|鈴木 花子|0",
                                             "sato|佐藤 健|0", "yamada|山田 美咲|1"}));
    QVERIFY(!window.form().SQLQuery1->active()); // closed after the update
}

void TestLogout::namesAreComparedAsTheDatabaseDoes_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("loggedOut"); // users whose state went to 0
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown") << "nobody" << QStringList{} << kNotFound;
    QTest::newRow("initial text") << "③ユーザー名を入力します" << QStringList{} << kNotFound;
    QTest::newRow("empty") << "" << QStringList{} << kNotFound;
    QTest::newRow("quote") << "o'brien" << QStringList{"o'brien"} << "";
    QTest::newRow("tautology") << "' or '1'='1" << QStringList{"' or '1'='1"} << "";
    QTest::newRow("tautology unquoted") << "x' or '1'='1" << QStringList{} << kNotFound;
    QTest::newRow("semicolon") << "a;b" << QStringList{"a;b"} << "";
    QTest::newRow("comment") << "c--" << QStringList{"c--"} << "";
    QTest::newRow("japanese") << "山本" << QStringList{"山本"} << "";
    QTest::newRow("letter case") << "TANAKA" << QStringList{} << kNotFound;
    QTest::newRow("mixed case row") << "Tanaka" << QStringList{"Tanaka"} << "";
    // Firebird pads the shorter side with blanks when it compares text.
    QTest::newRow("trailing blank typed") << "tanaka " << QStringList{"tanaka"} << "";
    QTest::newRow("trailing blank stored") << "ito" << QStringList{"ito "} << "";
    QTest::newRow("leading blank") << " tanaka" << QStringList{} << kNotFound;
}

void TestLogout::namesAreComparedAsTheDatabaseDoes()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, loggedOut);
    QFETCH(QString, message);
    TestDatabase database(Engine::Embedded, registryWithTrickyNames());
    QStringList expected = database.loginStates();
    for (QString& state : expected) {
        const QString user = state.left(state.lastIndexOf(u'='));
        if (loggedOut.contains(user))
            state = user + QStringLiteral("=0");
    }
    WindowFixture window;
    window.writeProfileFor(database.address());
    window.connect();
    window.list();
    window.boxes().clear();

    if (typed == QStringLiteral("③ユーザー名を入力します"))
        window.click("ResetButton"); // the box still holds its initial text
    else
        window.logout(typed);

    QCOMPARE(window.boxes().texts(), message.isEmpty() ? QStringList{} : QStringList{message});
    QCOMPARE(database.loginStates(), expected);
    if (!message.isEmpty())
        QVERIFY(window.form().SQLQuery1->active()); // left open on its empty result
}

void TestLogout::clickEmptiesTheNameBoxButTabKeepsIt()
{
    WindowFixture window;
    QLineEdit* name = window.edit("EditUserName");
    QCOMPARE(name->text(), QStringLiteral("③ユーザー名を入力します"));
    QTest::mouseClick(name, Qt::LeftButton);
    QCOMPARE(name->text(), QString());
    QTest::keyClicks(name, QStringLiteral("sato"));
    QTest::mouseClick(name, Qt::LeftButton); // also a name the operator typed
    QCOMPARE(name->text(), QString());

    name->setText(QStringLiteral("kept"));
    window.edit("DatabaseNameEdit")->setFocus();
    QTest::keyClick(window.edit("DatabaseNameEdit"), Qt::Key_Tab); // the list button is disabled
    QCOMPARE(QApplication::focusWidget(), name);
    QCOMPARE(name->text(), QStringLiteral("kept"));
    QCOMPARE(name->selectedText(), QStringLiteral("kept"));
}

void TestLogout::alreadyLoggedOutAndTwiceInARow()
{
    TestDatabase database(Engine::Embedded);
    WindowFixture window;
    window.writeProfileFor(database.address());
    window.connect();
    window.list();
    window.boxes().clear();
    window.logout(QStringLiteral("sato")); // already 0
    window.logout(QStringLiteral("yamada"));
    window.logout(QStringLiteral("yamada"));
    QCOMPARE(window.boxes().texts(), QStringList{});
    QCOMPARE(database.loginStates(), (QStringList{"sato=0", "suzuki=1", "tanaka=1", "yamada=0"}));
    QCOMPARE(window.cell(3, 2), QStringLiteral("0"));
}

void TestLogout::listNeverOpenedStillCommits()
{
    TestDatabase database(Engine::Embedded);
    WindowFixture window;
    window.writeProfileFor(database.address());
    window.connect();
    window.boxes().clear();
    window.logout(QStringLiteral("tanaka"));
    QCOMPARE(window.boxes().errors(),
             QStringList{QStringLiteral(
                 "SimpleDataSet1: データセットは閉じているため, この操作は実行できません.")});
    QCOMPARE(database.loginStates(), (QStringList{"sato=0", "suzuki=1", "tanaka=0", "yamada=1"}));
    QCOMPARE(window.grid()->model()->rowCount(), 0);
    QVERIFY(!window.form().SimpleDataSet1->connection().connected());
}

void TestLogout::pendingGridEditsKeepTheOldRows()
{
    TestDatabase database(Engine::Embedded);
    WindowFixture window;
    window.writeProfileFor(database.address());
    window.connect();
    window.list();
    QAbstractItemModel* model = window.grid()->model();
    QVERIFY(model->setData(model->index(0, 1), QStringLiteral("書き換え")));
    window.boxes().clear();
    window.logout(QStringLiteral("tanaka"));
    QCOMPARE(window.boxes().errors(),
             QStringList{QStringLiteral("SimpleDataSet1: 最新のデータを取得する前に変更データを更新"
                                        "しなければなりません。.")});
    QCOMPARE(database.loginStates(), (QStringList{"sato=0", "suzuki=1", "tanaka=0", "yamada=1"}));
    QCOMPARE(window.gridRows().front(), QStringLiteral("tanaka|書き換え|1"));
    QCOMPARE(
        database.scalar(QStringLiteral("select name from USER_REGISTRY where user_name='tanaka'")),
        QStringLiteral("田中 太郎")); // grid edits never reach the database

    // A second "②ユーザー一覧" drops the edits, and the grid catches up.
    window.list();
    QCOMPARE(window.gridRows().front(), QStringLiteral("tanaka|田中 太郎|0"));
}

void TestLogout::pathBoxChangedBeforeTheList()
{
    TestDatabase profileDatabase(Engine::Embedded);
    TestDatabase shownDatabase(Engine::Embedded);
    shownDatabase.execute(QStringLiteral("update USER_REGISTRY set name = 'shown'"));
    WindowFixture window;
    window.writeProfileFor(profileDatabase.address());
    window.connect();
    window.edit("DatabaseNameEdit")->setText(shownDatabase.address());
    window.list();
    QCOMPARE(window.gridRows().front(), QStringLiteral("tanaka|shown|1"));

    window.logout(QStringLiteral("tanaka"));
    QCOMPARE(profileDatabase.loginStates(),
             (QStringList{"sato=0", "suzuki=1", "tanaka=0", "yamada=1"}));
    QCOMPARE(shownDatabase.loginStates(),
             (QStringList{"sato=0", "suzuki=1", "tanaka=1", "yamada=1"}));
    QCOMPARE(window.gridRows().front(), QStringLiteral("tanaka|shown|1"));

    // A later path change does not move the open list connection.
    window.edit("DatabaseNameEdit")->setText(profileDatabase.address());
    window.list();
    QCOMPARE(window.gridRows().front(), QStringLiteral("tanaka|shown|1"));
}

void TestLogout::logoutAfterAFailedReconnectTriesAgain()
{
    TestDatabase database(Engine::Embedded);
    WindowFixture window;
    window.writeProfileFor(database.address());
    window.connect();
    window.list();
    window.writeProfile({QStringLiteral("Database=/no/such/folder/x.fdb")});
    window.connect(); // fails: the connection stays closed on the new, bad list
    window.boxes().clear();
    window.logout(QStringLiteral("tanaka"));
    QCOMPARE(window.boxes().errors().size(), 1);
    QVERIFY2(window.boxes().errors().front().contains(QLatin1String("/no/such/folder/x.fdb")),
             qPrintable(window.boxes().errors().front()));

    // Once the file is right again, a logout opens the connection by itself.
    window.form().SQLConnection1->params().setValue(QStringLiteral("Database"), database.address());
    window.boxes().clear();
    window.logout(QStringLiteral("tanaka"));
    QCOMPARE(window.boxes().texts(), QStringList{});
    QVERIFY(window.form().SQLConnection1->connected());
    QCOMPARE(window.cell(0, 2), QStringLiteral("0"));
}

void TestLogout::refusedUpdateLeavesTheListAlone()
{
    if (!testsupport::requireServer())
        return;
    TestDatabase database(Engine::Server);
    // A user who may read the table but not change it.
    const QString user = QStringLiteral("READER_%1").arg(QDateTime::currentMSecsSinceEpoch());
    database.execute({QStringLiteral("create user %1 password 'reader'").arg(user),
                      QStringLiteral("grant select on USER_REGISTRY to %1").arg(user)});
    WindowFixture window;
    window.writeProfile({QStringLiteral("Database=") + database.address(),
                         QStringLiteral("User_Name=") + user, QStringLiteral("Password=reader")});
    window.connect();
    window.list();
    window.boxes().clear();
    window.logout(QStringLiteral("tanaka"));
    QCOMPARE(window.boxes().errors().size(), 1);
    QVERIFY2(window.boxes().errors().front().contains(QLatin1String("no permission")),
             qPrintable(window.boxes().errors().front()));
    QCOMPARE(database.loginStates(), (QStringList{"sato=0", "suzuki=1", "tanaka=1", "yamada=1"}));
    QCOMPARE(window.cell(0, 2), QStringLiteral("1"));
    database.execute(QStringLiteral("drop user %1").arg(user));
}

void TestLogout::missingTableFailsTheLookup()
{
    TestDatabase database(Engine::Embedded, {QStringLiteral("create table OTHER (a integer)")});
    WindowFixture window;
    window.writeProfileFor(database.address());
    window.connect();
    window.boxes().clear();
    window.logout(QStringLiteral("tanaka"));
    QCOMPARE(window.boxes().errors().size(), 1);
    QVERIFY2(window.boxes().errors().front().contains(QLatin1String("USER_REGISTRY")),
             qPrintable(window.boxes().errors().front()));
    QVERIFY(!window.form().SQLQuery1->active());
    QVERIFY(window.form().SQLConnection1->connected());
}

void TestLogout::noTransactionOutlivesTheAction_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("boxes");
    QTest::newRow("unknown name") << "nobody" << QStringList{kNotFound};
    QTest::newRow("logged out") << "tanaka" << QStringList{};
}

void TestLogout::noTransactionOutlivesTheAction()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, boxes);
    if (!testsupport::requireServer())
        return;
    TestDatabase database(Engine::Server);
    WindowFixture window;
    window.writeProfileFor(database.address());
    window.connect();
    window.list();
    window.boxes().clear();

    // Asked from the database's side, by another attachment, as a monitor would see it.
    db::Attachment& profile = window.form().SQLConnection1->attachment();
    QString id;
    {
        db::Transaction transaction(profile, db::TransactionOptions{});
        id = db::fetchAll(profile, transaction,
                          QStringLiteral("select current_connection from rdb$database"))
                 .value(0, 0)
                 .toString();
        transaction.commit();
    }
    const QString openOnProfile =
        QStringLiteral("select count(*) from mon$transactions where mon$attachment_id = %1")
            .arg(id);
    {
        // The count sees a transaction of that attachment while one is open.
        db::Transaction held(profile, db::TransactionOptions{});
        QCOMPARE(database.scalar(openOnProfile), QStringLiteral("1"));
    }

    window.logout(typed);

    QCOMPARE(window.boxes().texts(), boxes);
    QCOMPARE(window.form().SQLQuery1->active(), !boxes.isEmpty()); // open on its empty result
    QCOMPARE(database.scalar(openOnProfile), QStringLiteral("0"));
    // Nor does the list's refresh leave one behind on its own connection.
    QCOMPARE(database.scalar(QStringLiteral("select count(*) from mon$transactions"
                                            " where mon$attachment_id <> current_connection")),
             QStringLiteral("0"));
}

QTEST_MAIN(TestLogout)
#include "tst_logout.moc"
