// Everything the program shows or prints during a test, gathered so that tests can
// look for passwords in it.
#include "ShownText.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMutex>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <cstdio>
#include <unistd.h>

namespace testsupport {
namespace {

QMutex messagesLock;
QStringList capturedMessages;
QtMessageHandler previousHandler = nullptr;

void recordMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    {
        const QMutexLocker locker(&messagesLock);
        capturedMessages << message;
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

void addModelTexts(const QAbstractItemModel* model, QStringList& texts)
{
    static constexpr int roles[] = {Qt::DisplayRole,   Qt::EditRole,      Qt::ToolTipRole,
                                    Qt::StatusTipRole, Qt::WhatsThisRole, Qt::AccessibleTextRole};
    for (int row = 0; row < model->rowCount(); ++row) {
        for (int column = 0; column < model->columnCount(); ++column) {
            const QModelIndex index = model->index(row, column);
            for (int role : roles)
                texts << model->data(index, role).toString();
        }
    }
    for (const Qt::Orientation orientation : {Qt::Horizontal, Qt::Vertical}) {
        const int count = orientation == Qt::Horizontal ? model->columnCount() : model->rowCount();
        for (int section = 0; section < count; ++section) {
            texts << model->headerData(section, orientation, Qt::DisplayRole).toString()
                  << model->headerData(section, orientation, Qt::ToolTipRole).toString();
        }
    }
}

} // namespace

QStringList shownTexts()
{
    QStringList texts;
    for (const QWidget* widget : QApplication::allWidgets()) {
        texts << widget->windowTitle() << widget->windowIconText() << widget->toolTip()
              << widget->statusTip() << widget->whatsThis() << widget->accessibleName()
              << widget->accessibleDescription();
        if (const auto* edit = qobject_cast<const QLineEdit*>(widget))
            texts << edit->text() << edit->displayText() << edit->placeholderText();
        else if (const auto* label = qobject_cast<const QLabel*>(widget))
            texts << label->text();
        else if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
            texts << button->text();
        else if (const auto* plain = qobject_cast<const QPlainTextEdit*>(widget))
            texts << plain->toPlainText();
        else if (const auto* rich = qobject_cast<const QTextEdit*>(widget))
            texts << rich->toPlainText();
        if (const auto* view = qobject_cast<const QAbstractItemView*>(widget);
            view && view->model())
            addModelTexts(view->model(), texts);
    }
    texts.removeAll(QString());
    return texts;
}

QStringList boxTexts(const BoxWatcher& boxes)
{
    QStringList texts;
    for (const SeenBox& box : boxes.boxes())
        texts << box.title << box.text << box.windowState;
    return texts;
}

QString findSecret(const QStringList& texts, const QStringList& secrets)
{
    for (const QString& text : texts) {
        for (const QString& secret : secrets) {
            if (!secret.isEmpty() && text.contains(secret))
                return secret + QStringLiteral(" in: ") + text.left(300);
        }
    }
    return {};
}

OutputCapture::OutputCapture()
{
    int ends[2];
    if (::pipe(ends) != 0)
        qFatal("cannot make a pipe to capture the output");
    {
        const QMutexLocker locker(&messagesLock);
        capturedMessages.clear();
    }
    previousHandler = qInstallMessageHandler(recordMessage);
    std::fflush(nullptr);
    m_savedOut = ::dup(STDOUT_FILENO);
    m_savedErr = ::dup(STDERR_FILENO);
    ::dup2(ends[1], STDOUT_FILENO);
    ::dup2(ends[1], STDERR_FILENO);
    m_writeEnd = ends[1];
    // Passed on at once, so that even a crash leaves its last words in the test log.
    m_copier = std::thread([this, readEnd = ends[0]] { copyThrough(readEnd); });
}

void OutputCapture::copyThrough(int from)
{
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got <= 0)
            break;
        {
            const std::lock_guard<std::mutex> locker(m_lock);
            m_written.append(buffer, got);
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(m_savedOut, buffer + done, std::size_t(got - done));
            if (put <= 0)
                break;
            done += put;
        }
    }
    ::close(from);
}

OutputCapture::~OutputCapture()
{
    finish();
}

QString OutputCapture::finish()
{
    if (m_writeEnd < 0)
        return m_text;
    qInstallMessageHandler(previousHandler);
    previousHandler = nullptr;
    std::fflush(nullptr);
    ::dup2(m_savedOut, STDOUT_FILENO);
    ::dup2(m_savedErr, STDERR_FILENO);
    ::close(m_writeEnd); // the last writer: the copier sees the end
    m_writeEnd = -1;
    m_copier.join();
    ::close(m_savedOut);
    ::close(m_savedErr);
    const QMutexLocker locker(&messagesLock);
    m_text = QString::fromUtf8(m_written) + u'\n' + capturedMessages.join(u'\n');
    return m_text;
}

} // namespace testsupport
