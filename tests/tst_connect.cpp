// "①接続" in the real window: reading the profile, opening the profile connection and
// what the operator is told.
#include "TestDatabase.h"
#include "WindowFixture.h"
#include "db/SimpleDataSet.h"
#include "db/SqlConnection.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using testsupport::Engine;
using testsupport::TestDatabase;
using testsupport::WindowFixture;

class TestConnect : public QObject
{
    Q_OBJECT

private slots:
    void connectsAndTellsBeforeTheWindowChanges_data();
    void connectsAndTellsBeforeTheWindowChanges();
    void wrongPasswordShowsTheDriversTextAndChangesNothing();
    void missingProfileFileNamesThePath();
    void profileWithoutDatabaseTriesTheDefault();
    void secondConnectRereadsTheEditedFile();
    void failedReconnectKeepsTheButtonsAndThePath();
};

void TestConnect::connectsAndTellsBeforeTheWindowChanges_data()
{
    QTest::addColumn<bool>("server");
    QTest::newRow("server") << true;
    QTest::newRow("embedded") << false;
}

void TestConnect::connectsAndTellsBeforeTheWindowChanges()
{
    QFETCH(bool, server);
    if (server && !testsupport::requireServer())
        return;
    TestDatabase database(server ? Engine::Server : Engine::Embedded);
    WindowFixture window;
    // Blanks around the name, the "=" and the value, a lower-case section header,
    // comments and other sections must all be read as the operator meant them.
    testsupport::writeProfile(window.profilePath(), {});
    QFile file(window.profilePath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QStringLiteral("[OTHER]\nDatabase=/nowhere.fdb\n"
                              "[fbdocumentconnection]\n"
                              "; Database=/commented.fdb\n"
                              "   Database   =   %1   \r\n"
                              "User_Name=SYSDBA\nPassword=plumbtide\n"
                              "[LATER]\nDatabase=/later.fdb\n")
                   .arg(database.address())
                   .toUtf8());
    file.close();

    window.connect();

    QCOMPARE(window.boxes().texts(), QStringList{QStringLiteral("データベースに接続しました")});
    const testsupport::SeenBox& box = window.boxes().boxes().front();
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QCOMPARE(box.title, QStringLiteral("Tarnwick"));
    QCOMPARE(box.buttonCount, 1);
    QCOMPARE(box.windowState, QStringLiteral("path=;list=0;reset=0"));
    QCOMPARE(window.edit("DatabaseNameEdit")->text(), database.address());
    QVERIFY(window.button("ShowDataButton")->isEnabled());
    QVERIFY(window.button("ResetButton")->isEnabled());
    QVERIFY(window.form().SQLConnection1->connected());
    QCOMPARE(
        window.form().SQLConnection1->params().entries(),
        (QStringList{"Database=" + database.address(), "User_Name=SYSDBA", "Password=plumbtide"}));
}

void TestConnect::wrongPasswordShowsTheDriversTextAndChangesNothing()
{
    if (!testsupport::requireServer())
        return;
    TestDatabase database(Engine::Server);
    WindowFixture window;
    window.writeProfileFor(database.address(), QStringLiteral("wrong"));
    window.connect();

    QCOMPARE(window.boxes().errors().size(), 1);
    const QString error = window.boxes().errors().front();
    QVERIFY2(error.startsWith(QLatin1String("Your user name and password are not defined")),
             qPrintable(error));
    QVERIFY2(!error.contains(QLatin1String("wrong")), "the password is shown to the operator");
    QCOMPARE(window.boxes().boxes().front().title, QStringLiteral("Tarnwick"));
    QCOMPARE(window.boxes().texts().size(), 1); // no "could not connect" after an error
    QVERIFY(!window.button("ShowDataButton")->isEnabled());
    QVERIFY(!window.button("ResetButton")->isEnabled());
    QVERIFY(window.edit("DatabaseNameEdit")->text().isEmpty());
    QVERIFY(!window.form().SQLConnection1->connected());
}

void TestConnect::missingProfileFileNamesThePath()
{
    WindowFixture window;
    window.connect();
    QCOMPARE(window.boxes().errors(),
             QStringList{QStringLiteral("ドライバ/接続レジストリファイル '%1' が見つかりません.")
                             .arg(window.profilePath())});
    QCOMPARE(window.boxes().boxes().front().icon, QMessageBox::Critical);
    QVERIFY(window.form().SQLConnection1->params().entries().isEmpty());
    QVERIFY(!window.form().SQLConnection1->connected());
    QVERIFY(!window.button("ShowDataButton")->isEnabled());
    // The window stays usable: the next connect after the file appears works.
    TestDatabase database(Engine::Embedded);
    window.writeProfileFor(database.address());
    window.boxes().clear();
    window.connect();
    QCOMPARE(window.boxes().texts(), QStringList{QStringLiteral("データベースに接続しました")});
}

void TestConnect::profileWithoutDatabaseTriesTheDefault()
{
    WindowFixture window;
    window.writeProfile({QStringLiteral("User_Name=SYSDBA")});
    window.connect();
    // "database.gdb" is relative to the working folder, where no such database exists.
    QCOMPARE(window.boxes().errors().size(), 1);
    QVERIFY2(window.boxes().errors().front().contains(QLatin1String("database.gdb")),
             qPrintable(window.boxes().errors().front()));

    // When the default does open, the path box is emptied, not left as it was.
    TestDatabase database(Engine::Embedded);
    window.writeProfileFor(database.address());
    window.connect();
    QCOMPARE(window.edit("DatabaseNameEdit")->text(), database.address());
    const QString before = QDir::currentPath();
    QTemporaryDir folder;
    QVERIFY(QFile::copy(database.filePath(), folder.filePath(QStringLiteral("database.gdb"))));
    QDir::setCurrent(folder.path());
    window.writeProfile({QStringLiteral("User_Name=SYSDBA")});
    window.boxes().clear();
    window.connect();
    QDir::setCurrent(before);
    QCOMPARE(window.boxes().texts(), QStringList{QStringLiteral("データベースに接続しました")});
    QCOMPARE(window.edit("DatabaseNameEdit")->text(), QString());
    window.form().SQLConnection1->close();
}

void TestConnect::secondConnectRereadsTheEditedFile()
{
    TestDatabase first(Engine::Embedded);
    TestDatabase second(Engine::Embedded);
    first.execute(QStringLiteral("update USER_REGISTRY set name = 'first'"));
    WindowFixture window;
    window.writeProfileFor(first.address());
    window.connect();
    window.list();
    const QStringList listed = window.gridRows();
    QCOMPARE(listed.front(), QStringLiteral("tanaka|first|1"));

    window.writeProfileFor(second.address());
    window.connect();
    QCOMPARE(window.edit("DatabaseNameEdit")->text(), second.address());
    QCOMPARE(window.boxes().texts().size(), 2);
    // The list keeps its own connection and rows.
    QCOMPARE(window.gridRows(), listed);
    QVERIFY(window.form().SimpleDataSet1->connection().connected());
}

void TestConnect::failedReconnectKeepsTheButtonsAndThePath()
{
    TestDatabase database(Engine::Embedded);
    WindowFixture window;
    window.writeProfileFor(database.address());
    window.connect();
    window.writeProfileFor(QStringLiteral("/no/such/folder/x.fdb"));
    window.connect();
    QCOMPARE(window.boxes().errors().size(), 1);
    QVERIFY(window.button("ShowDataButton")->isEnabled());
    QVERIFY(window.button("ResetButton")->isEnabled());
    QCOMPARE(window.edit("DatabaseNameEdit")->text(), database.address());
    QVERIFY(!window.form().SQLConnection1->connected());
}

QTEST_MAIN(TestConnect)
#include "tst_connect.moc"
