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
        if (verbose())
            std::fprintf(stderr, "step %d: %.2f ms\n", i, seconds * 1000);
        result.mean += seconds / count;
        result.max = std::max(result.max, seconds);
    }
    return result;
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

} // namespace

int windowListCase(int argc, char** argv, const Options& options)
{
    return withApplication(argc, argv, [&] {
        Window window(options.database);
        window.connect();
        const Timed opened = openList(window);
        window.requireBoxes({});
        window.requireRows(options.rows);
        Report report;
        report.add("rows", window.rowCount());
        report.add("list_s", opened.seconds);
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
