// Legacy databases of character set NONE, whose text is bytes in whatever encoding the
// application wrote: the grid shows the names, and "④ログアウト処理" finds them, in the
// character set the profile names; under the default UTF8 the bytes that are not UTF-8
// show as U+FFFD and no spelling matches them.
#include "TestDatabase.h"
#include "WindowFixture.h"

#include <QStringEncoder>
#include <QTest>

using testsupport::Engine;
using testsupport::TestDatabase;
using testsupport::WindowFixture;

namespace {

const QString kNotFound = QStringLiteral("ユーザー名が違います");
const QChar kBad = QChar::ReplacementCharacter;

QByteArray encoded(const char* qtCodec, const QString& text)
{
    QStringEncoder encoder(qtCodec);
    const QByteArray bytes = encoder.encode(text);
    if (!encoder.isValid() || encoder.hasError())
        qFatal("%s cannot carry %s", qtCodec, qPrintable(text));
    return bytes;
}

/// A string literal of exactly these bytes, whatever the attachment's character set.
QString bytesLiteral(const QByteArray& bytes)
{
    return QStringLiteral("x'%1'").arg(QString::fromLatin1(bytes.toHex()));
}

/// USER_REGISTRY of a NONE database with one user stored as these bytes, among users
/// with plain ASCII names; `tag` names each row in plain ASCII for the checks.
QStringList legacyRegistry(const QByteArray& userName, const QByteArray& fullName)
{
    return {
        QStringLiteral("create table USER_REGISTRY ("
                       " user_name varchar(31) not null primary key,"
                       " name varchar(60),"
                       " user_log_in smallint,"
                       " tag varchar(10))"),
        QStringLiteral("insert into USER_REGISTRY values ('sato', 'Sato Ken', 1, 'sato')"),
        QStringLiteral("insert into USER_REGISTRY values (%1, %2, 1, 'legacy')")
            .arg(bytesLiteral(userName), bytesLiteral(fullName)),
        QStringLiteral("insert into USER_REGISTRY values ('yamada', 'Yamada Misaki', 1, 'yamada')"),
    };
}

QStringList statesByTag(const TestDatabase& database)
{
    QStringList states;
    for (const QStringList& row :
         database.rows(QStringLiteral("select tag, user_log_in from USER_REGISTRY order by tag")))
        states << row.join(u'=');
    return states;
}

} // namespace

class TestCharsets : public QObject
{
    Q_OBJECT

private slots:
    void noneTextShownAndFoundInTheProfilesCharset_data();
    void noneTextShownAndFoundInTheProfilesCharset();
    void undecodableBytesUnderUtf8_data();
    void undecodableBytesUnderUtf8();
};

void TestCharsets::noneTextShownAndFoundInTheProfilesCharset_data()
{
    QTest::addColumn<QByteArray>("userName"); // the bytes stored
    QTest::addColumn<QByteArray>("fullName");
    QTest::addColumn<QString>("serverCharSet"); // empty: the profile has no entry
    QTest::addColumn<QString>("shownUser");
    QTest::addColumn<QString>("shownFull");

    const QString jose = QStringLiteral("José");
    const QString joseFull = QStringLiteral("José García");
    QTest::newRow("Latin-1 bytes, ISO8859_1")
        << encoded("ISO-8859-1", jose) << encoded("ISO-8859-1", joseFull) << "ISO8859_1" << jose
        << joseFull;
    QTest::newRow("Latin-1 bytes, WIN1252")
        << encoded("ISO-8859-1", jose) << encoded("ISO-8859-1", joseFull) << "WIN1252" << jose
        << joseFull;
    const QString tanaka = QStringLiteral("田中");
    const QString tanakaFull = QStringLiteral("田中 太郎");
    QTest::newRow("Shift-JIS bytes, SJIS_0208")
        << encoded("Shift_JIS", tanaka) << encoded("Shift_JIS", tanakaFull) << "SJIS_0208" << tanaka
        << tanakaFull;
    // The same two characters in the other legacy Japanese encoding.
    QTest::newRow("EUC-JP bytes, EUCJ_0208")
        << encoded("EUC-JP", tanaka) << encoded("EUC-JP", tanakaFull) << "EUCJ_0208" << tanaka
        << tanakaFull;
    // What newer applications put into NONE columns: nothing to set.
    QTest::newRow("UTF-8 bytes, default profile")
        << tanaka.toUtf8() << tanakaFull.toUtf8() << "" << tanaka << tanakaFull;
}

void TestCharsets::noneTextShownAndFoundInTheProfilesCharset()
{
    QFETCH(QByteArray, userName);
    QFETCH(QByteArray, fullName);
    QFETCH(QString, serverCharSet);
    QFETCH(QString, shownUser);
    QFETCH(QString, shownFull);
    if (!testsupport::requireServer())
        return;
    TestDatabase database(Engine::Server, legacyRegistry(userName, fullName),
                          QStringLiteral("NONE"));
    WindowFixture window;
    QStringList profile{QStringLiteral("Database=") + database.address(),
                        QStringLiteral("User_Name=SYSDBA"), QStringLiteral("Password=plumbtide")};
    if (!serverCharSet.isEmpty())
        profile << QStringLiteral("ServerCharSet=") + serverCharSet;
    window.writeProfile(profile);
    window.connect();
    window.list();
    const QStringList before{shownUser + u'|' + shownFull + QStringLiteral("|1"),
                             QStringLiteral("sato|Sato Ken|1"),
                             QStringLiteral("yamada|Yamada Misaki|1")};
    QStringList rows = window.gridRows();
    rows.sort();
    QStringList expected = before;
    expected.sort();
    QCOMPARE(rows, expected);
    window.boxes().clear();

    // What the grid shows is what the operator types, and that finds the stored bytes.
    window.logout(shownUser);

    QCOMPARE(window.boxes().texts(), QStringList{});
    QCOMPARE(statesByTag(database),
             (QStringList{QStringLiteral("legacy=0"), QStringLiteral("sato=1"),
                          QStringLiteral("yamada=1")}));
    rows = window.gridRows(); // refreshed, and still decoded the same way
    rows.sort();
    expected.replaceInStrings(shownFull + QStringLiteral("|1"), shownFull + QStringLiteral("|0"));
    QCOMPARE(rows, expected);
}

void TestCharsets::undecodableBytesUnderUtf8_data()
{
    QTest::addColumn<QByteArray>("userName");
    QTest::addColumn<QString>("shownUser");
    QTest::addColumn<QString>("typed");

    // One U+FFFD for each byte outside a valid UTF-8 sequence, the rest as it is.
    QTest::newRow("Latin-1 é") << QByteArray("Jos\xE9") << QStringLiteral("Jos") + kBad
                               << QStringLiteral("José");
    // 田中 in Shift-JIS: 93 63 92 86; 0x63 is "c" on its own.
    QTest::newRow("Shift-JIS pairs")
        << QByteArray("\x93\x63\x92\x86") << QString(kBad) + u'c' + kBad + kBad
        << QStringLiteral("田中");
    // A three-byte sequence cut after two bytes, then valid text again.
    QTest::newRow("cut-off sequence")
        << QByteArray("ab\xE7\x94x") << QStringLiteral("ab") + kBad + kBad + u'x'
        << QStringLiteral("abx");
    // Encoded surrogates and over-long forms are not UTF-8 either.
    QTest::newRow("encoded surrogate")
        << QByteArray("s\xED\xA0\x80") << QStringLiteral("s") + QString(3, kBad)
        << QStringLiteral("s");
    QTest::newRow("over-long slash")
        << QByteArray("o\xC0\xAF") << QStringLiteral("o") + QString(2, kBad)
        << QStringLiteral("o/");
}

void TestCharsets::undecodableBytesUnderUtf8()
{
    QFETCH(QByteArray, userName);
    QFETCH(QString, shownUser);
    QFETCH(QString, typed);
    if (!testsupport::requireServer())
        return;
    TestDatabase database(Engine::Server, legacyRegistry(userName, QByteArray("x")),
                          QStringLiteral("NONE"));
    WindowFixture window;
    window.writeProfileFor(database.address());
    window.connect();
    window.list();
    QVERIFY2(window.gridRows().contains(shownUser + QStringLiteral("|x|1")),
             qPrintable(window.gridRows().join(u',')));
    window.boxes().clear();

    // Neither the spelling meant nor the text shown is the stored bytes.
    for (const QString& name : {typed, shownUser}) {
        window.logout(name);
        QCOMPARE(window.boxes().texts(), QStringList{kNotFound});
        window.boxes().clear();
    }
    QCOMPARE(statesByTag(database),
             (QStringList{QStringLiteral("legacy=1"), QStringLiteral("sato=1"),
                          QStringLiteral("yamada=1")}));
}

QTEST_MAIN(TestCharsets)
#include "tst_charsets.moc"
