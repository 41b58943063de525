// The real window against a server that stops answering (SIGSTOP) or a network that
// silently drops every packet: each action ends with an error box within the bounds the
// profile sets, nothing is left half-done, and once the server answers again every
// action works without a restart. Also: a list connection found lost re-attaches to the
// database it was first opened on, whatever the path box says by then.
//
// The process moves into a network namespace of its own before anything else, and its
// server runs there too, so that taking the loopback link down cuts only this test's
// connections.
#include "PrivateServer.h"
#include "TestDatabase.h"
#include "WindowFixture.h"
#include "db/Attachment.h"
#include "db/Error.h"
#include "db/SimpleDataSet.h"
#include "db/SqlConnection.h"
#include "ui/DBNavigator.h"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sched.h>
#include <thread>
#include <unistd.h>

using testsupport::FrozenServer;
using testsupport::PrivateServer;
using testsupport::TestDatabase;
using testsupport::WindowFixture;

namespace {

// Small bounds keep the test short; the defaults are the same code with other numbers.
constexpr int kConnectTimeout = 2;
constexpr int kServerTimeout = 2;
/// What a loaded machine may add to a bound: the watchdog's wake-up, the box, the poll
/// that answers it.
constexpr qint64 kMarginMs = 3000;

const QString kPassword = QStringLiteral("plumbtide");

/// Why this process could not get a network of its own; empty when it did.
QString g_isolationFailure;

/// Moves the process (still single-threaded) into a new network namespace. Root may do
/// so directly; anyone else through a user namespace of their own first.
QString enterOwnNetwork()
{
    if (::unshare(CLONE_NEWNET) == 0)
        return {};
    const int direct = errno;
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
        return QStringLiteral("unshare: %1, then %2")
            .arg(QString::fromLocal8Bit(std::strerror(direct)),
                 QString::fromLocal8Bit(std::strerror(errno)));
    const auto write = [](const char* path, const QByteArray& text) {
        QFile file(QString::fromLatin1(path));
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    };
    if (!write("/proc/self/setgroups", "deny") ||
        !write("/proc/self/uid_map", QByteArray("0 ") + QByteArray::number(uid) + " 1") ||
        !write("/proc/self/gid_map", QByteArray("0 ") + QByteArray::number(gid) + " 1"))
        return QStringLiteral("cannot map the user into its namespace");
    return {};
}

/// Empty on success, else the command's complaint. Only ever the namespace's own link.
QString setLoopback(bool up)
{
    QProcess ip;
    ip.setProcessChannelMode(QProcess::MergedChannels);
    ip.start(QStringLiteral("ip"),
             {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"),
              up ? QStringLiteral("up") : QStringLiteral("down")});
    if (!ip.waitForFinished(10000) || ip.exitCode() != 0)
        return QStringLiteral("ip link set lo: ") + QString::fromLocal8Bit(ip.readAll());
    return {};
}

/// Packets on this namespace's loopback vanish for as long as it lives: connections
/// stay open and hear nothing, as behind a dead VPN.
class CutNetwork
{
public:
    CutNetwork() = default;
    ~CutNetwork() { restore(); }
    CutNetwork(const CutNetwork&) = delete;
    CutNetwork& operator=(const CutNetwork&) = delete;

    QString cut()
    {
        m_cut = true;
        return setLoopback(false);
    }
    void restore()
    {
        if (m_cut && setLoopback(true).isEmpty())
            m_cut = false;
    }

private:
    bool m_cut = false;
};

/// Bytes that went through this namespace's loopback so far: only this test's traffic.
qint64 loopbackBytes()
{
    QFile dev(QStringLiteral("/proc/net/dev"));
    if (!dev.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : dev.readAll().split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith("lo:"))
            return trimmed.mid(3).simplified().split(' ').value(0).toLongLong();
    }
    return -1;
}

/// The longest time the window's thread went without running its event loop while
/// this lives: how long the window could neither repaint nor take a click.
class LoopWatch
{
public:
    LoopWatch()
    {
        m_sinceTick.start();
        QObject::connect(&m_tick, &QTimer::timeout,
                         [this] { m_longest = std::max(m_longest, m_sinceTick.restart()); });
        m_tick.start(10);
    }
    qint64 longestMs() const { return std::max(m_longest, m_sinceTick.elapsed()); }

private:
    QTimer m_tick;
    QElapsedTimer m_sinceTick;
    qint64 m_longest = 0;
};

QStringList profileFor(const TestDatabase& database, const QStringList& more = {})
{
    return QStringList{QStringLiteral("Database=") + database.address(),
                       QStringLiteral("User_Name=SYSDBA"), QStringLiteral("Password=") + kPassword,
                       QStringLiteral("ConnectTimeout=%1").arg(kConnectTimeout),
                       QStringLiteral("ServerTimeout=%1").arg(kServerTimeout)} +
           more;
}

/// A second database with a single user of its own.
QStringList otherRegistry()
{
    return {QStringLiteral("create table USER_REGISTRY (user_name varchar(31), name varchar(60),"
                           " user_log_in smallint)"),
            QStringLiteral("insert into USER_REGISTRY values ('other', 'Other DB', 1)")};
}

/// The usual users and many more, each with a long name: a list that takes many
/// round trips to read.
QStringList largeRegistry(int extraUsers)
{
    return TestDatabase::standardRegistry()
           << QStringLiteral("execute block as declare i integer = 0; begin"
                             " while (i < %1) do begin"
                             " insert into USER_REGISTRY (user_name, name, user_log_in)"
                             " values ('user' || :i, rpad('Name ' || :i, 60, '.'), 1);"
                             " i = i + 1; end end")
                  .arg(extraUsers);
}

QString registrySummary(const TestDatabase& database)
{
    return database.rows(QStringLiteral("select count(*), sum(user_log_in) from USER_REGISTRY"))
        .front()
        .join(u'/');
}

void refresh(WindowFixture& window)
{
    QTest::mouseClick(window.navigator()->button(NavigatorButton::Refresh), Qt::LeftButton);
}

enum class Fault
{
    FreezeServer,
    CutNetwork
};

enum class Moment
{
    Connect,   // "①接続" on a fresh window
    Reconnect, // "①接続" again, with an open profile attachment to end first
    Logout,    // "④ログアウト処理" after "①接続" and "②ユーザー一覧"
    LargeList  // the fault strikes while "②ユーザー一覧" reads a long list
};

} // namespace

Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(Moment)

class TestFreeze : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void silentServerEndsInABox_data();
    void silentServerEndsInABox();
    void endlessLockWaitIsCutOnlyWhenTheServerIsGone_data();
    void endlessLockWaitIsCutOnlyWhenTheServerIsGone();
    void lostListReattachesToItsOwnDatabase_data();
    void lostListReattachesToItsOwnDatabase();
    void connectAfterALossReadsTheProfileAnew();

private:
    std::unique_ptr<PrivateServer> m_server;
};

void TestFreeze::initTestCase()
{
    if (!g_isolationFailure.isEmpty()) {
        const QByteArray why = ("no network namespace of its own: " + g_isolationFailure).toUtf8();
        if (qEnvironmentVariableIsSet("TW_TEST_REQUIRE_SERVER"))
            QFAIL(why.constData());
        QSKIP(why.constData());
    }
    const QString up = setLoopback(true);
    QVERIFY2(up.isEmpty(), qPrintable(up));
    if (!QFile::exists(QStringLiteral("/usr/sbin/firebird")))
        QFAIL("no Firebird server program to start (run scripts/setup)");
    m_server = std::make_unique<PrivateServer>();
    const QString failure = m_server->start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void TestFreeze::cleanupTestCase()
{
    m_server.reset();
}

void TestFreeze::silentServerEndsInABox_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<Moment>("moment");
    QTest::addColumn<int>("boundSeconds"); // what the profile allows for this action
    QTest::addColumn<QString>("error");    // part of fbclient's text in the box

    const QString readFailed = QStringLiteral("Error reading data from the connection");
    QTest::newRow("server frozen before connect")
        << Fault::FreezeServer << Moment::Connect << kConnectTimeout
        << QStringLiteral("connection rejected by remote interface");
    // Ending the old attachment waits for the server first, then the new one times out.
    QTest::newRow("server frozen, connect again")
        << Fault::FreezeServer << Moment::Reconnect << kServerTimeout + kConnectTimeout
        << QStringLiteral("connection rejected by remote interface");
    QTest::newRow("server frozen after the list, then logout")
        << Fault::FreezeServer << Moment::Logout << kServerTimeout << readFailed;
    QTest::newRow("server frozen while a large list is read")
        << Fault::FreezeServer << Moment::LargeList << kServerTimeout << readFailed;
    QTest::newRow("network cut after the list, then logout")
        << Fault::CutNetwork << Moment::Logout << kServerTimeout << readFailed;
    QTest::newRow("network cut while a large list is read")
        << Fault::CutNetwork << Moment::LargeList << kServerTimeout << readFailed;
}

void TestFreeze::silentServerEndsInABox()
{
    QFETCH(Fault, fault);
    QFETCH(Moment, moment);
    QFETCH(int, boundSeconds);
    QFETCH(QString, error);

    constexpr int kExtraUsers = 60000;
    const bool large = moment == Moment::LargeList;
    const std::unique_ptr<TestDatabase> database = m_server->createDatabase(
        large ? largeRegistry(kExtraUsers) : TestDatabase::standardRegistry());
    QVERIFY(database);
    const QString before = registrySummary(*database);

    WindowFixture window;
    window.writeProfile(profileFor(*database));
    if (moment != Moment::Connect) {
        window.connect();
        if (!large)
            window.list();
        QCOMPARE(window.boxes().errors(), QStringList{});
        window.boxes().clear();
    }
    const QString path = window.edit("DatabaseNameEdit")->text();
    const QStringList listed = window.gridRows();

    FrozenServer frozen(*m_server, false);
    CutNetwork network;
    const auto strike = [&] {
        if (fault == Fault::FreezeServer)
            frozen.freeze();
        else
            network.cut();
    };

    // The fault strikes either just before the click or, for the large list, once the
    // rows have begun to arrive; the time runs from the fault to the box. A second into
    // the fault the window's thread is blocked in the call, and the cursor is what the
    // operator sees meanwhile.
    QElapsedTimer sinceFault; // started by the thread that strikes, read after it ends
    std::atomic<bool> struck = false;
    std::atomic<int> cursorMeanwhile = -1; // a Qt::CursorShape, or -1 for none
    const auto lookAtTheWindow = [&](const std::stop_token& stop) {
        for (int i = 0; i < 100 && !stop.stop_requested(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (stop.stop_requested())
            return;
        const QCursor* cursor = QGuiApplication::overrideCursor();
        cursorMeanwhile = cursor ? int(cursor->shape()) : -1;
    };
    std::jthread striker;
    const LoopWatch loop;
    if (large) {
        const qint64 start = loopbackBytes();
        striker = std::jthread([&, start](std::stop_token stop) {
            while (!stop.stop_requested() && loopbackBytes() - start < 1'000'000)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (stop.stop_requested())
                return;
            strike();
            sinceFault.start();
            struck = true;
            lookAtTheWindow(stop);
        });
    } else {
        strike();
        sinceFault.start();
        struck = true;
        striker = std::jthread(lookAtTheWindow);
    }
    if (moment == Moment::Logout)
        window.logout(QStringLiteral("tanaka"));
    else if (large)
        window.list();
    else
        window.connect();
    striker.request_stop();
    if (striker.joinable())
        striker.join();
    QVERIFY2(struck, "the list was read before the fault could strike");
    const qint64 faultToBox = sinceFault.elapsed();
    qInfo("%s: fault to box %lld ms (bound %d s); the window's thread ran no events for "
          "%lld ms; cursor meanwhile %s; box: %s",
          QTest::currentDataTag(), faultToBox, boundSeconds, loop.longestMs(),
          cursorMeanwhile == int(Qt::WaitCursor) ? "wait" : "not the wait cursor",
          qPrintable(window.boxes().texts().join(u'|').replace(u'\n', u' ')));

    // One error box with fbclient's words, within the bound and not long before it.
    QCOMPARE(window.boxes().texts().size(), 1);
    QVERIFY2(window.boxes().errors().value(0).contains(error),
             qPrintable(window.boxes().texts().join(u'|')));
    QVERIFY2(faultToBox >= boundSeconds * 1000 - 500, qPrintable(QString::number(faultToBox)));
    QVERIFY2(faultToBox <= boundSeconds * 1000 + kMarginMs,
             qPrintable(QString::number(faultToBox)));

    QCOMPARE(cursorMeanwhile.load(), int(Qt::WaitCursor));
    // The window is usable: normal cursor, buttons and path as before, the grid as
    // before (a list whose reading failed is closed).
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(window.button("ConnectionButton")->isEnabled());
    QCOMPARE(window.button("ShowDataButton")->isEnabled(), moment != Moment::Connect);
    QCOMPARE(window.button("ResetButton")->isEnabled(), moment != Moment::Connect);
    QCOMPARE(window.edit("DatabaseNameEdit")->text(), path);
    QCOMPARE(window.gridRows(), large ? QStringList{} : listed);

    frozen.thaw();
    network.restore();
    QCOMPARE(registrySummary(*database), before);

    // Everything works again without a restart.
    window.boxes().clear();
    if (moment == Moment::Connect || moment == Moment::Reconnect) {
        window.connect();
        QCOMPARE(window.boxes().texts(), QStringList{QStringLiteral("データベースに接続しました")});
        window.boxes().clear();
    }
    window.list();
    QCOMPARE(window.boxes().texts(), QStringList{});
    QCOMPARE(window.gridRows().size(), large ? kExtraUsers + 4 : 4);
    window.logout(QStringLiteral("tanaka"));
    QCOMPARE(window.boxes().texts(), QStringList{});
    QCOMPARE(database->scalar(QStringLiteral(
                 "select user_log_in from USER_REGISTRY where user_name = 'tanaka'")),
             QStringLiteral("0"));
    QVERIFY(window.gridRows().contains(QStringLiteral("tanaka|田中 太郎|0")));
}

void TestFreeze::endlessLockWaitIsCutOnlyWhenTheServerIsGone_data()
{
    QTest::addColumn<bool>("freeze");
    QTest::newRow("server answers: the logout keeps waiting") << false;
    QTest::newRow("server frozen while the logout waits") << true;
}

void TestFreeze::endlessLockWaitIsCutOnlyWhenTheServerIsGone()
{
    QFETCH(bool, freeze);
    const std::unique_ptr<TestDatabase> database = m_server->createDatabase();
    QVERIFY(database);
    WindowFixture window;
    window.writeProfile(profileFor(
        *database, {QStringLiteral("WaitOnLocks=True"), QStringLiteral("LockTimeout=0")}));
    window.connect();
    window.list();
    QCOMPARE(window.boxes().errors(), QStringList{});
    window.boxes().clear();
    const QStringList before = database->loginStates();

    // Another program holds tanaka's row with a change it has not committed.
    db::AttachOptions other;
    other.database = database->address();
    other.user = QStringLiteral("SYSDBA");
    other.password = kPassword;
    db::Attachment holder = db::Attachment::attach(other);
    db::Transaction held(holder, db::TransactionOptions{});
    db::fb::guarded([&] {
        db::fb::Status status;
        holder.get()->execute(&status, held.get(), 0,
                              "update USER_REGISTRY set user_log_in = 5 where user_name = 'tanaka'",
                              3, nullptr, nullptr, nullptr, nullptr);
    });

    FrozenServer frozen(*m_server, false);
    QElapsedTimer sinceFault;
    std::atomic<bool> sawWaiting = false;
    std::atomic<bool> stillWaiting = false;
    std::jthread otherSide([&] {
        const auto logoutWaits = [&] {
            return database->scalar(
                       QStringLiteral("select count(*) from mon$statements where mon$state = 1"
                                      " and mon$sql_text starting with 'update user_registry'")) !=
                   QLatin1String("0");
        };
        for (int i = 0; i < 1500 && !sawWaiting; ++i) {
            sawWaiting = logoutWaits();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (freeze) {
            frozen.freeze();
            sinceFault.start();
            return;
        }
        // Several times the server timeout: the watchdog has asked the server and
        // found it alive more than once by then.
        std::this_thread::sleep_for(std::chrono::seconds(3 * kServerTimeout));
        stillWaiting = logoutWaits();
        held.rollback();
    });
    const LoopWatch loop;
    window.logout(QStringLiteral("tanaka"));
    otherSide.join();
    QVERIFY(sawWaiting);

    if (!freeze) {
        QVERIFY(stillWaiting);
        QCOMPARE(window.boxes().texts(), QStringList{});
        QCOMPARE(database->scalar(QStringLiteral(
                     "select user_log_in from USER_REGISTRY where user_name = 'tanaka'")),
                 QStringLiteral("0"));
        return;
    }

    // Silence first, then a new connection that the frozen server never answers.
    const qint64 faultToBox = sinceFault.elapsed();
    const qint64 bound = (kServerTimeout + kConnectTimeout) * 1000;
    qInfo("%s: fault to box %lld ms (bound %lld ms); the window's thread ran no events for "
          "%lld ms; box: %s",
          QTest::currentDataTag(), faultToBox, bound, loop.longestMs(),
          qPrintable(window.boxes().texts().join(u'|').replace(u'\n', u' ')));
    QCOMPARE(window.boxes().texts().size(), 1);
    QVERIFY2(window.boxes().errors().value(0).contains(
                 QLatin1String("Error reading data from the connection")),
             qPrintable(window.boxes().texts().join(u'|')));
    QVERIFY2(faultToBox <= bound + kMarginMs, qPrintable(QString::number(faultToBox)));

    frozen.thaw();
    held.rollback();
    QCOMPARE(database->loginStates(), before);
    window.boxes().clear();
    window.logout(QStringLiteral("tanaka"));
    QCOMPARE(window.boxes().texts(), QStringList{});
    QCOMPARE(window.gridRows().front(), QStringLiteral("tanaka|田中 太郎|0"));
}

void TestFreeze::lostListReattachesToItsOwnDatabase_data()
{
    QTest::addColumn<QString>("loss");  // how the list's attachment is lost
    QTest::addColumn<QString>("first"); // the first action afterwards
    QTest::newRow("server restarted, then refresh") << "restart"
                                                    << "refresh";
    QTest::newRow("server restarted, then list") << "restart"
                                                 << "list";
    QTest::newRow("server restarted, then logout") << "restart"
                                                   << "logout";
    QTest::newRow("cut off while frozen, then list") << "freeze"
                                                     << "list";
}

void TestFreeze::lostListReattachesToItsOwnDatabase()
{
    QFETCH(QString, loss);
    QFETCH(QString, first);
    const std::unique_ptr<TestDatabase> listed = m_server->createDatabase();
    const std::unique_ptr<TestDatabase> typed = m_server->createDatabase(otherRegistry());
    QVERIFY(listed && typed);

    WindowFixture window;
    window.writeProfile(profileFor(*listed));
    window.connect();
    window.list();
    const QStringList rows = window.gridRows();
    QCOMPARE(rows.size(), 4);

    // The operator types another database and lists again: the list stays where it was,
    // the new path waits unapplied.
    window.edit("DatabaseNameEdit")->setText(typed->address());
    window.list();
    QCOMPARE(window.gridRows(), rows);
    db::SqlConnection& listConnection = window.form().SimpleDataSet1->connection();
    QCOMPARE(listConnection.params().value(QStringLiteral("Database")), typed->address());
    window.boxes().clear();

    if (loss == QLatin1String("restart")) {
        const QString failure = m_server->restart();
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    } else {
        FrozenServer frozen(*m_server);
        refresh(window);
        QCOMPARE(window.boxes().errors().size(), 1);
        QVERIFY(!listConnection.connected());
        window.boxes().clear();
    }

    if (first == QLatin1String("refresh"))
        refresh(window);
    else if (first == QLatin1String("list"))
        window.list();
    else
        window.logout(QStringLiteral("yamada"));
    QCOMPARE(window.boxes().texts(), QStringList{});
    QVERIFY(listConnection.connected());

    // Still the first database's users, in the grid and in what later actions read.
    QStringList expected = rows;
    if (first == QLatin1String("logout"))
        expected.last() = QStringLiteral("yamada|山田 美咲|0");
    QCOMPARE(window.gridRows(), expected);
    listed->execute(QStringLiteral("update USER_REGISTRY set name = 'x' where user_name = 'sato'"));
    refresh(window);
    QCOMPARE(window.boxes().texts(), QStringList{});
    QCOMPARE(window.gridRows().at(2), QStringLiteral("sato|x|0"));
    QCOMPARE(window.edit("DatabaseNameEdit")->text(), typed->address());
    QCOMPARE(typed->loginStates(), QStringList{QStringLiteral("other=1")});
}

void TestFreeze::connectAfterALossReadsTheProfileAnew()
{
    const std::unique_ptr<TestDatabase> first = m_server->createDatabase();
    const std::unique_ptr<TestDatabase> second = m_server->createDatabase(otherRegistry());
    QVERIFY(first && second);
    WindowFixture window;
    window.writeProfile(profileFor(*first));
    window.connect();
    window.list();
    const QStringList before = first->loginStates();
    window.boxes().clear();
    {
        const FrozenServer frozen(*m_server);
        window.logout(QStringLiteral("tanaka"));
    }
    QCOMPARE(window.boxes().errors().size(), 1);
    QVERIFY(!window.form().SQLConnection1->connected());
    window.boxes().clear();

    // A lost connection would re-attach where it was; a connect on purpose reads the
    // profile as it is now.
    window.writeProfile(profileFor(*second));
    window.connect();
    QCOMPARE(window.boxes().texts(), QStringList{QStringLiteral("データベースに接続しました")});
    QCOMPARE(window.edit("DatabaseNameEdit")->text(), second->address());
    window.boxes().clear();
    window.logout(QStringLiteral("other"));
    QCOMPARE(window.boxes().texts(), QStringList{});
    QCOMPARE(second->loginStates(), QStringList{QStringLiteral("other=0")});
    QCOMPARE(first->loginStates(), before);
}

int main(int argc, char** argv)
{
    // Before Qt or fbclient start any thread: a namespace change reaches only the
    // calling thread and those it starts afterwards.
    g_isolationFailure = enterOwnNetwork();
    QApplication app(argc, argv);
    TestFreeze test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_freeze.moc"
