// The row navigator under the grid: five buttons moving through the listed users.
#pragma once

#include <QWidget>
#include <array>

class QToolButton;

enum class NavigatorButton
{
    First,
    Prior,
    Next,
    Last,
    Refresh
};

/// Which navigator buttons may be pressed, one flag per button.
struct NavigatorState
{
    bool first;
    bool prior;
    bool next;
    bool last;
    bool refresh;
};

/// The buttons' state for a list that is open or closed, positioned on `currentRow`
/// (0-based; clamped into the list) out of `rowCount` rows.
NavigatorState navigatorState(bool listOpen, int currentRow, int rowCount);

class DBNavigator : public QWidget
{
    Q_OBJECT

public:
    explicit DBNavigator(QWidget* parent = nullptr);

    void setButtonEnabled(NavigatorButton which, bool enabled);
    /// Whether the button itself is enabled, regardless of the navigator's own state.
    bool isButtonEnabled(NavigatorButton which) const;
    void setState(const NavigatorState& state);

    QToolButton* button(NavigatorButton which) const;

    QSize sizeHint() const override;

signals:
    void clicked(NavigatorButton which);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeButtons();

    std::array<QToolButton*, 5> m_buttons{};
};
