// The logout window: lists the users of USER_REGISTRY and forces one of them to log out.
#include "ui/MainUnit.h"

#include "boxes/HandlerBoundary.h"
#include "boxes/MessageBox.h"
#include "db/DataSource.h"
#include "db/SimpleDataSet.h"
#include "db/SqlConnection.h"
#include "db/SqlQuery.h"
#include "ui/FormComponents.h"
#include "ui/WaitCursor.h"
#include "ui_MainUnit.h"

#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScopeGuard>
#include <QScreen>
#include <QStyle>

TMainForm* MainForm = nullptr;

namespace {

/// The section of the profile that describes the application's database.
const QString kProfileSection = QStringLiteral("FBDOCUMENTCONNECTION");
/// The list always reads as the database owner, whatever the profile says.
const QString kListUser = QStringLiteral("SYSDBA");
const QString kListPassword = QStringLiteral("plumbtide");
const QString kListStatement = QStringLiteral("select * from USER_REGISTRY");

} // namespace

TMainForm::TMainForm(QString profilePath, QWidget* parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::TMainForm>()),
      m_profilePath(std::move(profilePath))
{
    // Designer stores fonts in points only, and the window is laid out for 11-pixel
    // characters; the CJK family stands in where Tahoma is not installed. Set before the
    // children exist, so that they measure their text in this font only and the default
    // font is never loaded (that load cost a third of the start-up).
    QFont windowFont;
    windowFont.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Noto Sans CJK JP")});
    windowFont.setPixelSize(11);
    setFont(windowFont);
    // A line edit lays out its empty text once in the application's font before it
    // takes the window's, which loads a font this window never shows. While the
    // children are made, the window's font stands in for the application's; only the
    // default that new fonts start from changes, no existing widget is told of it.
    {
        const QFont applicationFont = QGuiApplication::font();
        QGuiApplication::setFont(windowFont);
        const auto restore = qScopeGuard([&] { QGuiApplication::setFont(applicationFont); });
        m_ui->setupUi(this);
    }
    createComponents();

    // Designer has no property for the role that autoFillBackground paints with.
    setBackgroundRole(QPalette::Button);

    // Centred by the client area: the frame is not known before the window manager has
    // decorated the window, and move() would place the frame's corner instead.
    if (const QScreen* desktop = screen()) {
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        desktop->availableGeometry()));
    }
    // The operator starts by looking at the list, not at the buttons above it.
    m_ui->DBGrid1->setFocus();

    connectHandler(m_ui->EndButton, &QPushButton::clicked, this, &TMainForm::EndButtonClick);
    connectHandler(m_ui->ConnectionButton, &QPushButton::clicked, this,
                   &TMainForm::ConnectionButtonClick);
    connectHandler(m_ui->ShowDataButton, &QPushButton::clicked, this,
                   &TMainForm::ShowDataButtonClick);
    connectHandler(m_ui->ResetButton, &QPushButton::clicked, this, &TMainForm::ResetButtonClick);
    // QLineEdit has no click signal, and entering the box by keyboard must not count.
    m_ui->EditUserName->installEventFilter(this);

    runGuarded([this] { FormCreate(this); });
}

TMainForm::~TMainForm() = default;

void TMainForm::createComponents()
{
    const FormComponents stored = loadFormComponents();
    SQLConnection1 =
        new db::SqlConnection(QStringLiteral("SQLConnection1"), stored.profileConnection, this);
    SimpleDataSet1 =
        new db::SimpleDataSet(QStringLiteral("SimpleDataSet1"), stored.listConnection, this);
    SQLQuery1 = new db::SqlQuery(QStringLiteral("SQLQuery1"), SQLConnection1, this);
    DataSource1 = new db::DataSource(QStringLiteral("DataSource1"), SimpleDataSet1, this);
    DataSource1->setAutoEdit(stored.autoEdit);

    m_ui->DBGrid1->setDataSource(DataSource1, stored.gridColumns);
    const db::SimpleDataSet* list = SimpleDataSet1;
    for (auto signal : {&db::SimpleDataSet::reset, &db::SimpleDataSet::stateChanged})
        connect(list, signal, this, &TMainForm::updateNavigator);
    connect(list, &db::SimpleDataSet::currentRowChanged, this, &TMainForm::updateNavigator);
    connect(list, &db::SimpleDataSet::rowInserted, this, &TMainForm::updateNavigator);
    connect(list, &db::SimpleDataSet::rowRemoved, this, &TMainForm::updateNavigator);
    connect(m_ui->DBNavigator1, &DBNavigator::clicked, this,
            [this](NavigatorButton button) { runGuarded([&] { navigate(button); }); });
    updateNavigator();
}

void TMainForm::updateNavigator()
{
    m_ui->DBNavigator1->setState(navigatorState(SimpleDataSet1->active(),
                                                int(SimpleDataSet1->currentRow()),
                                                int(SimpleDataSet1->recordCount())));
}

void TMainForm::navigate(NavigatorButton button)
{
    db::SimpleDataSet* list = DataSource1->dataSet();
    switch (button) {
    case NavigatorButton::First:
        list->first();
        break;
    case NavigatorButton::Prior:
        list->prior();
        break;
    case NavigatorButton::Next:
        list->next();
        break;
    case NavigatorButton::Last:
        list->last();
        break;
    case NavigatorButton::Refresh:
        refreshList();
        break;
    }
}

void TMainForm::refreshList()
{
    // A cell still being typed into belongs to the row the refresh has to settle first.
    m_ui->DBGrid1->commitOpenEditor();
    const WaitCursor wait;
    DataSource1->dataSet()->refresh();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_ui->EditUserName && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            m_ui->EditUserName->rect().contains(mouse->position().toPoint())) {
            runGuarded([this, watched] { EditUserNameClick(watched); });
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TMainForm::FormCreate(QObject* /*sender*/)
{
    // Nothing can be listed or reset before a connection exists.
    m_ui->ShowDataButton->setEnabled(false);
    m_ui->ResetButton->setEnabled(false);
}

void TMainForm::EndButtonClick(QObject* /*sender*/)
{
    SQLConnection1->close();
    // Queued, so the click finishes and the event loop ends after the current message.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void TMainForm::ConnectionButtonClick(QObject* /*sender*/)
{
    // Every connect starts from the file as it is now, so edits to it take effect.
    {
        // Ending the old attachment waits for the server too.
        const WaitCursor wait;
        SQLConnection1->close();
    }
    SQLConnection1->params().clear();
    SQLConnection1->setLoginPrompt(false);
    SQLConnection1->loadParamsFromIniFile(m_profilePath);
    // Text of character set NONE has no encoding of its own: the list shows it in the
    // one the profile names for its connection, in which the user names are sent too.
    SimpleDataSet1->setNoneTextCharSet(
        SQLConnection1->params().value(QStringLiteral("ServerCharSet")));
    SQLConnection1->setConnectionName(kProfileSection);
    SQLConnection1->setLoadParamsOnConnect(false);
    {
        const WaitCursor wait;
        SQLConnection1->open();
    }
    if (SQLConnection1->connected()) {
        // The box comes first: the window behind it still shows the state before.
        showMessage(QStringLiteral("データベースに接続しました"));
        m_ui->DatabaseNameEdit->setText(SQLConnection1->params().value(QStringLiteral("Database")));
        m_ui->ShowDataButton->setEnabled(true);
        m_ui->ResetButton->setEnabled(true);
    }
    if (!SQLConnection1->connected())
        showMessage(QStringLiteral("データベースに接続できませんでした"));
}

void TMainForm::ShowDataButtonClick(QObject* /*sender*/)
{
    const QString database = m_ui->DatabaseNameEdit->text();
    db::SqlConnection& listConnection = SimpleDataSet1->connection();
    listConnection.params().setValue(QStringLiteral("Database"), database);
    listConnection.params().setValue(QStringLiteral("drivername"), QStringLiteral("Firebird"));
    listConnection.params().setValue(QStringLiteral("User_Name"), kListUser);
    listConnection.params().setValue(QStringLiteral("Password"), kListPassword);
    // The list's own parameters never come from the profile, but the time the operator
    // is willing to wait for a silent server does.
    listConnection.setTimeouts(db::ConnectionTimeouts::fromParams(SQLConnection1->params()));

    const WaitCursor wait;
    // Once open, the list connection stays on its first database; the values just set
    // wait for the next opening, which comes only if its attachment is found lost
    // (server restarted or stopped, database shut down).
    listConnection.open();
    SimpleDataSet1->close();
    SimpleDataSet1->setCommandText(kListStatement);
    SimpleDataSet1->open();
}

void TMainForm::EditUserNameClick(QObject* /*sender*/)
{
    m_ui->EditUserName->setText(QString());
}

void TMainForm::setUserStatement(const QString& firstLine)
{
    const QString parameter = QStringLiteral("user_name");
    SQLQuery1->clearSql();
    SQLQuery1->addSqlLine(firstLine);
    SQLQuery1->addSqlLine(QStringLiteral("where user_name=:user_name"));
    SQLQuery1->params().clear();
    SQLQuery1->params().createParam(db::FieldType::String, parameter, db::ParamDirection::Input);
    // Taken as typed: the database decides what matches, blanks and letter case included.
    SQLQuery1->paramByName(parameter).setAsString(m_ui->EditUserName->text());
}

void TMainForm::ResetButtonClick(QObject* /*sender*/)
{
    setUserStatement(QStringLiteral("select user_name from user_registry "));
    {
        const WaitCursor wait;
        SQLQuery1->open();
    }
    if (SQLQuery1->isEmpty()) {
        showMessage(QStringLiteral("ユーザー名が違います"));
        return;
    }

    setUserStatement(QStringLiteral("update user_registry set user_log_in=0 "));
    {
        const WaitCursor wait;
        SQLQuery1->execSql();
    }
    refreshList();
}
