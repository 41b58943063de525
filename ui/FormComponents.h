// The window's non-visual components as stored beside its layout: connection settings,
// the data source and the grid's columns.
#pragma once

#include "db/ListModel.h"
#include "db/SqlConnection.h"

#include <QString>
#include <vector>

/// What MainUnit.components.json holds, read once when the window is built.
struct FormComponents
{
    db::ConnectionSettings profileConnection; // SQLConnection1
    db::ConnectionSettings listConnection;    // SimpleDataSet1's own connection
    bool autoEdit = true;                     // DataSource1
    std::vector<db::GridColumn> gridColumns;  // DBGrid1
};

/// Reads the definition compiled into the program. A definition that does not parse is
/// a build fault, reported by db::Error naming what is wrong.
FormComponents
loadFormComponents(const QString& resourcePath = QStringLiteral(":/ui/MainUnit.components.json"));
