// The window's non-visual components as stored beside its layout.
#include "ui/FormComponents.h"

#include "db/Error.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonObject member(const QJsonObject& parent, const char* name)
{
    const QJsonValue value = parent.value(QLatin1String(name));
    if (!value.isObject())
        throw db::Error(QStringLiteral("component definition: '%1' is missing").arg(name));
    return value.toObject();
}

db::ConnectionSettings connectionSettings(const QJsonObject& stored)
{
    db::ConnectionSettings settings;
    settings.connectionName = stored.value(QLatin1String("ConnectionName")).toString();
    settings.driverName = stored.value(QLatin1String("DriverName")).toString();
    settings.loginPrompt = stored.value(QLatin1String("LoginPrompt")).toBool();
    settings.loadParamsOnConnect = stored.value(QLatin1String("LoadParamsOnConnect")).toBool();
    settings.keepConnection = stored.value(QLatin1String("KeepConnection")).toBool(true);
    for (const QJsonValue entry : stored.value(QLatin1String("Params")).toArray())
        settings.params.append(entry.toString());
    return settings;
}

} // namespace

FormComponents loadFormComponents(const QString& resourcePath)
{
    QFile file(resourcePath);
    if (!file.open(QIODevice::ReadOnly))
        throw db::Error(QStringLiteral("component definition %1 not found").arg(resourcePath));
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject())
        throw db::Error(QStringLiteral("component definition %1: %2")
                            .arg(resourcePath, parseError.errorString()));
    const QJsonObject root = document.object();

    FormComponents components;
    components.profileConnection = connectionSettings(member(root, "SQLConnection1"));
    components.listConnection =
        connectionSettings(member(member(root, "SimpleDataSet1"), "Connection"));
    components.autoEdit = member(root, "DataSource1").value(QLatin1String("AutoEdit")).toBool(true);
    for (const QJsonValue column :
         member(root, "DBGrid1").value(QLatin1String("Columns")).toArray()) {
        const QJsonObject stored = column.toObject();
        components.gridColumns.push_back(
            db::GridColumn{stored.value(QLatin1String("FieldName")).toString(),
                           stored.value(QLatin1String("Title")).toString(),
                           stored.value(QLatin1String("Width")).toInt(64)});
    }
    return components;
}
