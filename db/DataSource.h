// Links the list to the controls that show it.
#pragma once

#include <QObject>

namespace db {

class SimpleDataSet;

/// The grid and the navigator reach the list only through this link; actions that
/// "refresh the data source's data set" go through it too.
class DataSource : public QObject
{
    Q_OBJECT
public:
    DataSource(const QString& componentName, SimpleDataSet* dataSet, QObject* parent = nullptr)
        : QObject(parent), m_dataSet(dataSet)
    {
        setObjectName(componentName);
    }

    SimpleDataSet* dataSet() const { return m_dataSet; }
    /// Typing into a cell starts editing its row without an explicit edit command.
    bool autoEdit() const { return m_autoEdit; }
    void setAutoEdit(bool on) { m_autoEdit = on; }

private:
    SimpleDataSet* m_dataSet;
    bool m_autoEdit = true;
};

} // namespace db
