// Hostile input through the real window: broken, huge and odd profile files at the
// profile's path, and user names the database was never meant to see. Each ends in
// what the window is meant to do or in a clear error box; none crashes, hangs or
// changes a row nobody asked for.
#include "ShownText.h"
#include "TestDatabase.h"
#include "WindowFixture.h"
#include "db/SqlConnection.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#if defined(__linux__)
#include <sys/fsuid.h>
#endif

using testsupport::Engine;
using testsupport::TestDatabase;
using testsupport::WindowFixture;

namespace {

const QString kPassword = QStringLiteral("Pw-7q!Zx");
const QString kListPassword = QStringLiteral("plumbtide");
const QString kConnected = QStringLiteral("データベースに接続しました");
const QString kNotFound = QStringLiteral("ユーザー名が違います");

/// What sits at the profile's path.
enum class PathKind
{
    File,       // the bytes of the row
    Directory,  // a folder of that name
    Unreadable, // a file this process may not read
    Fifo,       // a named pipe nobody writes to
    Endless,    // a link to /dev/zero
    Dangling,   // a link to nothing
};

// String literals with embedded NULs would be cut short by the const char* constructor.
template <qsizetype N> QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

QByteArray sectionFor(const QString& database)
{
    return QStringLiteral("[FBDOCUMENTCONNECTION]\nDatabase=%1\nUser_Name=SYSDBA\nPassword=%2\n")
        .arg(database, kPassword)
        .toUtf8();
}

QByteArray utf16le(const QByteArray& utf8)
{
    QByteArray out("\xFF\xFE");
    const QString text = QString::fromUtf8(utf8);
    for (const QChar c : text) {
        out.append(char(c.unicode() & 0xFF));
        out.append(char(c.unicode() >> 8));
    }
    return out;
}

QByteArray randomBytes(qsizetype size, quint32 start)
{
    QRandomGenerator generator(start);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

/// Every row of the table, each column, for "nothing else changed" checks.
QStringList allRows(const TestDatabase& database)
{
    QStringList rows;
    for (const QStringList& row :
         database.rows(QStringLiteral("select * from USER_REGISTRY order by user_name")))
        rows << row.join(u'|');
    return rows;
}

QString loginOf(const TestDatabase& database, const QString& user)
{
    for (const QStringList& row :
         database.rows(QStringLiteral("select user_name, user_log_in from USER_REGISTRY"))) {
        if (row.value(0) == user)
            return row.value(1);
    }
    return {};
}

/// Opening a FIFO for reading blocks until a writer comes. This plays that writer the
/// moment anyone waits there, so a test cannot hang on it, and records that it had to.
class FifoWatchdog
{
public:
    explicit FifoWatchdog(QString path) : m_path(std::move(path))
    {
        m_thread = std::thread([this] {
            const QByteArray name = QFile::encodeName(m_path);
            while (!m_stop) {
                // Succeeds only while someone has the FIFO open for reading.
                const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    m_readerSeen = true;
                    ::close(fd); // the reader sees the end and carries on
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    ~FifoWatchdog()
    {
        m_stop = true;
        m_thread.join();
    }
    FifoWatchdog(const FifoWatchdog&) = delete;
    FifoWatchdog& operator=(const FifoWatchdog&) = delete;

    bool readerSeen() const { return m_readerSeen; }

private:
    QString m_path;
    std::atomic<bool> m_stop = false;
    std::atomic<bool> m_readerSeen = false;
    std::thread m_thread;
};

/// While alive, this thread's file access runs as an unprivileged user, so that file
/// permissions apply even when the tests run as root.
class UnprivilegedFiles
{
public:
    UnprivilegedFiles()
    {
#if defined(__linux__)
        if (::geteuid() == 0) {
            ::setfsuid(65534);
            m_changed = true;
        }
#endif
    }
    ~UnprivilegedFiles()
    {
#if defined(__linux__)
        if (m_changed)
            ::setfsuid(0);
#endif
    }
    UnprivilegedFiles(const UnprivilegedFiles&) = delete;
    UnprivilegedFiles& operator=(const UnprivilegedFiles&) = delete;

private:
    bool m_changed = false;
};

} // namespace

class TestBadInput : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void profileAtThePath_data();
    void profileAtThePath();
    void userNames_data();
    void userNames();

private:
    void remember(WindowFixture& window);

    QStringList m_shown;
    std::unique_ptr<testsupport::OutputCapture> m_output;
};

void TestBadInput::init()
{
    m_shown.clear();
    m_output = std::make_unique<testsupport::OutputCapture>();
}

void TestBadInput::cleanup()
{
    const QString printed = m_output->finish();
    m_output.reset();
    QString leak = testsupport::findSecret(m_shown, {kPassword, kListPassword});
    QVERIFY2(leak.isEmpty(), qPrintable(leak));
    leak = testsupport::findSecret({printed}, {kPassword, kListPassword});
    QVERIFY2(leak.isEmpty(), qPrintable(leak));
}

void TestBadInput::remember(WindowFixture& window)
{
    m_shown << testsupport::boxTexts(window.boxes()) << testsupport::shownTexts();
}

void TestBadInput::profileAtThePath_data()
{
    QTest::addColumn<PathKind>("kind");
    // "%DB%" stands for the test database's path.
    QTest::addColumn<QByteArray>("content");
    // Empty: the window connects. Otherwise a part of the one error box's text.
    QTest::addColumn<QString>("error");

    const QByteArray section = sectionFor(QStringLiteral("%DB%"));
    const QString tryDefault = QStringLiteral("database.gdb"); // no section: the defaults
    const QString cannotOpen = QStringLiteral("を開けません");
    using K = PathKind;

    QTest::newRow("random bytes") << K::File << randomBytes(64 * 1024, 1) << tryDefault;
    QTest::newRow("random bytes after the section")
        << K::File << section + randomBytes(64 * 1024, 2) << QString();
    {
        QByteArray big;
        const QByteArray filler = "; " + QByteArray(1022, 'x') + '\n';
        big.reserve(50 * 1024 * 1024 + section.size());
        while (big.size() < 50 * 1024 * 1024)
            big += filler;
        QTest::newRow("50 MB before the section") << K::File << big + section << QString();
    }
    QTest::newRow("odd-length UTF-16") << K::File << utf16le(section) + 'x' << QString();
    QTest::newRow("UTF-16 byte order mark alone")
        << K::File << QByteArray("\xFF\xFE") << tryDefault;
    QTest::newRow("UTF-8 byte order mark alone")
        << K::File << QByteArray("\xEF\xBB\xBF") << tryDefault;
    QTest::newRow("NULs only") << K::File << QByteArray(4096, '\0') << tryDefault;
    QTest::newRow("NULs around the entries")
        << K::File << bytes("\0[FBDOCUMENTCONNECTION]\0\n\0Database=%DB%\0\n\0User_Name=SYSDBA\n")
        << QString();
    // fbclient would take what comes before the NUL: another file, another password.
    QTest::newRow("NUL inside the database")
        << K::File << bytes("[FBDOCUMENTCONNECTION]\nDatabase=%DB%\0.old\n")
        << QStringLiteral("'Database' に NUL 文字");
    QTest::newRow("NUL inside the password")
        << K::File << bytes("[FBDOCUMENTCONNECTION]\nDatabase=%DB%\nPassword=Pw\0-7q!Zx\n")
        << QStringLiteral("'Password' に NUL 文字");
    QTest::newRow("megabyte comment line")
        << K::File << "; " + QByteArray(1024 * 1024, 'x') + '\n' + section << QString();
    QTest::newRow("megabyte line without =")
        << K::File << section + QByteArray(1024 * 1024, 'x') + '\n'
        << QString();
    QTest::newRow("megabyte database")
        << K::File << "[FBDOCUMENTCONNECTION]\nDatabase=/" + QByteArray(1024 * 1024, 'd') + '\n'
        << QStringLiteral("length exceeds predefined limit");
    // fbclient's text about it fills its whole buffer: the box must end with that text.
    QTest::newRow("5,000-character database")
        << K::File << "[FBDOCUMENTCONNECTION]\nDatabase=/" + QByteArray(4999, 'd') + '\n'
        << QStringLiteral("I/O error");
    QTest::newRow("megabyte password")
        << K::File
        << "[FBDOCUMENTCONNECTION]\nDatabase=%DB%\nPassword=" + kPassword.toUtf8() +
               QByteArray(1024 * 1024, 'p') + '\n'
        << QStringLiteral("Clumplet buffer size limit reached");
    QTest::newRow("no final line break") << K::File << section.chopped(1) << QString();
    QTest::newRow("directory") << K::Directory << QByteArray()
                               << QStringLiteral("ディレクトリです");
    QTest::newRow("unreadable file") << K::Unreadable << section << cannotOpen;
    QTest::newRow("FIFO") << K::Fifo << QByteArray() << cannotOpen;
    QTest::newRow("link to /dev/zero") << K::Endless << QByteArray() << cannotOpen;
    QTest::newRow("link to nothing")
        << K::Dangling << QByteArray() << QStringLiteral("が見つかりません");
}

void TestBadInput::profileAtThePath()
{
    QFETCH(PathKind, kind);
    QFETCH(QByteArray, content);
    QFETCH(QString, error);

    TestDatabase database(Engine::Embedded);
    WindowFixture window;
    const QString path = window.profilePath();
    content.replace("%DB%", database.address().toUtf8());
    content.replace(utf16le("%DB%").sliced(2), utf16le(database.address().toUtf8()).sliced(2));
    std::unique_ptr<FifoWatchdog> watchdog;
    std::unique_ptr<UnprivilegedFiles> unprivileged;
    switch (kind) {
    case PathKind::File: {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
        break;
    }
    case PathKind::Directory:
        QVERIFY(QDir().mkdir(path));
        break;
    case PathKind::Unreadable: {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        // Others may look into the folder but not into the file.
        QVERIFY(QFile::setPermissions(QFileInfo(path).path(),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner | QFileDevice::ExeOther));
        QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        unprivileged = std::make_unique<UnprivilegedFiles>();
        QFile probe(path);
        if (probe.open(QIODevice::ReadOnly)) {
            unprivileged.reset();
            QSKIP("file permissions do not apply here (root without setfsuid)");
        }
        break;
    }
    case PathKind::Fifo:
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        watchdog = std::make_unique<FifoWatchdog>(path);
        break;
    case PathKind::Endless:
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        break;
    case PathKind::Dangling:
        QVERIFY(QFile::link(path + QStringLiteral(".gone"), path));
        break;
    }

    QElapsedTimer timer;
    timer.start();
    window.connect();
    const qint64 took = timer.elapsed();
    unprivileged.reset();
    if (watchdog)
        QVERIFY2(!watchdog->readerSeen(), "the window opened the FIFO and waited for a writer");
    watchdog.reset();
    qInfo("\"①接続\" took %lld ms", took);
    remember(window);

    if (error.isEmpty()) {
        QCOMPARE(window.boxes().texts(), QStringList{kConnected});
        QCOMPARE(window.edit("DatabaseNameEdit")->text(), database.address());
    } else {
        QCOMPARE(window.boxes().texts().size(), 1);
        QVERIFY2(window.boxes().errors().value(0).contains(error),
                 qPrintable(window.boxes().texts().join(u'|').left(500)));
        // Bytes from beyond a text's end show up as undecodable or control characters.
        const QString shown = window.boxes().errors().value(0);
        const auto stray = std::find_if(shown.cbegin(), shown.cend(), [](QChar c) {
            return c == QChar::ReplacementCharacter || (c.unicode() < 0x20 && c != u'\n');
        });
        QVERIFY2(stray == shown.cend(), qPrintable(shown.right(200)));
        QVERIFY(!window.form().SQLConnection1->connected());
        QVERIFY(window.edit("DatabaseNameEdit")->text().isEmpty());
    }

    // Still usable: a sound profile in its place connects.
    QFile::remove(path);
    QDir().rmdir(path);
    window.writeProfileFor(database.address(), kPassword);
    window.boxes().clear();
    window.connect();
    QCOMPARE(window.boxes().texts(), QStringList{kConnected});
    remember(window);
}

void TestBadInput::userNames_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("profileExtra");
    // Empty: the stored user `loggedOut` is logged out and nothing else changes.
    // Otherwise a part of the one box's text, and nothing changes at all.
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("loggedOut"); // empty: the name as typed

    const QStringList none;
    const QStringList latin1{QStringLiteral("ServerCharSet=ISO8859_1")};
    const QString typed;

    QTest::newRow("statement after a quote")
        << "'; delete from USER_REGISTRY--" << none << kNotFound << typed;
    QTest::newRow("block comment") << "tanaka/* x */" << none << kNotFound << typed;
    QTest::newRow("comment after a quote") << "tanaka' --" << none << kNotFound << typed;
    QTest::newRow("tab, stored with it") << "tab\tname" << none << "" << typed;
    QTest::newRow("tab for a trailing blank") << "tanaka\t" << none << kNotFound << typed;
    QTest::newRow("newline") << "tanaka\nsuzuki" << none << kNotFound << typed;
    QTest::newRow("trailing newline") << "tanaka\n" << none << kNotFound << typed;
    QTest::newRow("NUL") << QStringLiteral("tan") + QChar(u'\0') + QStringLiteral("aka") << none
                         << kNotFound << typed;
    QTest::newRow("trailing NUL") << QStringLiteral("tanaka") + QChar(u'\0') << none << kNotFound
                                  << typed;
    QTest::newRow("escape sequence") << "\x1b[2Jtanaka" << none << kNotFound << typed;
    QTest::newRow("outside the BMP, stored") << "𠮷田" << none << "" << typed;
    QTest::newRow("look-alike inside the BMP") << "吉田" << none << kNotFound << typed;
    // Names nothing stored can equal. Each would reach a stored row ("?田", "??",
    // "tanaka") if it travelled with "?" for what the character set lacks, or cut short.
    QTest::newRow("lone surrogate")
        << QString(QChar(0xD842)) + QStringLiteral("田") << none << kNotFound << typed;
    QTest::newRow("not in the connection's character set")
        << "田中" << latin1 << kNotFound << typed;
    QTest::newRow("Latin-1 name under Latin-1") << "josé" << latin1 << "" << typed;
    QTest::newRow("one past the column") << QString(32, u'x') << none << kNotFound << typed;
    QTest::newRow("wide characters past the column")
        << QString(31, QChar(0x6F22)) + u'x' << none << kNotFound << typed;
    QTest::newRow("stored name with blanks past the column")
        << "tanaka" + QString(40, u' ') << none << "" << QStringLiteral("tanaka");
    QTest::newRow("past the column, then blanks")
        << QString(32, u'x') + QString(40, u' ') << none << kNotFound << typed;
    QTest::newRow("longest value the server takes")
        << QString(32765, u'x') << none << kNotFound << typed;
    QTest::newRow("one byte more") << QString(32766, u'x') << none << kNotFound << typed;
    QTest::newRow("40,000 bytes of Japanese")
        << QString(13334, QChar(0x6F22)) << none << kNotFound << typed;
    // Equal to "tanaka" as the database compares, but longer than any text it takes
    // (32,767 characters is as much as the box holds).
    QTest::newRow("stored name with blanks to the box's limit")
        << "tanaka" + QString(32761, u' ') << none << kNotFound << typed;
    // 65542 bytes in UTF-8, which a 16-bit length would have turned into "tanaka".
    QTest::newRow("wraps past 64 KiB")
        << QStringLiteral("tanaka") + QString(21845, QChar(0x6F22)) + u'x' << none << kNotFound
        << typed;
}

void TestBadInput::userNames()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, profileExtra);
    QFETCH(QString, message);
    QFETCH(QString, loggedOut);
    if (loggedOut.isEmpty())
        loggedOut = typed;

    QStringList setup = TestDatabase::standardRegistry();
    for (const QString& name :
         {QStringLiteral("tab\tname"), QStringLiteral("𠮷田"), QStringLiteral("?田"),
          QStringLiteral("?\?"), QStringLiteral("josé")})
        setup << QStringLiteral("insert into USER_REGISTRY (user_name, name, user_log_in)"
                                " values ('%1', 'x', 1)")
                     .arg(name);
    TestDatabase database(Engine::Embedded, setup);
    WindowFixture window;
    window.writeProfile(QStringList{QStringLiteral("Database=") + database.address(),
                                    QStringLiteral("User_Name=SYSDBA"),
                                    QStringLiteral("Password=") + kPassword} +
                        profileExtra);
    window.connect();
    window.list();
    const QStringList listed = window.gridRows();
    QStringList expected = allRows(database);
    if (message.isEmpty()) {
        for (QString& row : expected) {
            if (row.startsWith(loggedOut + u'|')) {
                QStringList cells = row.split(u'|');
                cells[2] = QStringLiteral("0");
                row = cells.join(u'|');
            }
        }
        QVERIFY(expected != allRows(database)); // the row exists and was logged in
    }
    window.boxes().clear();

    // Pasted, as such names arrive: typing cannot produce most of them.
    QLineEdit* box = window.edit("EditUserName");
    QTest::mouseClick(box, Qt::LeftButton);
    QApplication::clipboard()->setText(typed);
    box->setFocus();
    QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(box->text(), typed);
    window.click("ResetButton");
    remember(window);

    if (message.isEmpty()) {
        QCOMPARE(window.boxes().texts(), QStringList{});
        QCOMPARE(loginOf(database, loggedOut), QStringLiteral("0"));
    } else {
        QCOMPARE(window.boxes().texts().size(), 1);
        QVERIFY2(window.boxes().texts().value(0).contains(message),
                 qPrintable(window.boxes().texts().value(0).left(500)));
        QCOMPARE(window.gridRows(), listed);
    }
    QCOMPARE(allRows(database), expected);
}

QTEST_MAIN(TestBadInput)
#include "tst_badinput.moc"
