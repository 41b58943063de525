// Tests for the logout window as the operator meets it: layout, captions, focus and buttons.
#include "ui/DBNavigator.h"
#include "ui/MainUnit.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

/// How much ink `image` holds in column `x`: the summed opacity of its pixels.
int inkInColumn(const QImage& image, int x)
{
    int ink = 0;
    for (int y = 0; y < image.height(); ++y)
        ink += qAlpha(image.pixel(x, y));
    return ink;
}

/// The largest difference in opacity between `a` and `b` mirrored left to right.
int mirrorDistance(const QImage& a, const QImage& b)
{
    const QImage mirrored = b.mirrored(true, false);
    int worst = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x)
            worst = std::max(worst, std::abs(qAlpha(a.pixel(x, y)) - qAlpha(mirrored.pixel(x, y))));
    }
    return worst;
}

QString captionOf(const QWidget* widget)
{
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return label->text();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        return button->text();
    }
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
        return edit->text();
    }
    return {};
}

QWidget* control(const TMainForm& form, const QString& name)
{
    return form.findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
}

QString focusName()
{
    const QWidget* focused = QApplication::focusWidget();
    return focused != nullptr ? focused->objectName() : u"(none)"_s;
}

} // namespace

class TestMainForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void window();
    void controls_data();
    void controls();
    void navigatorButtons();
    void navigatorReportsWhichButton();
    void navigatorSymbols();
    void navigatorState_data();
    void navigatorState();
    void fontIsTheWindowsOwn();
    void tabOrder_data();
    void tabOrder();
    void tabIntoUserNameSelectsAll();
    // Runs the application's event loop; kept last.
    void endButtonQuits();

private:
    // Any modal box that pops up is noted and closed, so a handler that runs when it should
    // not fails the test instead of blocking it.
    QTimer m_boxWatch;
    QStringList m_boxesShown;
    /// The application's font before any window was made.
    QFont m_applicationFont;
};

void TestMainForm::initTestCase()
{
    m_applicationFont = QGuiApplication::font();
    m_boxWatch.setInterval(20);
    connect(&m_boxWatch, &QTimer::timeout, this, [this] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            m_boxesShown.append(box->text());
            box->done(0);
        }
    });
    m_boxWatch.start();
}

void TestMainForm::init()
{
    m_boxesShown.clear();
}

void TestMainForm::window()
{
    TMainForm form(u"/tmp/Connection.ini"_s);
    QCOMPARE(form.windowTitle(), u"ログアウト処理"_s);
    QCOMPARE(form.size(), QSize(472, 244));
    QVERIFY(form.isWindow());

    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.size(), QSize(472, 244));
    const QPoint offCentre = form.geometry().center() - form.screen()->availableGeometry().center();
    QVERIFY2(offCentre.manhattanLength() <= 1,
             qPrintable(u"%1,%2"_s.arg(offCentre.x()).arg(offCentre.y())));
    QVERIFY(m_boxesShown.isEmpty());
}

void TestMainForm::controls_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("accessibleName");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("Label1") << u"QLabel"_s << QRect(16, 8, 80, 13) << u"DataBaseの表示"_s
                            << u"DataBaseの表示"_s << true;
    QTest::newRow("DBGrid1") << u"DBGrid"_s << QRect(80, 85, 353, 128) << QString() << u"DBGrid1"_s
                             << true;
    QTest::newRow("DBNavigator1") << u"DBNavigator"_s << QRect(80, 219, 225, 25) << QString()
                                  << u"DBNavigator1"_s << true;
    QTest::newRow("EndButton") << u"QPushButton"_s << QRect(149, 0, 100, 25) << u"終了"_s
                               << u"終了"_s << true;
    QTest::newRow("ConnectionButton")
        << u"QPushButton"_s << QRect(247, 0, 100, 25) << u"①接続"_s << u"①接続"_s << true;
    QTest::newRow("DatabaseNameEdit")
        << u"QLineEdit"_s << QRect(8, 31, 321, 21) << QString() << u"DatabaseNameEdit"_s << true;
    QTest::newRow("ShowDataButton") << u"QPushButton"_s << QRect(80, 58, 105, 25)
                                    << u"②ユーザー一覧"_s << u"②ユーザー一覧"_s << false;
    QTest::newRow("EditUserName") << u"QLineEdit"_s << QRect(191, 60, 138, 21)
                                  << u"③ユーザー名を入力します"_s << u"EditUserName"_s << true;
    QTest::newRow("ResetButton") << u"QPushButton"_s << QRect(335, 58, 98, 25)
                                 << u"④ログアウト処理"_s << u"④ログアウト処理"_s << false;
}

void TestMainForm::controls()
{
    QFETCH(QString, className);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    QFETCH(QString, accessibleName);
    QFETCH(bool, enabled);

    TMainForm form(u"/tmp/Connection.ini"_s);
    const QWidget* widget = control(form, QString::fromUtf8(QTest::currentDataTag()));
    QVERIFY(widget != nullptr);
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(captionOf(widget), caption);
    QCOMPARE(widget->accessibleName(), accessibleName);
    QCOMPARE(widget->isEnabled(), enabled);
    if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
        QVERIFY(!button->autoDefault());
        QVERIFY(!button->isDefault());
    }
}

void TestMainForm::navigatorButtons()
{
    TMainForm form(u"/tmp/Connection.ini"_s);
    const auto* navigator = form.findChild<DBNavigator*>(u"DBNavigator1"_s);
    QVERIFY(navigator != nullptr);
    QCOMPARE(navigator->focusPolicy(), Qt::NoFocus);
    QCOMPARE(navigator->findChildren<QToolButton*>().size(), 5);

    const QList<NavigatorButton> order{NavigatorButton::First, NavigatorButton::Prior,
                                       NavigatorButton::Next, NavigatorButton::Last,
                                       NavigatorButton::Refresh};
    const QStringList captions{u"最初の行"_s, u"前の行"_s, u"次の行"_s, u"最後の行"_s, u"再表示"_s};
    for (int i = 0; i < order.size(); ++i) {
        const QToolButton* button = navigator->button(order[i]);
        QVERIFY(button != nullptr);
        QCOMPARE(button->parentWidget(), navigator);
        QCOMPARE(button->geometry(), QRect(45 * i, 0, 45, 25));
        QCOMPARE(button->toolTip(), captions[i]);
        QCOMPARE(button->accessibleName(), captions[i]);
        QVERIFY(!button->icon().isNull());
        QCOMPARE(button->focusPolicy(), Qt::NoFocus);
        QVERIFY(!button->isEnabled());
        QVERIFY(!navigator->isButtonEnabled(order[i]));
    }
}

void TestMainForm::navigatorReportsWhichButton()
{
    DBNavigator navigator;
    QList<NavigatorButton> reported;
    connect(&navigator, &DBNavigator::clicked, this,
            [&reported](NavigatorButton which) { reported.append(which); });

    navigator.setState({true, true, true, true, true});
    const QList<NavigatorButton> order{NavigatorButton::Refresh, NavigatorButton::Last,
                                       NavigatorButton::First, NavigatorButton::Next,
                                       NavigatorButton::Prior};
    for (NavigatorButton which : order) {
        navigator.button(which)->click();
    }
    QCOMPARE(reported, order);

    // A disabled button stays silent and reads as disabled.
    navigator.setButtonEnabled(NavigatorButton::Next, false);
    QVERIFY(!navigator.isButtonEnabled(NavigatorButton::Next));
    QVERIFY(navigator.isButtonEnabled(NavigatorButton::Prior));
    navigator.button(NavigatorButton::Next)->click();
    QCOMPARE(reported.size(), order.size());
}

void TestMainForm::navigatorSymbols()
{
    DBNavigator navigator;
    const auto symbol = [&navigator](NavigatorButton which, int side, QIcon::Mode mode) {
        return navigator.button(which)
            ->icon()
            .pixmap(side, side, mode)
            .toImage()
            .convertToFormat(QImage::Format_ARGB32);
    };
    const QList<NavigatorButton> order{NavigatorButton::First, NavigatorButton::Prior,
                                       NavigatorButton::Next, NavigatorButton::Last,
                                       NavigatorButton::Refresh};
    for (const int side : {16, 32}) {
        QList<QImage> seen;
        for (NavigatorButton which : order) {
            const QImage normal = symbol(which, side, QIcon::Normal);
            QCOMPARE(normal.size(), QSize(side, side));
            int ink = 0;
            for (int x = 0; x < side; ++x)
                ink += inkInColumn(normal, x);
            // Something is drawn, on a see-through ground, and not over the whole square.
            QVERIFY2(ink > 255 * side, qPrintable(u"%1 px, button %2"_s.arg(side).arg(int(which))));
            QVERIFY(ink < 255 * side * side / 2);
            QVERIFY(!seen.contains(normal));
            seen.append(normal);
            // A button that cannot be pressed shows it in another colour.
            QVERIFY(symbol(which, side, QIcon::Disabled) != normal);
        }
        // Back and forth are mirror images of each other...
        QVERIFY(mirrorDistance(seen[0], seen[3]) <= 16);
        QVERIFY(mirrorDistance(seen[1], seen[2]) <= 16);
        // ...and "next" points right: a right-pointing triangle is widest on its left.
        const QImage& next = seen[2];
        int widest = 0;
        for (int x = 1; x < side; ++x) {
            if (inkInColumn(next, x) > inkInColumn(next, widest))
                widest = x;
        }
        QVERIFY2(widest < side / 2, qPrintable(QString::number(widest)));
        // "First" starts with its bar at the left edge, "last" ends with it at the right.
        QVERIFY(inkInColumn(seen[0], side * 4 / 16) > inkInColumn(seen[0], side * 7 / 16));
        QVERIFY(inkInColumn(seen[3], side * 11 / 16) > inkInColumn(seen[3], side * 8 / 16));
    }
}

void TestMainForm::navigatorState_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<bool>>("expected"); // first, prior, next, last, refresh

    QTest::newRow("closed") << false << 0 << 0 << QList{false, false, false, false, false};
    QTest::newRow("closed with rows left over")
        << false << 1 << 3 << QList{false, false, false, false, false};
    QTest::newRow("open and empty") << true << 0 << 0 << QList{false, false, false, false, true};
    QTest::newRow("single row") << true << 0 << 1 << QList{false, false, false, false, true};
    QTest::newRow("on first row") << true << 0 << 3 << QList{false, false, true, true, true};
    QTest::newRow("in the middle") << true << 1 << 3 << QList{true, true, true, true, true};
    QTest::newRow("on last row") << true << 2 << 3 << QList{true, true, false, false, true};
    QTest::newRow("no current row counts as first")
        << true << -1 << 3 << QList{false, false, true, true, true};
    QTest::newRow("current past the end counts as last")
        << true << 7 << 3 << QList{true, true, false, false, true};
}

void TestMainForm::navigatorState()
{
    QFETCH(bool, open);
    QFETCH(int, current);
    QFETCH(int, count);
    QFETCH(QList<bool>, expected);

    const NavigatorState state = ::navigatorState(open, current, count);
    const QList<bool> actual{state.first, state.prior, state.next, state.last, state.refresh};
    QCOMPARE(actual, expected);
}

void TestMainForm::fontIsTheWindowsOwn()
{
    TMainForm form(u"/tmp/Connection.ini"_s);
    // The window's font is its own: boxes and windows made later, here or after any
    // window made by the tests before, keep the application's.
    QCOMPARE(QGuiApplication::font(), m_applicationFont);
    QCOMPARE(QFont(), m_applicationFont);
    const QFont font = form.font();
    QVERIFY(!font.families().isEmpty());
    QCOMPARE(font.families().constFirst(), u"Tahoma"_s);
    QCOMPARE(font.pixelSize(), 11);
    QVERIFY(!font.bold());
    QVERIFY(!font.italic());
    QVERIFY(!font.underline());

    for (const QWidget* child : form.findChildren<QWidget*>()) {
        QVERIFY2(!child->testAttribute(Qt::WA_SetFont), qPrintable(child->objectName()));
        QCOMPARE(child->font(), font);
    }
}

void TestMainForm::tabOrder_data()
{
    QTest::addColumn<bool>("actionsEnabled");
    QTest::addColumn<QStringList>("walk");

    QTest::newRow("as first shown")
        << false
        << QStringList{u"EndButton"_s, u"ConnectionButton"_s, u"DatabaseNameEdit"_s,
                       u"EditUserName"_s, u"DBGrid1"_s};
    QTest::newRow("list and reset enabled")
        << true << QStringList{u"EndButton"_s,      u"ConnectionButton"_s, u"DatabaseNameEdit"_s,
                               u"ShowDataButton"_s, u"EditUserName"_s,     u"ResetButton"_s,
                               u"DBGrid1"_s};
}

void TestMainForm::tabOrder()
{
    QFETCH(bool, actionsEnabled);
    QFETCH(QStringList, walk);

    TMainForm form(u"/tmp/Connection.ini"_s);
    control(form, u"ShowDataButton"_s)->setEnabled(actionsEnabled);
    control(form, u"ResetButton"_s)->setEnabled(actionsEnabled);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));

    QCOMPARE(focusName(), u"DBGrid1"_s);
    for (const QString& next : walk) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(focusName(), next);
    }
    QVERIFY2(m_boxesShown.isEmpty(), qPrintable(m_boxesShown.join(u'\n')));
}

void TestMainForm::tabIntoUserNameSelectsAll()
{
    TMainForm form(u"/tmp/Connection.ini"_s);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));

    auto* userName = form.findChild<QLineEdit*>(u"EditUserName"_s);
    QVERIFY(userName != nullptr);
    for (int i = 0; i < 10 && QApplication::focusWidget() != userName; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(QApplication::focusWidget(), userName);
    QTest::qWait(50); // let a handler that should not run show itself
    QCOMPARE(userName->text(), u"③ユーザー名を入力します"_s);
    QCOMPARE(userName->selectedText(), userName->text());
    // Entering by keyboard is not a click: the click handler must not have run.
    QVERIFY2(m_boxesShown.isEmpty(), qPrintable(m_boxesShown.join(u'\n')));
}

void TestMainForm::endButtonQuits()
{
    TMainForm form(u"/tmp/Connection.ini"_s);
    auto* endButton = form.findChild<QPushButton*>(u"EndButton"_s);
    QVERIFY(endButton != nullptr);

    bool timedOut = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, this, [&timedOut] {
        timedOut = true;
        QCoreApplication::exit(1);
    });
    watchdog.start(5000);
    QTimer::singleShot(0, endButton, [endButton] { endButton->click(); });
    const int exitCode = QCoreApplication::exec();

    QVERIFY(!timedOut);
    QCOMPARE(exitCode, 0);
    QVERIFY(m_boxesShown.isEmpty());
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
