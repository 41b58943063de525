// Passwords never reach the operator's eyes or the program's output: not the profile's,
// not a mistyped one, not the list's fixed one, whatever succeeds or fails.
//
// The profile logs in as a user of its own with a password found nowhere else, and
// nothing of the test's own setup is shown or printed, so finding any of the passwords
// in what the window shows or what the process writes is a real leak.
#include "ShownText.h"
#include "TestDatabase.h"
#include "WindowFixture.h"
#include "app/Application.h"
#include "db/Error.h"
#include "db/SqlConnection.h"
#include "ui/DBGrid.h"
#include "ui/DBNavigator.h"

#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <memory>

using testsupport::Engine;
using testsupport::TestDatabase;
using testsupport::WindowFixture;

namespace {

const QString kPassword = QStringLiteral("Pw-7q!Zx");
const QString kWrongPassword = QStringLiteral("Wr-3x#Kp");
const QString kListPassword = QStringLiteral("plumbtide");
const QStringList kSecrets{kPassword, kWrongPassword, kListPassword};
const QString kUser = QStringLiteral("TW_SECRETS_%1").arg(QCoreApplication::applicationPid());

QStringList profileFor(const QString& database, const QString& password)
{
    return {QStringLiteral("Database=") + database, QStringLiteral("User_Name=") + kUser,
            QStringLiteral("Password=") + password};
}

/// The child process's part: the window as main() runs it, operated by clicks until
/// "終了" ends the event loop. Boxes are answered as an operator would.
int operate(int argc, char* argv[])
{
    QApplication app(argc, argv);
    setUpApplication(app);
    const QString profile = QString::fromLocal8Bit(argv[2]);
    const QString wrongProfile = QString::fromLocal8Bit(argv[3]);
    TMainForm form(profile);
    MainForm = &form;
    form.show();
    testsupport::BoxWatcher boxes;
    const auto button = [&](const char* name) {
        return form.findChild<QPushButton*>(QString::fromLatin1(name));
    };
    const auto edit = [&](const char* name) {
        return form.findChild<QLineEdit*>(QString::fromLatin1(name));
    };
    QTimer::singleShot(0, &form, [&] {
        button("ConnectionButton")->click();
        // The list on a database that is not there first, then on the right one.
        const QString database = edit("DatabaseNameEdit")->text();
        edit("DatabaseNameEdit")->setText(QStringLiteral("localhost:/no/such/database.fdb"));
        button("ShowDataButton")->click();
        edit("DatabaseNameEdit")->setText(database);
        button("ShowDataButton")->click();
        edit("EditUserName")->setText(QStringLiteral("tanaka"));
        button("ResetButton")->click();
        edit("EditUserName")->setText(QStringLiteral("nobody"));
        button("ResetButton")->click();
        // A mistyped password, then the end.
        QFile::remove(profile);
        QFile::copy(wrongProfile, profile);
        button("ConnectionButton")->click();
        button("EndButton")->click();
    });
    const int exitCode = app.exec();
    MainForm = nullptr;
    // Only a count, so that nothing of the test's own gets into the output scanned.
    std::printf("boxes answered: %d\n", int(boxes.boxes().size()));
    return exitCode;
}

} // namespace

class TestSecrets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void operatorRunShowsNoPassword();
    void failuresShowNoPassword_data();
    void failuresShowNoPassword();
    void programOutputHasNoPassword();

private:
    void scan(WindowFixture& window, QStringList& shown);

    std::unique_ptr<TestDatabase> m_database;
};

void TestSecrets::initTestCase()
{
    if (!testsupport::requireServer())
        return;
    m_database = std::make_unique<TestDatabase>(Engine::Server);
    m_database->execute(
        {QStringLiteral("create or alter user %1 password '%2'").arg(kUser, kPassword),
         QStringLiteral("grant select, update on USER_REGISTRY to %1").arg(kUser)});
}

void TestSecrets::cleanupTestCase()
{
    if (!m_database)
        return;
    try {
        m_database->execute(QStringLiteral("drop user %1").arg(kUser));
    } catch (const db::Error& e) {
        qWarning("could not drop the test user: %s", e.what());
    }
    m_database.reset();
}

void TestSecrets::scan(WindowFixture& window, QStringList& shown)
{
    shown << testsupport::boxTexts(window.boxes()) << testsupport::shownTexts();
}

void TestSecrets::operatorRunShowsNoPassword()
{
    QVERIFY(m_database);
    QStringList shown;
    testsupport::OutputCapture output;
    {
        WindowFixture window;
        window.writeProfile(profileFor(m_database->address(), kPassword));
        window.connect();
        scan(window, shown);
        window.list();
        scan(window, shown);
        QTest::mouseClick(window.navigator()->button(NavigatorButton::Next), Qt::LeftButton);
        QTest::mouseClick(window.navigator()->button(NavigatorButton::Refresh), Qt::LeftButton);
        scan(window, shown);
        window.logout(QStringLiteral("suzuki"));
        scan(window, shown);
        window.logout(QStringLiteral("nobody"));
        scan(window, shown);
        // The grid's editor open on a cell shows what the list holds, too.
        window.grid()->setCurrentIndex(window.grid()->model()->index(0, 1));
        window.grid()->edit(window.grid()->currentIndex());
        scan(window, shown);

        QCOMPARE(window.boxes().errors(), QStringList{});
        QCOMPARE(window.boxes().texts(), (QStringList{QStringLiteral("データベースに接続しました"),
                                                      QStringLiteral("ユーザー名が違います")}));
        QCOMPARE(window.cell(1, 2), QStringLiteral("0"));
        QVERIFY(window.form().SQLConnection1->params().value(QStringLiteral("Password")) ==
                kPassword); // it was there to leak
    }
    const QString printed = output.finish();
    QString leak = testsupport::findSecret(shown, kSecrets);
    QVERIFY2(leak.isEmpty(), qPrintable(leak));
    leak = testsupport::findSecret({printed}, kSecrets);
    QVERIFY2(leak.isEmpty(), qPrintable(leak));
}

void TestSecrets::failuresShowNoPassword_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("expected"); // a part of the one error box
    QTest::newRow("wrong password") << "wrong password"
                                    << "Your user name and password are not defined";
    QTest::newRow("password of another user") << "password of another user"
                                              << "Your user name and password are not defined";
    QTest::newRow("unknown server") << "unknown server"
                                    << "Unable to complete network request";
    QTest::newRow("list of a missing database") << "list of a missing database"
                                                << "/no/such/database.fdb";
    QTest::newRow("list of a server without us") << "list of a server without us"
                                                 << "Unable to complete network request";
    QTest::newRow("password far too long") << "password far too long"
                                           << "Your user name and password are not defined";
}

void TestSecrets::failuresShowNoPassword()
{
    QFETCH(QString, failure);
    QFETCH(QString, expected);
    QVERIFY(m_database);
    QStringList shown;
    testsupport::OutputCapture output;
    {
        WindowFixture window;
        const QString address = m_database->address();
        if (failure == QLatin1String("wrong password")) {
            window.writeProfile(profileFor(address, kWrongPassword));
        } else if (failure == QLatin1String("password of another user")) {
            // The right password for the wrong user, as when two lines are swapped.
            window.writeProfile({QStringLiteral("Database=") + address,
                                 QStringLiteral("User_Name=SYSDBA"),
                                 QStringLiteral("Password=") + kPassword});
        } else if (failure == QLatin1String("unknown server")) {
            // A port where nothing listens: the address is shown, the password is not.
            window.writeProfile(profileFor(QStringLiteral("localhost/1:/x.fdb"), kPassword));
        } else if (failure == QLatin1String("password far too long")) {
            window.writeProfile(profileFor(address, kPassword + QString(70000, u'p')));
        } else {
            window.writeProfile(profileFor(address, kPassword));
            window.connect();
            QCOMPARE(window.boxes().errors(), QStringList{});
            window.boxes().clear();
            window.edit("DatabaseNameEdit")
                ->setText(failure == QLatin1String("list of a missing database")
                              ? testsupport::serverAddress() +
                                    QStringLiteral(":/no/such/database.fdb")
                              : QStringLiteral("localhost/1:/x.fdb"));
            window.list();
        }
        if (!failure.startsWith(QLatin1String("list")))
            window.connect();
        scan(window, shown);
        QCOMPARE(window.boxes().errors().size(), 1);
        QVERIFY2(window.boxes().errors().front().contains(expected),
                 qPrintable(window.boxes().errors().front()));
    }
    const QString printed = output.finish();
    QString leak = testsupport::findSecret(shown, kSecrets);
    QVERIFY2(leak.isEmpty(), qPrintable(leak));
    leak = testsupport::findSecret({printed}, kSecrets);
    QVERIFY2(leak.isEmpty(), qPrintable(leak));
}

void TestSecrets::programOutputHasNoPassword()
{
    QVERIFY(m_database);
    m_database->execute(QStringLiteral("update USER_REGISTRY set user_log_in = 1"));
    QTemporaryDir folder;
    const QString profile = folder.filePath(QStringLiteral("Connection.ini"));
    const QString wrongProfile = folder.filePath(QStringLiteral("Wrong.ini"));
    testsupport::writeProfile(profile, profileFor(m_database->address(), kPassword));
    testsupport::writeProfile(wrongProfile, profileFor(m_database->address(), kWrongPassword));

    // A process of its own, so that everything it writes up to its very end is seen,
    // fbclient's and Qt's messages included.
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--operate"), profile, wrongProfile});
    QVERIFY(child.waitForFinished(60000));
    const QString printed = QString::fromLocal8Bit(child.readAll());
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             qPrintable(printed));
    // It did operate: connected, met the errors on its way, listed and logged out.
    QVERIFY2(printed.contains(QLatin1String("boxes answered: 4")), qPrintable(printed));
    QCOMPARE(m_database->scalar(QStringLiteral(
                 "select user_log_in from USER_REGISTRY where user_name = 'tanaka'")),
             QStringLiteral("0"));
    const QString leak = testsupport::findSecret({printed}, kSecrets);
    QVERIFY2(leak.isEmpty(), qPrintable(leak));
}

int main(int argc, char* argv[])
{
    if (argc == 4 && qstrcmp(argv[1], "--operate") == 0)
        return operate(argc, argv);
    QApplication app(argc, argv);
    TestSecrets test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_secrets.moc"
