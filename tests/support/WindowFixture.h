// The real logout window with a private profile file, and ways to operate it.
#pragma once

#include "BoxWatcher.h"
#include "ui/MainUnit.h"

#include <QTemporaryDir>
#include <memory>

class QLineEdit;
class QWidget;
class QPushButton;
class DBGrid;
class DBNavigator;

namespace testsupport {

class WindowFixture
{
public:
    /// A window reading the profile at profilePath(), which does not exist yet.
    WindowFixture();
    ~WindowFixture();

    const QString& profilePath() const { return m_profilePath; }
    /// Writes the profile: a FBDOCUMENTCONNECTION section with these entries.
    void writeProfile(const QStringList& entries) const;
    /// The usual profile for `database`: Database, User_Name and Password.
    void writeProfileFor(const QString& database, const QString& password = "plumbtide") const;

    /// Gives the window the keyboard again, as after the operator closed a box.
    void activate();

    TMainForm& form() { return *m_form; }
    BoxWatcher& boxes() { return *m_boxes; }

    QPushButton* button(const char* name) const;
    QLineEdit* edit(const char* name) const;
    DBGrid* grid() const;
    DBNavigator* navigator() const;

    /// Clicks a button as the operator would (disabled buttons ignore it).
    void click(const char* buttonName);
    void connect() { click("ConnectionButton"); }
    void list() { click("ShowDataButton"); }
    void logout(const QString& userName);
    /// Types `text` into `target`: keys for ASCII, the input method for the rest.
    static void type(QWidget* target, const QString& text);

    /// The grid's shown text of (row, column).
    QString cell(int row, int column) const;
    /// The grid's rows as "user_name|name|user_log_in".
    QStringList gridRows() const;

private:
    QTemporaryDir m_dir;
    QString m_profilePath;
    std::unique_ptr<TMainForm> m_form;
    std::unique_ptr<BoxWatcher> m_boxes;
};

} // namespace testsupport
