// The real logout window under measurement: its buttons clicked as the operator would,
// its message boxes answered, its grid painted and scrolled.
#include "Cases.h"
#include "Measure.h"
#include "app/Application.h"
#include "db/SimpleDataSet.h"
#include "ui/DBGrid.h"
#include "ui/MainUnit.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace bench {
namespace {

/// The window with a profile of its own for `database`; every box it raises is noted
/// and closed with its default button.
class Window
{
public:
    explicit Window(const std::string& database)
    {
        if (!m_dir.isValid())
            throw std::runtime_error("no temporary folder");
        const QString profile = m_dir.filePath(QStringLiteral("Connection.ini"));
        QFile file(profile);
        if (!file.open(QIODevice::WriteOnly))
            throw std::runtime_error("cannot write the profile");
        file.write("[FBDOCUMENTCONNECTION]\nDatabase=" + QByteArray::fromStdString(database) +
                   "\nUser_Name=SYSDBA\nPassword=plumbtide\n");
        file.close();

        m_form = std::make_unique<TMainForm>(profile);
        MainForm = m_form.get();
        QObject::connect(&m_answerer, &QTimer::timeout, &m_answerer, [this] { answerBox(); });
        m_answerer.start(2);
        m_form->show();
        for (int i = 0; i < 1000 && !exposed(); ++i)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!exposed())
            throw std::runtime_error("the window was never shown");
    }
    ~Window() { MainForm = nullptr; }

    template <class T> T* child(const char* name) const
    {
        T* found = m_form->findChild<T*>(QString::fromLatin1(name));
        if (!found)
            throw std::runtime_error(std::string("no control ") + name);
        return found;
    }
    TMainForm& form() const { return *m_form; }
    DBGrid* grid() const { return child<DBGrid>("DBGrid1"); }
    int rowCount() const { return grid()->model()->rowCount(); }
    QString cell(int row, int column) const
    {
        const QAbstractItemModel* model = grid()->model();
        return model->data(model->index(row, column)).toString();
    }

    /// "①接続": the one box it raises must be the success message.
    void connect()
    {
        child<QPushButton>("ConnectionButton")->click();
        requireBoxes({QStringLiteral("データベースに接続しました")});
        if (!child<QPushButton>("ShowDataButton")->isEnabled())
            throw std::runtime_error("connecting did not enable the list button");
    }

    /// Paints the grid now, as the next expose would, so the time includes the first
    /// screenful of cells being read and drawn.
    void paintGrid() const { grid()->viewport()->repaint(); }

    void requireBoxes(const QStringList& expected)
    {
        if (m_boxes != expected)
            throw std::runtime_error("unexpected boxes: " + m_boxes.join(u" | ").toStdString());
        m_boxes.clear();
    }
    void requireRows(long expected) const
    {
        if (rowCount() != expected) {
            throw std::runtime_error("the grid shows " + std::to_string(rowCount()) +
                                     " rows, expected " + std::to_string(expected));
        }
    }

private:
    bool exposed() const { return m_form->windowHandle() && m_form->windowHandle()->isExposed(); }
    void answerBox()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        m_boxes << box->text();
        QAbstractButton* button = box->defaultButton();
        if (!button && !box->buttons().isEmpty())
            button = box->buttons().front();
        if (button)
            button->click();
    }

    QTemporaryDir m_dir;
    std::unique_ptr<TMainForm> m_form;
    QTimer m_answerer;
    QStringList m_boxes;
};

struct Timed
{
    double seconds;
    double cpuSeconds;
    double fetchedSeconds; // until the list announced its new rows: the fetch alone
    double resetSeconds;   // until the grid had taken them, before painting
};

Timed openList(Window& window)
{
    double fetched = 0;
    const Stopwatch clock;
    const QMetaObject::Connection watch =
        QObject::connect(window.form().SimpleDataSet1, &db::SimpleDataSet::aboutToReset,
                         [&] { fetched = clock.seconds(); });
    window.child<QPushButton>("ShowDataButton")->click();
    const double reset = clock.seconds();
    window.paintGrid();
    const Timed timed{clock.seconds(), clock.cpuSeconds(), fetched, reset};
    QObject::disconnect(watch);
    return timed;
}

/// TW_BENCH_VERBOSE=1 lists every scroll step's time on stderr, to find a slow one.
bool verbose()
{
    static const bool on = qEnvironmentVariableIntValue("TW_BENCH_VERBOSE") != 0;
    return on;
}

struct Steps
{
    double mean = 0;
    double max = 0;
    double cpuMean = 0; // this process's own work per step, apart from waiting for a core
    double cpuMax = 0;
};

/// Repeats `step` and paints after each, as each key press or wheel page would.
template <class Step> Steps timeSteps(Window& window, int count, Step&& step)
{
    Steps result;
    for (int i = 0; i < count; ++i) {
        const Stopwatch clock;
        step();
        window.paintGrid();
        const double seconds = clock.seconds();
        const double cpu = clock.cpuSeconds();
        if (verbose())
            std::fprintf(stderr, "step %d: %.2f ms (CPU %.2f ms)\n", i, seconds * 1000, cpu * 1000);
        result.mean += seconds / count;
        result.max = std::max(result.max, seconds);
        result.cpuMean += cpu / count;
        result.cpuMax = std::max(result.cpuMax, cpu);
    }
    return result;
}

void clickCell(DBGrid* grid, int row, int column)
{
    const QPoint at = grid->visualRect(grid->model()->index(row, column)).center();
    const QPointF global = grid->viewport()->mapToGlobal(QPointF(at));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(grid->viewport(), &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(at), global, Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(grid->viewport(), &release);
}

void pressKey(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(target, &release);
}

void scrollFigures(Window& window, long rows, Report& report)
{
    DBGrid* grid = window.grid();
    QScrollBar* bar = grid->verticalScrollBar();

    Stopwatch clock;
    bar->setValue(bar->maximum());
    window.paintGrid();
    report.add("scroll_end_s", clock.seconds());
    clock = Stopwatch();
    bar->setValue(0);
    window.paintGrid();
    report.add("scroll_top_s", clock.seconds());

    const Steps pages =
        timeSteps(window, 200, [&] { bar->setValue(bar->value() + bar->pageStep()); });
    report.add("page_mean_s", pages.mean);
    report.add("page_max_s", pages.max);

    // The keyboard moves the current row too, which the list and the navigator follow.
    grid->setFocus();
    const Steps keys = timeSteps(window, 100, [&] { pressKey(grid, Qt::Key_PageDown); });
    report.add("pgdn_key_mean_s", keys.mean);
    report.add("pgdn_key_max_s", keys.max);
    clock = Stopwatch();
    pressKey(grid, Qt::Key_End, Qt::ControlModifier);
    window.paintGrid();
    report.add("ctrl_end_key_s", clock.seconds());
    if (grid->currentIndex().row() != rows - 1)
        throw std::runtime_error("Ctrl+End did not reach the last row");
}

template <class Body> int withApplication(int argc, char** argv, Body&& body)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    setUpApplication(app);
    return body();
}

/// ①接続 and ②ユーザー一覧 as the operator clicks them, checked to have listed every
/// row without a box; the row count and the time to the painted grid go to `report`.
Timed connectAndList(Window& window, const Options& options, Report& report)
{
    window.connect();
    const Timed opened = openList(window);
    window.requireBoxes({});
    window.requireRows(options.rows);
    report.add("rows", window.rowCount());
    report.add("list_s", opened.seconds);
    return opened;
}

} // namespace

int windowListCase(int argc, char** argv, const Options& options)
{
    return withApplication(argc, argv, [&] {
        Window window(options.database);
        Report report;
        const Timed opened = connectAndList(window, options, report);
        report.add("cpu_s", opened.cpuSeconds);
        report.add("fetch_s", opened.fetchedSeconds);
        report.add("model_s", opened.resetSeconds - opened.fetchedSeconds);
        report.add("paint_s", opened.seconds - opened.resetSeconds);
        report.add("maxrss_kib", double(peakRssKib()));
        if (options.scroll)
            scrollFigures(window, options.rows, report);
        report.print();
        return 0;
    });
}

int windowBigValueCase(int argc, char** argv, const Options& options)
{
    return withApplication(argc, argv, [&] {
        Window window(options.database);
        Report report;
        connectAndList(window, options, report);

        // The list must hold the huge value whole, whatever the grid shows of it.
        db::SimpleDataSet* list = window.form().SimpleDataSet1;
        const int name = list->columnIndex(QStringLiteral("name"));
        qsizetype longest = 0;
        int bigRow = -1;
        for (int row = 0; row < window.rowCount(); ++row) {
            const qsizetype length = list->value(row, name).toString().size();
            if (length > longest) {
                longest = length;
                bigRow = row;
            }
        }
        report.add("big_chars", double(longest));
        report.add("shown_chars", double(window.cell(bigRow, 1).size()));

        DBGrid* grid = window.grid();
        grid->setFocus();
        grid->scrollTo(grid->model()->index(bigRow, 1));
        const int otherRow = bigRow > 0 ? bigRow - 1 : bigRow + 1;
        int clicks = 0;
        const Steps clicked =
            timeSteps(window, 40, [&] { clickCell(grid, ++clicks % 2 ? bigRow : otherRow, 1); });
        if (grid->currentIndex().row() != otherRow)
            throw std::runtime_error("the clicks did not move the current row");
        report.add("click_mean_s", clicked.mean);
        report.add("click_max_s", clicked.max);
        report.add("click_cpu_mean_s", clicked.cpuMean);
        report.add("click_cpu_max_s", clicked.cpuMax);
        int presses = 0;
        const Steps keys = timeSteps(window, 40, [&] {
            pressKey(grid, ++presses % 2 ? (otherRow < bigRow ? Qt::Key_Down : Qt::Key_Up)
                                         : (otherRow < bigRow ? Qt::Key_Up : Qt::Key_Down));
        });
        report.add("key_mean_s", keys.mean);
        report.add("key_max_s", keys.max);
        report.add("key_cpu_mean_s", keys.cpuMean);
        report.add("key_cpu_max_s", keys.cpuMax);
        QScrollBar* bar = grid->verticalScrollBar();
        int scrolls = 0;
        const Steps scrolled =
            timeSteps(window, 40, [&] { bar->setValue(++scrolls % 2 ? bar->maximum() : 0); });
        report.add("scroll_mean_s", scrolled.mean);
        report.add("scroll_max_s", scrolled.max);
        report.add("scroll_cpu_mean_s", scrolled.cpuMean);
        report.add("scroll_cpu_max_s", scrolled.cpuMax);

        // The logout re-reads the whole list, the huge value with it.
        window.child<QLineEdit>("EditUserName")->setText(window.cell(otherRow, 0));
        const Stopwatch clock;
        window.child<QPushButton>("ResetButton")->click();
        window.paintGrid();
        report.add("logout_s", clock.seconds());
        window.requireBoxes({});
        if (window.cell(otherRow, 2) != QLatin1String("0"))
            throw std::runtime_error("the logout did not show user_log_in = 0");
        report.add("maxrss_kib", double(peakRssKib()));
        report.print();
        return 0;
    });
}

int windowLogoutCase(int argc, char** argv, const Options& options)
{
    return withApplication(argc, argv, [&] {
        Window window(options.database);
        window.connect();
        openList(window);
        window.requireBoxes({});
        window.requireRows(options.rows);
        const int row = int(options.rows / 2);
        const QString user = window.cell(row, 0);
        window.child<QLineEdit>("EditUserName")->setText(user);

        const Stopwatch clock;
        window.child<QPushButton>("ResetButton")->click();
        window.paintGrid();
        const double seconds = clock.seconds();
        const double cpu = clock.cpuSeconds();
        window.requireBoxes({});
        window.requireRows(options.rows);
        if (window.cell(row, 0) == user && window.cell(row, 2) != QLatin1String("0"))
            throw std::runtime_error("the logout did not show user_log_in = 0");

        Report report;
        report.add("rows", window.rowCount());
        report.add("logout_s", seconds);
        report.add("cpu_s", cpu);
        report.add("maxrss_kib", double(peakRssKib()));
        report.print();
        return 0;
    });
}

} // namespace bench
