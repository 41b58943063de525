// The real logout window with a private profile file, and ways to operate it.
#include "WindowFixture.h"

#include "TestDatabase.h"
#include "ui/DBGrid.h"
#include "ui/DBNavigator.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace testsupport {

WindowFixture::WindowFixture()
    : m_profilePath(m_dir.filePath(QStringLiteral("Connection.ini"))),
      m_form(std::make_unique<TMainForm>(m_profilePath))
{
    MainForm = m_form.get();
    m_form->show();
    activate();
    m_boxes = std::make_unique<BoxWatcher>([this] {
        return QStringLiteral("path=%1;list=%2;reset=%3")
            .arg(edit("DatabaseNameEdit")->text())
            .arg(button("ShowDataButton")->isEnabled())
            .arg(button("ResetButton")->isEnabled());
    });
}

void WindowFixture::activate()
{
    m_form->activateWindow();
    if (!QTest::qWaitForWindowActive(m_form.get()))
        qWarning("the window did not become active");
}

WindowFixture::~WindowFixture()
{
    m_boxes.reset();
    m_form.reset();
    MainForm = nullptr;
}

void WindowFixture::writeProfile(const QStringList& entries) const
{
    testsupport::writeProfile(m_profilePath, entries);
}

void WindowFixture::writeProfileFor(const QString& database, const QString& password) const
{
    writeProfile({QStringLiteral("Database=") + database, QStringLiteral("User_Name=SYSDBA"),
                  QStringLiteral("Password=") + password});
}

QPushButton* WindowFixture::button(const char* name) const
{
    return m_form->findChild<QPushButton*>(QString::fromLatin1(name));
}

QLineEdit* WindowFixture::edit(const char* name) const
{
    return m_form->findChild<QLineEdit*>(QString::fromLatin1(name));
}

DBGrid* WindowFixture::grid() const
{
    return m_form->findChild<DBGrid*>(QStringLiteral("DBGrid1"));
}

DBNavigator* WindowFixture::navigator() const
{
    return m_form->findChild<DBNavigator*>(QStringLiteral("DBNavigator1"));
}

void WindowFixture::click(const char* buttonName)
{
    QTest::mouseClick(button(buttonName), Qt::LeftButton);
}

void WindowFixture::logout(const QString& userName)
{
    QLineEdit* box = edit("EditUserName");
    QTest::mouseClick(box, Qt::LeftButton); // empties the box
    type(box, userName);
    click("ResetButton");
}

void WindowFixture::type(QWidget* target, const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) {
            // Japanese arrives through the input method, not as key presses.
            QInputMethodEvent composed;
            composed.setCommitString(text);
            QApplication::sendEvent(target, &composed);
            return;
        }
    }
    QTest::keyClicks(target, text);
}

QString WindowFixture::cell(int row, int column) const
{
    const QAbstractItemModel* model = grid()->model();
    return model->data(model->index(row, column)).toString();
}

QStringList WindowFixture::gridRows() const
{
    QStringList rows;
    for (int row = 0; row < grid()->model()->rowCount(); ++row)
        rows << cell(row, 0) + u'|' + cell(row, 1) + u'|' + cell(row, 2);
    return rows;
}

} // namespace testsupport
