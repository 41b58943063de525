// The grid's model and the list under it, as every reader sees them: the grid, a strict
// model checker, and a reader that looks at every cell whenever the list says anything.
// Also how long texts are shown.
#include "BoxWatcher.h"
#include "TestDatabase.h"
#include "db/DataSource.h"
#include "db/Error.h"
#include "db/ListModel.h"
#include "db/SimpleDataSet.h"
#include "ui/DBGrid.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHash>
#include <QTest>
#include <functional>
#include <memory>

using testsupport::Engine;
using testsupport::registryColumns;
using testsupport::TestDatabase;

namespace {

/// Reads everything a screen reader could ask for at every signal of the list: each
/// value of each row, each cell and row header of the model. Whatever fails to read,
/// or reads a state that cannot be, is noted with the signal that exposed it.
class EveryCellReader : public QObject
{
public:
    EveryCellReader(const db::SimpleDataSet* list, const QAbstractItemModel* model)
        : m_list(list), m_model(model)
    {
        watch(&db::SimpleDataSet::aboutToReset, "aboutToReset");
        watch(&db::SimpleDataSet::reset, "reset");
        watch(&db::SimpleDataSet::rowAboutToBeInserted, "rowAboutToBeInserted");
        watch(&db::SimpleDataSet::rowInserted, "rowInserted");
        watch(&db::SimpleDataSet::rowAboutToBeRemoved, "rowAboutToBeRemoved");
        watch(&db::SimpleDataSet::rowRemoved, "rowRemoved");
        watch(&db::SimpleDataSet::rowChanged, "rowChanged");
        watch(&db::SimpleDataSet::currentRowChanged, "currentRowChanged");
        watch(&db::SimpleDataSet::stateChanged, "stateChanged");
    }

    QString step; // the action under way, for the report
    QStringList faults;
    int reads = 0;

private:
    template <class Signal> void watch(Signal signal, const char* name)
    {
        connect(m_list, signal, this, [this, name] { readAll(QLatin1String(name)); });
    }

    void readAll(QLatin1String signal)
    {
        ++reads;
        const auto fault = [&](const QString& what) {
            faults << QStringLiteral("%1 at %2: %3").arg(step, signal, what);
        };
        const qsizetype rows = m_list->recordCount();
        const qsizetype current = m_list->currentRow();
        if (current < -1 || current >= rows)
            fault(QStringLiteral("current row %1 of %2").arg(current).arg(rows));
        const db::DataSetState state = m_list->state();
        if (state == db::DataSetState::Insert &&
            (current < 0 || m_list->rowState(current) != db::RowState::Inserted))
            fault(QStringLiteral("inserting, but the current row is no new row"));
        for (qsizetype row = 0; row < rows; ++row) {
            for (int column = 0; column < int(m_list->columns().size()); ++column) {
                try {
                    m_list->value(row, column);
                } catch (const std::exception& e) {
                    fault(QStringLiteral("value(%1, %2) threw %3")
                              .arg(row)
                              .arg(column)
                              .arg(QString::fromUtf8(e.what())));
                }
            }
        }
        // The model may still count the old rows while a change is announced; it must
        // answer for every row it counts.
        for (int row = 0; row < m_model->rowCount(); ++row) {
            m_model->headerData(row, Qt::Vertical);
            for (int column = 0; column < m_model->columnCount(); ++column) {
                const QModelIndex cell = m_model->index(row, column);
                m_model->data(cell);
                m_model->data(cell, Qt::EditRole);
                m_model->flags(cell);
            }
        }
    }

    const db::SimpleDataSet* m_list;
    const QAbstractItemModel* m_model;
};

/// A list on a database shown in a grid, as the window wires them, with a fatal model
/// checker and the reader on it.
struct ShownList
{
    explicit ShownList(const QString& database)
    {
        list = std::make_unique<db::SimpleDataSet>(QStringLiteral("SimpleDataSet1"),
                                                   testsupport::listSettings(database));
        source = std::make_unique<db::DataSource>(QStringLiteral("DataSource1"), list.get());
        grid = std::make_unique<DBGrid>();
        grid->setDataSource(source.get(), registryColumns());
        tester = std::make_unique<QAbstractItemModelTester>(
            grid->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
        reader = std::make_unique<EveryCellReader>(list.get(), grid->model());
        grid->resize(400, 300);
        grid->show();
        list->setCommandText(QStringLiteral("select * from USER_REGISTRY"));
        list->open();
    }

    db::ListModel* model() const { return grid->listModel(); }
    int column(const char* field) const { return list->columnIndex(QString::fromLatin1(field)); }
    QStringList userNames() const
    {
        QStringList names;
        for (qsizetype row = 0; row < list->recordCount(); ++row)
            names << list->value(row, column("user_name")).toString();
        return names;
    }

    std::unique_ptr<db::SimpleDataSet> list;
    std::unique_ptr<db::DataSource> source;
    std::unique_ptr<DBGrid> grid;
    std::unique_ptr<QAbstractItemModelTester> tester;
    std::unique_ptr<EveryCellReader> reader;
};

/// One step of a table case: a call on the list, a model edit "edit:ROW:COLUMN:TEXT",
/// or a key pressed in the grid "key:NAME". Returns false on an unknown step.
bool perform(ShownList& shown, const QString& step)
{
    db::SimpleDataSet& list = *shown.list;
    if (step.startsWith(QLatin1String("edit:"))) {
        const QStringList parts = step.split(u':');
        const QModelIndex cell = shown.model()->index(parts[1].toInt(), parts[2].toInt());
        return shown.model()->setData(cell, parts[3]);
    }
    if (step.startsWith(QLatin1String("key:"))) {
        static const QHash<QString, std::pair<Qt::Key, Qt::KeyboardModifiers>> keys{
            {QStringLiteral("Insert"), {Qt::Key_Insert, Qt::NoModifier}},
            {QStringLiteral("Escape"), {Qt::Key_Escape, Qt::NoModifier}},
            {QStringLiteral("Down"), {Qt::Key_Down, Qt::NoModifier}},
            {QStringLiteral("CtrlDelete"), {Qt::Key_Delete, Qt::ControlModifier}}};
        const auto key = keys.find(step.mid(4));
        if (key == keys.end())
            return false;
        QTest::keyClick(shown.grid.get(), key->first, key->second);
        return true;
    }
    static const QHash<QString, std::function<void(db::SimpleDataSet&)>> calls{
        {QStringLiteral("insert"), [](auto& l) { l.insert(); }},
        {QStringLiteral("append"), [](auto& l) { l.append(); }},
        {QStringLiteral("cancel"), [](auto& l) { l.cancel(); }},
        {QStringLiteral("post"), [](auto& l) { l.post(); }},
        {QStringLiteral("delete"), [](auto& l) { l.deleteCurrent(); }},
        {QStringLiteral("refresh"), [](auto& l) { l.refresh(); }},
        {QStringLiteral("close"), [](auto& l) { l.close(); }},
        {QStringLiteral("open"), [](auto& l) { l.open(); }},
        {QStringLiteral("next"), [](auto& l) { l.next(); }},
        {QStringLiteral("last"), [](auto& l) { l.last(); }}};
    const auto call = calls.find(step);
    if (call == calls.end())
        return false;
    (*call)(list);
    return true;
}

} // namespace

class TestListModel : public QObject
{
    Q_OBJECT

private slots:
    void everyNotificationCanBeRead_data();
    void everyNotificationCanBeRead();
    void longTextShowsABoundedPrefix_data();
    void longTextShowsABoundedPrefix();
    void hugeTextIsHeldWhole();
};

void TestListModel::everyNotificationCanBeRead_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QStringList>("userNames");
    QTest::addColumn<bool>("changes");
    QTest::addColumn<int>("confirmations");

    const QStringList all{QStringLiteral("tanaka"), QStringLiteral("suzuki"),
                          QStringLiteral("sato"), QStringLiteral("yamada")};
    const auto without = [&](const QString& name) {
        QStringList names = all;
        names.removeOne(name);
        return names;
    };
    QTest::newRow("insert, cancel") << "insert cancel" << all << false << 0;
    QTest::newRow("Insert key, Escape") << "key:Insert key:Escape" << all << false << 0;
    QTest::newRow("Down on the last row, Escape")
        << "last key:Down key:Escape" << all << false << 0;
    QTest::newRow("insert, refresh") << "next insert refresh" << all << false << 0;
    QTest::newRow("insert, close, reopen") << "insert close open" << all << false << 0;
    QTest::newRow("untouched new row left") << "insert next" << all << false << 0;
    QTest::newRow("insert typed, delete before posting")
        << "insert edit:0:0:kato delete" << all << false << 0;
    QTest::newRow("insert typed, post, delete")
        << "next insert edit:1:0:kato post delete" << all << false << 0;
    QTest::newRow("insert typed, post, kept")
        << "last append edit:4:0:kato post" << all + QStringList{QStringLiteral("kato")} << true
        << 0;
    QTest::newRow("edit, cancel") << "edit:0:0:zzz cancel" << all << false << 0;
    QTest::newRow("edit, post, delete")
        << "edit:1:1:変更 post delete" << without(QStringLiteral("suzuki")) << true << 0;
    QTest::newRow("edit, delete while editing")
        << "edit:2:1:変更 delete" << without(QStringLiteral("sato")) << true << 0;
    QTest::newRow("edit, Ctrl+Delete")
        << "edit:1:1:変更 key:CtrlDelete" << without(QStringLiteral("suzuki")) << true << 1;
    QTest::newRow("Insert key, Ctrl+Delete") << "key:Insert key:CtrlDelete" << all << false << 1;
    QTest::newRow("Down on the last row, typed, Ctrl+Delete")
        << "last key:Down edit:4:0:kato key:CtrlDelete" << all << false << 1;
    QTest::newRow("edit the last row, post, delete it")
        << "last edit:3:2:0 post delete" << without(QStringLiteral("yamada")) << true << 0;
    QTest::newRow("edit, post, close, reopen") << "edit:0:1:x post close open" << all << false << 0;
    QTest::newRow("delete every row, then insert and cancel")
        << "delete delete delete delete insert cancel" << QStringList() << true << 0;
}

void TestListModel::everyNotificationCanBeRead()
{
    QFETCH(QString, steps);
    QFETCH(QStringList, userNames);
    QFETCH(bool, changes);
    QFETCH(int, confirmations);

    TestDatabase database(Engine::Embedded);
    const QStringList before = database.loginStates();
    testsupport::BoxWatcher boxes;
    ShownList shown(database.address());
    for (const QString& step : steps.split(u' ')) {
        shown.reader->step = step;
        QVERIFY2(perform(shown, step), qPrintable(step));
    }

    QVERIFY2(shown.reader->faults.isEmpty(), qPrintable(shown.reader->faults.join(u'\n')));
    QVERIFY(shown.reader->reads > 0);
    QCOMPARE(boxes.errors(), QStringList());
    QCOMPARE(int(boxes.boxes().size()), confirmations);
    QCOMPARE(shown.userNames(), userNames);
    QCOMPARE(shown.list->hasChanges(), changes);
    QCOMPARE(shown.model()->rowCount(), int(userNames.size()));
    // The grid follows the list's current row wherever the steps left it.
    if (shown.list->currentRow() >= 0)
        QCOMPARE(shown.grid->currentIndex().row(), int(shown.list->currentRow()));
    QCOMPARE(database.loginStates(), before); // nothing of it reaches the database
}

void TestListModel::longTextShowsABoundedPrefix_data()
{
    constexpr qsizetype limit = db::ListModel::kShownLength;
    QTest::addColumn<QString>("expression"); // SQL for the name, built by the database
    QTest::addColumn<QString>("whole");
    QTest::addColumn<QString>("shown");

    const QString a(limit - 1, u'a');
    QTest::newRow("short") << "'田中 太郎'" << QStringLiteral("田中 太郎")
                           << QStringLiteral("田中 太郎");
    QTest::newRow("exactly the limit")
        << QStringLiteral("rpad('', %1, 'a')").arg(limit) << a + u'a' << a + u'a';
    QTest::newRow("one past the limit") << QStringLiteral("rpad('', %1, 'a')").arg(limit + 1)
                                        << a + QStringLiteral("aa") << a + QStringLiteral("a…");
    // Multi-byte characters across the cut: the bytes decoded must end on a character.
    QTest::newRow("three-byte characters across the cut")
        << QStringLiteral("rpad('', %1, 'a') || '日本語'").arg(limit - 1)
        << a + QStringLiteral("日本語") << a + QStringLiteral("日…");
    QTest::newRow("all three-byte characters")
        << QStringLiteral("rpad('', %1, '名')").arg(limit + 5)
        << QStringLiteral("名").repeated(limit + 5)
        << QStringLiteral("名").repeated(limit) + QStringLiteral("…");
    // A character outside the BMP is two UTF-16 units; the cut must not split it.
    QTest::newRow("surrogate pair across the cut")
        << QStringLiteral("rpad('', %1, 'a') || '😀b'").arg(limit - 1) << a + QStringLiteral("😀b")
        << a + QStringLiteral("…");
}

void TestListModel::longTextShowsABoundedPrefix()
{
    QFETCH(QString, expression);
    QFETCH(QString, whole);
    QFETCH(QString, shown);

    TestDatabase database(
        Engine::Embedded,
        {QStringLiteral("create table USER_REGISTRY (user_name varchar(31), name blob sub_type "
                        "text, name_short varchar(8000), user_log_in smallint)"),
         QStringLiteral("insert into USER_REGISTRY values ('u', %1, %1, 1)").arg(expression)});
    ShownList list(database.address());
    const bool cut = shown != whole;
    for (const char* field : {"name", "name_short"}) {
        const int column = list.column(field);
        QCOMPARE(list.list->value(0, column).toString(), whole);
        bool isWhole = false;
        const QString prefix =
            list.list->valuePrefix(0, column, db::ListModel::kShownLength, &isWhole).toString();
        QCOMPARE(prefix + (isWhole ? QString() : QStringLiteral("…")), shown);
        QCOMPARE(isWhole, !cut);
    }
    const QModelIndex cell = list.model()->index(0, 1);
    QCOMPARE(list.model()->data(cell).toString(), shown);
    QCOMPARE(list.model()->data(cell, Qt::EditRole).toString(), cut ? QString() : whole);
    QCOMPARE(bool(list.model()->flags(cell) & Qt::ItemIsEditable), !cut);
    if (cut)
        QVERIFY(!list.model()->setData(cell, QStringLiteral("x")));

    // A row with a pending or posted edit holds its values as text; it is cut alike.
    QVERIFY(list.model()->setData(list.model()->index(0, 0), QStringLiteral("v")));
    QCOMPARE(list.model()->data(cell).toString(), shown);
    list.list->post();
    QCOMPARE(list.model()->data(cell).toString(), shown);
    QCOMPARE(list.list->value(0, list.column("name")).toString(), whole);
}

void TestListModel::hugeTextIsHeldWhole()
{
    // 2^20 times "名前": 6 MiB of UTF-8, built by the database by doubling.
    TestDatabase database(
        Engine::Embedded,
        {QStringLiteral("create table USER_REGISTRY (user_name varchar(31), name blob sub_type "
                        "text, user_log_in smallint)"),
         QStringLiteral("insert into USER_REGISTRY values ('tanaka', '田中 太郎', 1)"),
         QStringLiteral("execute block as declare s blob sub_type text = '名前';"
                        " declare i integer = 0; begin"
                        " while (i < 20) do begin s = s || s; i = i + 1; end"
                        " insert into USER_REGISTRY values ('big', :s, 1); end"),
         QStringLiteral("insert into USER_REGISTRY values ('sato', '佐藤 健', 0)")});
    ShownList list(database.address());
    QCOMPARE(list.list->recordCount(), 3);
    const int name = list.column("name");
    const QString expected = QStringLiteral("名前").repeated(qsizetype(1) << 20);
    QCOMPARE(list.list->value(1, name).toString().size(), expected.size());
    QVERIFY(list.list->value(1, name).toString() == expected);

    const QModelIndex cell = list.model()->index(1, 1);
    const QString shown = list.model()->data(cell).toString();
    QCOMPARE(shown.size(), db::ListModel::kShownLength + 1);
    QCOMPARE(shown, expected.left(db::ListModel::kShownLength) + u'…');
    QVERIFY(!(list.model()->flags(cell) & Qt::ItemIsEditable));
    QCOMPARE(list.model()->data(list.model()->index(2, 1)).toString(), QStringLiteral("佐藤 健"));

    // Editing another cell of that row, keeping the edit, then leaving: still whole.
    QVERIFY(list.model()->setData(list.model()->index(1, 2), QStringLiteral("0")));
    list.list->next();
    QCOMPARE(list.list->rowState(1), db::RowState::Modified);
    QVERIFY(list.list->value(1, name).toString() == expected);
    QCOMPARE(list.model()->data(cell).toString(), shown);
    QCOMPARE(database.scalar(QStringLiteral(
                 "select char_length(name) from USER_REGISTRY where user_name = 'big'")),
             QString::number(expected.size()));
}

QTEST_MAIN(TestListModel)
#include "tst_listmodel.moc"
