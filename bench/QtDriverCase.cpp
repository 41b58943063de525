// Qt's own Firebird driver (QIBASE) loading the same list into a QSqlQueryModel: the
// generic way a Qt program would show the table, held beside the window.
#include "Cases.h"
#include "Measure.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQueryModel>
#include <cstdio>
#include <stdexcept>

namespace bench {

int qtDriverListCase(int argc, char** argv, const Options& options)
{
    QCoreApplication app(argc, argv);
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QIBASE"))) {
        std::fprintf(stderr, "Qt's QIBASE driver is not installed (libqt6sql6-ibase)\n");
        return 3;
    }
    long rows = 0;
    double seconds = 0;
    double cpu = 0;
    const auto connection = [&](const QString& name) {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QIBASE"), name);
        database.setDatabaseName(QString::fromStdString(options.database));
        database.setUserName(QStringLiteral("SYSDBA"));
        database.setPassword(QStringLiteral("plumbtide"));
        database.setConnectOptions(QStringLiteral("ISC_DPB_LC_CTYPE=UTF8"));
        return database;
    };
    {
        // Made first and left open, as the window's profile connection is, so that the
        // measured attach finds fbclient loaded.
        QSqlDatabase profile = connection(QStringLiteral("profile"));
        if (!profile.open())
            throw std::runtime_error(profile.lastError().text().toStdString());
        QSqlDatabase database = connection(QStringLiteral("bench"));

        const Stopwatch clock;
        if (!database.open())
            throw std::runtime_error(database.lastError().text().toStdString());
        QSqlQueryModel model;
        model.setQuery(QStringLiteral("select * from USER_REGISTRY"), database);
        while (model.canFetchMore())
            model.fetchMore();
        seconds = clock.seconds();
        cpu = clock.cpuSeconds();
        if (model.lastError().isValid())
            throw std::runtime_error(model.lastError().text().toStdString());
        rows = model.rowCount();
        if (rows != options.rows)
            throw std::runtime_error("the model holds " + std::to_string(rows) + " rows");
        model.clear();
        database.close();
        profile.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench"));
    QSqlDatabase::removeDatabase(QStringLiteral("profile"));

    Report report;
    report.add("rows", double(rows));
    report.add("list_s", seconds);
    report.add("cpu_s", cpu);
    report.add("maxrss_kib", double(peakRssKib()));
    report.print();
    return 0;
}

} // namespace bench
