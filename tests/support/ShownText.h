// Everything the program shows or prints during a test, gathered so that tests can
// look for passwords in it.
#pragma once

#include "BoxWatcher.h"

#include <QString>
#include <QStringList>
#include <mutex>
#include <thread>

namespace testsupport {

/// What the application shows right now: every widget's window title, text, tool tip
/// and placeholder, and every item view's cells (all text roles) and header titles.
QStringList shownTexts();

/// The titles and texts of every box the watcher answered.
QStringList boxTexts(const BoxWatcher& boxes);

/// The first of `texts` that contains one of `secrets` (compared exactly, letter case
/// included), as "<secret> in: <text>", or an empty text when none does.
QString findSecret(const QStringList& texts, const QStringList& secrets);

/// While alive, whatever the process writes to its standard output and error (file
/// descriptors 1 and 2, so fbclient's own writes too) is recorded on its way to the
/// real output, and so is every Qt message. One at a time per process.
class OutputCapture
{
public:
    OutputCapture();
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    /// Ends the capture (once) and gives everything written and logged meanwhile.
    QString finish();

private:
    void copyThrough(int from);

    int m_savedOut = -1;
    int m_savedErr = -1;
    int m_writeEnd = -1;
    std::thread m_copier;
    std::mutex m_lock;
    QByteArray m_written;
    QString m_text;
};

} // namespace testsupport
