// How a failure is told to the operator: the text derived from an error and its modal box.
#include "boxes/ErrorBox.h"

#include "boxes/MessageBox.h"

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QStringList>
#include <cstdio>
#include <utility>

namespace {

struct ChainMessage
{
    QString innermost;
    bool sawUnknown = false;
};

// Walks the chain built by std::throw_with_nested; the deepest non-empty message wins
// because that is where the actual cause was described.
void collectMessages(const std::exception_ptr& error, ChainMessage& found)
{
    const std::nested_exception* nested = nullptr;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        const QString message = QString::fromUtf8(e.what());
        if (!message.isEmpty()) {
            found.innermost = message;
        }
        nested = dynamic_cast<const std::nested_exception*>(&e);
    } catch (const std::nested_exception& e) {
        nested = &e;
    } catch (...) {
        found.sawUnknown = true;
    }
    // A nested_exception made outside a handler holds nothing; rethrowing it would terminate.
    if (nested != nullptr && nested->nested_ptr()) {
        collectMessages(nested->nested_ptr(), found);
    }
}

/// The error box on screen and the messages it shows. Boxes live on the GUI thread only.
struct ShownErrors
{
    QPointer<QMessageBox> box;
    QStringList messages;

    void add(const QString& text)
    {
        if (messages.contains(text))
            return;
        messages.append(text);
        if (box)
            box->setText(messages.join(u'\n'));
    }
};

ShownErrors* g_shown = nullptr;
/// Errors waiting for the queued call that shows them.
QStringList g_pending;

/// Errors that keep breaking the box's loop would otherwise keep it spinning.
constexpr int kMaxBrokenLoops = 3;

void writeToLog(const QString& text) noexcept
{
    std::fprintf(stderr, "tarnwick-logout: error not shown: %s\n", text.toLocal8Bit().constData());
}

void showTexts(QStringList texts)
{
    ShownErrors shown;
    // Errors waiting for a later box are shown now, in this one.
    for (const QString& text : std::exchange(g_pending, {}))
        shown.add(text);
    for (const QString& text : texts)
        shown.add(text);

    QMessageBox box(QApplication::activeWindow());
    prepareMessageBox(box, QMessageBox::Critical, shown.messages.join(u'\n'));
    box.setWindowModality(Qt::ApplicationModal);
    shown.box = &box;
    g_shown = &shown;
    struct Reset
    {
        ~Reset() { g_shown = nullptr; }
    } reset;

    box.show();
    // A loop of our own rather than exec(): an exception that unwinds out of exec()
    // leaves the dialog pointing at a loop that no longer exists, while here the box is
    // untouched and simply waits again with the new text.
    for (int broken = 0;; ++broken) {
        QEventLoop loop;
        QObject::connect(&box, &QDialog::finished, &loop, &QEventLoop::quit);
        try {
            if (box.isVisible())
                loop.exec(QEventLoop::DialogExec);
            return;
        } catch (...) {
            const QString text = errorBoxText(std::current_exception());
            if (broken + 1 >= kMaxBrokenLoops) {
                writeToLog(text);
                return;
            }
            shown.add(text);
        }
    }
}

} // namespace

QString errorBoxText(std::exception_ptr error)
{
    if (!error) {
        return {};
    }
    ChainMessage found;
    collectMessages(error, found);

    QString text = found.innermost;
    if (text.isEmpty() && found.sawUnknown) {
        text = QStringLiteral("不明なエラーが発生しました");
    }
    // Everything sorting after "." (letters, digits, kana, kanji, "。") gets a closing
    // period; ")" and other low punctuation are left as the author wrote them.
    if (!text.isEmpty() && text.back() > QChar(u'.')) {
        text += u'.';
    }
    return text;
}

void showErrorBox(std::exception_ptr error)
{
    const QString text = errorBoxText(error);
    if (g_shown != nullptr) {
        g_shown->add(text);
        return;
    }
    showTexts({text});
}

void showErrorBoxLater(std::exception_ptr error) noexcept
{
    try {
        const QString text = errorBoxText(error);
        if (g_shown != nullptr) {
            g_shown->add(text);
            return;
        }
        QCoreApplication* app = QCoreApplication::instance();
        if (app == nullptr) {
            writeToLog(text);
            return;
        }
        const bool first = g_pending.isEmpty();
        if (!g_pending.contains(text))
            g_pending.append(text);
        if (first) {
            QMetaObject::invokeMethod(
                app,
                [] {
                    // A box opened meanwhile has taken them already.
                    if (!g_pending.isEmpty())
                        showTexts({});
                },
                Qt::QueuedConnection);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarnwick-logout: error not shown: %s\n", e.what());
    }
}
