// Tests for db::ConnectionParams: lookup by name and in-place edits of the entry list.
#include "db/ConnectionParams.h"

#include <QTest>
#include <utility>

using Assignments = QList<std::pair<QString, QString>>;

class TestConnectionParams : public QObject
{
    Q_OBJECT

private slots:
    void lookup_data();
    void lookup();
    void assign_data();
    void assign();
};

void TestConnectionParams::lookup_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("contains");

    QTest::newRow("exact name") << QStringList{"drivername=Firebird"} << "drivername"
                                << "Firebird" << true;
    QTest::newRow("letter case ignored") << QStringList{"User_Name=SYSDBA"} << "USER_name"
                                         << "SYSDBA" << true;
    QTest::newRow("first match wins") << QStringList{"a=1", "B=2", "A=3"} << "A"
                                      << "1" << true;
    QTest::newRow("bare entry names nothing")
        << QStringList{"Database", "x=1"} << "Database" << QString() << false;
    QTest::newRow("bare entry skipped, later entry found")
        << QStringList{"Database", "DATABASE=/db/x.fdb"} << "database"
        << "/db/x.fdb" << true;
    QTest::newRow("empty value exists") << QStringList{"X=", "X=later"} << "x" << QString() << true;
    QTest::newRow("value containing =") << QStringList{"Params=a=b=c"} << "params"
                                        << "a=b=c" << true;
    QTest::newRow("name is a prefix of the entry's name")
        << QStringList{"DatabaseName=1"} << "Database" << QString() << false;
    QTest::newRow("entry's name is a prefix of the name")
        << QStringList{"Data=1"} << "Database" << QString() << false;
    QTest::newRow("name only in a value")
        << QStringList{"Role=Password"} << "Password" << QString() << false;
    QTest::newRow("empty list") << QStringList{} << "Database" << QString() << false;
}

void TestConnectionParams::lookup()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(bool, contains);

    const db::ConnectionParams params(entries);
    QCOMPARE(params.value(name), value);
    QCOMPARE(params.contains(name), contains);
}

void TestConnectionParams::assign_data()
{
    QTest::addColumn<QStringList>("initial");
    QTest::addColumn<Assignments>("assignments");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("replace keeps position and spelling")
        << QStringList{"A=1", "DriverName=x", "B=2"} << Assignments{{"drivername", "Firebird"}}
        << QStringList{"A=1", "DriverName=Firebird", "B=2"};
    QTest::newRow("replace touches the first match only")
        << QStringList{"A=1", "a=2"} << Assignments{{"A", "9"}} << QStringList{"A=9", "a=2"};
    QTest::newRow("replace an empty value")
        << QStringList{"X="} << Assignments{{"x", "1"}} << QStringList{"X=1"};
    QTest::newRow("replace with a value containing =")
        << QStringList{"P=old=1", "Q=2"} << Assignments{{"p", "a=b"}}
        << QStringList{"P=a=b", "Q=2"};
    QTest::newRow("append keeps call order")
        << QStringList{} << Assignments{{"B", "1"}, {"A", "2"}, {"C", "3"}}
        << QStringList{"B=1", "A=2", "C=3"};
    QTest::newRow("bare entry is not a match")
        << QStringList{"Database", "x=1"} << Assignments{{"Database", "/d"}}
        << QStringList{"Database", "x=1", "Database=/d"};
    QTest::newRow("empty removes the first match only")
        << QStringList{"A=1", "B=2", "a=3"} << Assignments{{"a", ""}} << QStringList{"B=2", "a=3"};
    QTest::newRow("empty on a missing name changes nothing")
        << QStringList{"A=1", "bare"} << Assignments{{"Z", ""}} << QStringList{"A=1", "bare"};
    QTest::newRow("removed entry comes back at the end")
        << QStringList{"A=1", "B=2"} << Assignments{{"A", ""}, {"A", "3"}}
        << QStringList{"B=2", "A=3"};

    const QStringList driverOnly{"drivername=Firebird"};
    QTest::newRow("connection parameters") << driverOnly
                                           << Assignments{{"Database", "/x"},
                                                          {"drivername", "Firebird"},
                                                          {"User_Name", "SYSDBA"},
                                                          {"Password", "plumbtide"}}
                                           << QStringList{"drivername=Firebird", "Database=/x",
                                                          "User_Name=SYSDBA", "Password=plumbtide"};
    QTest::newRow("connection parameters without a database")
        << driverOnly
        << Assignments{{"Database", ""},
                       {"drivername", "Firebird"},
                       {"User_Name", "SYSDBA"},
                       {"Password", "plumbtide"}}
        << QStringList{"drivername=Firebird", "User_Name=SYSDBA", "Password=plumbtide"};
}

void TestConnectionParams::assign()
{
    QFETCH(QStringList, initial);
    QFETCH(Assignments, assignments);
    QFETCH(QStringList, expected);

    db::ConnectionParams params(initial);
    for (const auto& [name, value] : assignments) {
        params.setValue(name, value);
        // Whatever the list looked like before, a value just set is what a lookup sees.
        if (!value.isEmpty())
            QCOMPARE(params.value(name), value);
    }
    QCOMPARE(params.entries(), expected);
}

QTEST_GUILESS_MAIN(TestConnectionParams)
#include "tst_connectionparams.moc"
