// The logout window: lists the users of USER_REGISTRY and forces one of them to log out.
#pragma once

#include <QString>
#include <QWidget>
#include <memory>

namespace Ui {
class TMainForm;
}
namespace db {
class DataSource;
class SimpleDataSet;
class SqlConnection;
class SqlQuery;
} // namespace db
enum class NavigatorButton;

class TMainForm : public QWidget
{
    Q_OBJECT

public:
    /// `profilePath` names the connection profile the window connects with.
    explicit TMainForm(QString profilePath, QWidget* parent = nullptr);
    ~TMainForm() override;

    // Window handlers. Each receives the control that triggered it and runs behind the
    // error boundary, so whatever it throws ends in an error box.
    void FormCreate(QObject* sender);
    void EndButtonClick(QObject* sender);
    void ConnectionButtonClick(QObject* sender);
    void ShowDataButtonClick(QObject* sender);
    void EditUserNameClick(QObject* sender);
    void ResetButtonClick(QObject* sender);

    // The window's database components, built from its stored definition and owned by it.
    db::SqlConnection* SQLConnection1 = nullptr; ///< the profile connection
    db::SimpleDataSet* SimpleDataSet1 = nullptr; ///< the list, with its own connection
    db::SqlQuery* SQLQuery1 = nullptr;           ///< lookup and logout, on SQLConnection1
    db::DataSource* DataSource1 = nullptr;       ///< feeds the grid and the navigator

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createComponents();
    void refreshList();
    /// Puts one of the two statements on a user name into SQLQuery1, with the name box's
    /// current text bound to its one parameter.
    void setUserStatement(const QString& firstLine);
    void navigate(NavigatorButton button);
    void updateNavigator();

    std::unique_ptr<Ui::TMainForm> m_ui;
    QString m_profilePath;
};

/// The program's one logout window, set by main() for as long as the window exists.
extern TMainForm* MainForm;
