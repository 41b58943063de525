// The data grid: a table view over the list that behaves like a data-entry grid.
#pragma once

#include "db/ListModel.h"

#include <QTableView>
#include <vector>

namespace db {
class DataSource;
}

/// Shows the list through a ListModel and keeps the view's current row and the list's
/// current row the same. Keys beyond QTableView's own: Insert inserts a row, Down on
/// the last row appends one, Ctrl+Delete deletes the current row after asking, Esc
/// drops the edit of the current row. Nothing here reaches the database.
class DBGrid : public QTableView
{
    Q_OBJECT
public:
    explicit DBGrid(QWidget* parent = nullptr);

    void setDataSource(db::DataSource* source, std::vector<db::GridColumn> columns);
    db::ListModel* listModel() const { return m_model; }

    /// Hands a cell editor's pending text to the list, as leaving the cell would.
    void commitOpenEditor();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void followListRow(qsizetype row);

    db::DataSource* m_source = nullptr;
    db::ListModel* m_model = nullptr;
};
