// Tests for how failures and messages reach the operator: box texts, boxes and the boundary.
#include "boxes/ErrorBox.h"
#include "boxes/HandlerBoundary.h"
#include "boxes/MessageBox.h"
#include "db/Error.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <functional>
#include <optional>
#include <stdexcept>

Q_DECLARE_METATYPE(std::exception_ptr)

using namespace Qt::StringLiterals;

namespace {

std::exception_ptr errorWith(const QString& message)
{
    return std::make_exception_ptr(db::Error(message));
}

// `inner` becomes the nested cause of a new error carrying `outer`, as
// std::throw_with_nested would build it inside a handler.
std::exception_ptr wrapped(const QString& outer, const std::exception_ptr& inner)
{
    try {
        std::rethrow_exception(inner);
    } catch (...) {
        try {
            std::throw_with_nested(db::Error(outer));
        } catch (...) {
            return std::current_exception();
        }
    }
    return {};
}

struct SeenBox
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QList<QMessageBox::StandardButton> buttons;
};

// Waits for the next modal message box, notes what it shows and closes it with its first
// button, so the code under test that is blocked in exec() can return.
void closeNextBox(std::optional<SeenBox>& seen, int triesLeft = 500)
{
    QTimer::singleShot(10, [&seen, triesLeft] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            if (triesLeft > 0) {
                closeNextBox(seen, triesLeft - 1);
            }
            return;
        }
        SeenBox shown{box->icon(), box->windowTitle(), box->text(), {}};
        for (QAbstractButton* button : box->buttons()) {
            shown.buttons.append(box->standardButton(button));
        }
        seen = shown;
        box->buttons().constFirst()->click();
    });
}

// Closes every box still open, so that a test that went wrong fails instead of hanging.
void closeAllBoxes(int rounds = 50)
{
    QTimer::singleShot(10, [rounds] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->buttons().constFirst()->click();
        if (rounds > 0)
            closeAllBoxes(rounds - 1);
    });
}

// Like closeNextBox, but leaves the box up until `ready` says it shows what the test
// waits for, so that errors still on their way reach it first. Should that never come,
// notes what the box on top shows at the end and closes them all.
void closeBoxWhen(std::function<bool(const QMessageBox&)> ready, std::optional<SeenBox>& seen,
                  int triesLeft = 300)
{
    QTimer::singleShot(10, [ready = std::move(ready), &seen, triesLeft]() mutable {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        const bool done = box != nullptr && ready(*box);
        if (!done && triesLeft > 0) {
            closeBoxWhen(std::move(ready), seen, triesLeft - 1);
            return;
        }
        if (box != nullptr) {
            seen = SeenBox{box->icon(), box->windowTitle(), box->text(), {}};
            box->buttons().constFirst()->click();
        }
        if (!done)
            closeAllBoxes();
    });
}

bool hasLines(const QMessageBox& box, qsizetype lines)
{
    return box.text().count(u'\n') + 1 >= lines;
}

// Counts the message boxes that appear on screen.
class BoxCounter : public QObject
{
public:
    BoxCounter() { qApp->installEventFilter(this); }

    int shown = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<QMessageBox*>(watched))
            ++shown;
        return false;
    }
};

// A window whose paint fails while armed, as a view over a broken model would.
class PaintTrap : public QWidget
{
public:
    bool armed = false;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        if (armed)
            throw db::Error(QStringLiteral("再描画できません"));
    }
};

class HandlerOwner : public QObject
{
public:
    void failingHandler(QObject* sender)
    {
        ++calls;
        lastSender = sender;
        throw db::Error(QStringLiteral("接続できません"));
    }

    int calls = 0;
    QObject* lastSender = nullptr;
};

} // namespace

class TestErrorBox : public QObject
{
    Q_OBJECT

private slots:
    void boxText_data();
    void boxText();
    void errorBoxLooksRight();
    void messageBoxLooksRight();
    void boundaryTurnsThrowIntoBox();
    void guardedCodeReportsUnknownErrors();
    void errorsWhileBoxIsUpJoinIt_data();
    void errorsWhileBoxIsUpJoinIt();
    void strayErrorsAreShownAfterTheirEvent_data();
    void strayErrorsAreShownAfterTheirEvent();
};

/// What goes wrong while the first error's box is on screen.
enum class Trouble
{
    Repaint,
    TimerEvent,
    GuardedHandler,
    SameMessageAgain,
    LoopBroken,
};
Q_DECLARE_METATYPE(Trouble)

/// Where an error thrown outside every handler comes from.
enum class Stray
{
    GuiThread,
    GuiThreadTwice,
    OtherThread,
};
Q_DECLARE_METATYPE(Stray)

void TestErrorBox::boxText_data()
{
    QTest::addColumn<std::exception_ptr>("error");
    QTest::addColumn<QString>("expected");

    QTest::newRow("japanese end gets period")
        << errorWith(u"接続できません"_s) << u"接続できません."_s;
    QTest::newRow("letter end gets period")
        << errorWith(u"Connection lost"_s) << u"Connection lost."_s;
    QTest::newRow("digit end gets period")
        << errorWith(u"error 335544345"_s) << u"error 335544345."_s;
    QTest::newRow("period end stays") << errorWith(u"Done."_s) << u"Done."_s;
    QTest::newRow("ideographic period gets period")
        << errorWith(u"完了しました。"_s) << u"完了しました。."_s;
    QTest::newRow("parenthesis end stays")
        << errorWith(u"failed (code 3)"_s) << u"failed (code 3)"_s;
    QTest::newRow("hyphen just before period stays") << errorWith(u"a-"_s) << u"a-"_s;
    QTest::newRow("slash just after period gets period") << errorWith(u"a/"_s) << u"a/."_s;
    QTest::newRow("character beyond BMP gets period") << errorWith(u"名前 𠮷"_s) << u"名前 𠮷."_s;
    QTest::newRow("empty stays empty") << errorWith(QString()) << QString();
    QTest::newRow("what() is read as UTF-8")
        << std::make_exception_ptr(std::runtime_error("\xe3\x83\x87\xe3\x83\xbc\xe3\x82\xbf"))
        << u"データ."_s;
    QTest::newRow("component error")
        << std::make_exception_ptr(db::ComponentError(
               u"SimpleDataSet1"_s, u"データセットは閉じているため, この操作は実行できません"_s))
        << u"SimpleDataSet1: データセットは閉じているため, この操作は実行できません."_s;
    QTest::newRow("nested shows inner message")
        << wrapped(u"外側"_s, errorWith(u"内側"_s)) << u"内側."_s;
    QTest::newRow("nested empty inner falls back to outer")
        << wrapped(u"外側"_s, errorWith(QString())) << u"外側."_s;
    QTest::newRow("deepest non-empty of three")
        << wrapped(u"外側"_s, wrapped(u"中間"_s, errorWith(QString()))) << u"中間."_s;
    QTest::newRow("three levels innermost wins")
        << wrapped(u"外側"_s, wrapped(u"中間"_s, errorWith(u"原因)"_s))) << u"原因)"_s;
    QTest::newRow("unknown exception")
        << std::make_exception_ptr(42) << u"不明なエラーが発生しました."_s;
    QTest::newRow("unknown cause under a message")
        << wrapped(u"外側"_s, std::make_exception_ptr(42)) << u"外側."_s;
}

void TestErrorBox::boxText()
{
    QFETCH(std::exception_ptr, error);
    QFETCH(QString, expected);

    QCOMPARE(errorBoxText(error), expected);
}

void TestErrorBox::errorBoxLooksRight()
{
    std::optional<SeenBox> seen;
    closeNextBox(seen);
    showErrorBox(errorWith(u"接続できません"_s));

    QVERIFY(seen.has_value());
    QCOMPARE(seen->icon, QMessageBox::Critical);
    QCOMPARE(seen->title, u"Tarnwick"_s);
    QCOMPARE(seen->text, u"接続できません."_s);
    QCOMPARE(seen->buttons, QList{QMessageBox::Ok});
}

void TestErrorBox::messageBoxLooksRight()
{
    std::optional<SeenBox> seen;
    closeNextBox(seen);
    showMessage(u"ログアウトしました <b>x</b>"_s);

    QVERIFY(seen.has_value());
    QCOMPARE(seen->icon, QMessageBox::NoIcon);
    QCOMPARE(seen->title, u"Tarnwick"_s);
    // The text is shown as written, without a period added and without markup.
    QCOMPARE(seen->text, u"ログアウトしました <b>x</b>"_s);
    QCOMPARE(seen->buttons, QList{QMessageBox::Ok});
}

void TestErrorBox::boundaryTurnsThrowIntoBox()
{
    QPushButton button;
    HandlerOwner owner;
    connectHandler(&button, &QPushButton::clicked, &owner, &HandlerOwner::failingHandler);

    // Twice: after the first failure the button and its handler must still work.
    for (int round = 1; round <= 2; ++round) {
        std::optional<SeenBox> seen;
        closeNextBox(seen);
        button.click();

        QCOMPARE(owner.calls, round);
        QCOMPARE(owner.lastSender, &button);
        QVERIFY(seen.has_value());
        QCOMPARE(seen->icon, QMessageBox::Critical);
        QCOMPARE(seen->text, u"接続できません."_s);
    }
}

void TestErrorBox::guardedCodeReportsUnknownErrors()
{
    std::optional<SeenBox> seen;
    closeNextBox(seen);
    runGuarded([] { throw 42; });

    QVERIFY(seen.has_value());
    QCOMPARE(seen->icon, QMessageBox::Critical);
    QCOMPARE(seen->text, u"不明なエラーが発生しました."_s);
}

void TestErrorBox::errorsWhileBoxIsUpJoinIt_data()
{
    QTest::addColumn<Trouble>("trouble");
    QTest::addColumn<QString>("expected");

    QTest::newRow("a repaint throws, again and again")
        << Trouble::Repaint << u"接続できません.\n再描画できません."_s;
    QTest::newRow("a timer's slot throws")
        << Trouble::TimerEvent << u"接続できません.\n時間切れ."_s;
    QTest::newRow("a second guarded handler throws")
        << Trouble::GuardedHandler << u"接続できません.\n二つ目のエラー."_s;
    QTest::newRow("the same message is not repeated")
        << Trouble::SameMessageAgain << u"接続できません.\n二つ目のエラー."_s;
    QTest::newRow("a throw escapes the box's event loop")
        << Trouble::LoopBroken << u"接続できません.\nイベントループが壊れました."_s;
}

void TestErrorBox::errorsWhileBoxIsUpJoinIt()
{
    QFETCH(Trouble, trouble);
    QFETCH(QString, expected);

    PaintTrap trap;
    trap.resize(80, 40);
    trap.show();
    QVERIFY(QTest::qWaitForWindowExposed(&trap));

    // Thrown by the dispatcher's own signal, which no event and no handler wraps: the one
    // way out of the box's loop that the application object does not see.
    bool breakLoop = false;
    const QMetaObject::Connection breaker =
        connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
                [&breakLoop] {
                    if (std::exchange(breakLoop, false))
                        throw db::Error(QStringLiteral("イベントループが壊れました"));
                });

    const auto throwLater = [](const QString& message) {
        QTimer::singleShot(0, qApp, [message] { throw db::Error(message); });
    };
    const auto throwGuardedLater = [](const QString& message) {
        QTimer::singleShot(0, qApp, [message] { runGuarded([&] { throw db::Error(message); }); });
    };

    BoxCounter boxes;
    std::optional<SeenBox> seen;
    closeBoxWhen([&](const QMessageBox& box) { return hasLines(box, expected.count(u'\n') + 1); },
                 seen);
    runGuarded([&] {
        switch (trouble) {
        case Trouble::Repaint:
            trap.armed = true;
            trap.update();
            break;
        case Trouble::TimerEvent:
            throwLater(u"時間切れ"_s);
            break;
        case Trouble::GuardedHandler:
            throwGuardedLater(u"二つ目のエラー"_s);
            break;
        case Trouble::SameMessageAgain:
            throwGuardedLater(u"接続できません"_s);
            throwLater(u"接続できません"_s);
            throwGuardedLater(u"二つ目のエラー"_s);
            break;
        case Trouble::LoopBroken:
            breakLoop = true;
            // Qt's own loop notices the exception on its way out: proof that it took
            // that way.
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(u"caught an exception thrown from an event"_s));
            break;
        }
        throw db::Error(u"接続できません"_s);
    });
    trap.armed = false;
    disconnect(breaker);

    QVERIFY(seen.has_value());
    QCOMPARE(seen->icon, QMessageBox::Critical);
    QCOMPARE(seen->text, expected);
    // Nothing was left over for a box of its own.
    QCoreApplication::processEvents();
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QCOMPARE(boxes.shown, 1);
}

void TestErrorBox::strayErrorsAreShownAfterTheirEvent_data()
{
    QTest::addColumn<Stray>("stray");
    QTest::addColumn<QString>("expected");

    QTest::newRow("a timer's slot") << Stray::GuiThread << u"時間切れ."_s;
    QTest::newRow("two before the loop turns")
        << Stray::GuiThreadTwice << u"時間切れ.\n再描画できません."_s;
    QTest::newRow("an event on another thread") << Stray::OtherThread << u"時間切れ."_s;
}

void TestErrorBox::strayErrorsAreShownAfterTheirEvent()
{
    QFETCH(Stray, stray);
    QFETCH(QString, expected);

    QThread thread;
    QObject worker;
    worker.moveToThread(&thread);
    thread.start();

    // Set by the event queued after the throwing one: that it ran before the box came
    // shows that the box waited until the throwing event had returned.
    bool loopWentOn = false;
    bool wentOnBeforeBox = false;
    BoxCounter boxes;
    std::optional<SeenBox> seen;
    closeBoxWhen(
        [&](const QMessageBox& box) {
            wentOnBeforeBox = loopWentOn;
            return hasLines(box, expected.count(u'\n') + 1);
        },
        seen);
    switch (stray) {
    case Stray::GuiThread:
        QTimer::singleShot(0, qApp, [] { throw db::Error(u"時間切れ"_s); });
        break;
    case Stray::GuiThreadTwice:
        QTimer::singleShot(0, qApp, [] { throw db::Error(u"時間切れ"_s); });
        QTimer::singleShot(0, qApp, [] { throw db::Error(u"再描画できません"_s); });
        break;
    case Stray::OtherThread:
        QTimer::singleShot(0, &worker, [] { throw db::Error(u"時間切れ"_s); });
        break;
    }
    QTimer::singleShot(0, qApp, [&loopWentOn] { loopWentOn = true; });

    QTRY_VERIFY(seen.has_value());
    thread.quit();
    thread.wait();
    QVERIFY(wentOnBeforeBox);
    QCOMPARE(seen->icon, QMessageBox::Critical);
    QCOMPARE(seen->text, expected);
    QCoreApplication::processEvents();
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QCOMPARE(boxes.shown, 1);
}

// The program's own application object: the boundary's second line is part of what is
// tested here.
int main(int argc, char* argv[])
{
    GuardedApplication app(argc, argv);
    TestErrorBox test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_errorbox.moc"
