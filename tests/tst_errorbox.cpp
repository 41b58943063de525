// Tests for how failures and messages reach the operator: box texts, boxes and the boundary.
#include "app/ErrorBox.h"
#include "app/HandlerBoundary.h"
#include "app/MessageBox.h"
#include "db/Error.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
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
};

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

QTEST_MAIN(TestErrorBox)
#include "tst_errorbox.moc"
