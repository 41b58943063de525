// The row navigator under the grid: five buttons moving through the listed users.
#include "ui/DBNavigator.h"

#include <QStyle>
#include <QToolButton>
#include <algorithm>

namespace {

struct ButtonLook
{
    NavigatorButton which;
    QStyle::StandardPixmap icon;
    const char16_t* caption;
};

constexpr std::array<ButtonLook, 5> kButtons{{
    {NavigatorButton::First, QStyle::SP_MediaSkipBackward, u"最初の行"},
    {NavigatorButton::Prior, QStyle::SP_MediaSeekBackward, u"前の行"},
    {NavigatorButton::Next, QStyle::SP_MediaSeekForward, u"次の行"},
    {NavigatorButton::Last, QStyle::SP_MediaSkipForward, u"最後の行"},
    {NavigatorButton::Refresh, QStyle::SP_BrowserReload, u"再表示"},
}};

std::size_t indexOf(NavigatorButton which)
{
    return static_cast<std::size_t>(which);
}

} // namespace

NavigatorState navigatorState(bool listOpen, int currentRow, int rowCount)
{
    if (!listOpen) {
        return {false, false, false, false, false};
    }
    if (rowCount <= 0) {
        return {false, false, false, false, true};
    }
    const int row = std::clamp(currentRow, 0, rowCount - 1);
    const bool canGoBack = row > 0;
    const bool canGoOn = row < rowCount - 1;
    return {canGoBack, canGoBack, canGoOn, canGoOn, true};
}

DBNavigator::DBNavigator(QWidget* parent) : QWidget(parent)
{
    // The navigator acts on the grid's current row; taking focus would pull it off the grid.
    setFocusPolicy(Qt::NoFocus);
    for (const ButtonLook& look : kButtons) {
        auto* button = new QToolButton(this);
        const QString caption = QString::fromUtf16(look.caption);
        button->setIcon(style()->standardIcon(look.icon, nullptr, this));
        button->setToolTip(caption);
        button->setAccessibleName(caption);
        button->setFocusPolicy(Qt::NoFocus);
        button->setEnabled(false);
        const NavigatorButton which = look.which;
        connect(button, &QToolButton::clicked, this, [this, which] { emit clicked(which); });
        m_buttons[indexOf(which)] = button;
    }
    resize(sizeHint());
    placeButtons();
}

void DBNavigator::setButtonEnabled(NavigatorButton which, bool enabled)
{
    button(which)->setEnabled(enabled);
}

bool DBNavigator::isButtonEnabled(NavigatorButton which) const
{
    return button(which)->isEnabledTo(this);
}

void DBNavigator::setState(const NavigatorState& state)
{
    setButtonEnabled(NavigatorButton::First, state.first);
    setButtonEnabled(NavigatorButton::Prior, state.prior);
    setButtonEnabled(NavigatorButton::Next, state.next);
    setButtonEnabled(NavigatorButton::Last, state.last);
    setButtonEnabled(NavigatorButton::Refresh, state.refresh);
}

QToolButton* DBNavigator::button(NavigatorButton which) const
{
    return m_buttons[indexOf(which)];
}

QSize DBNavigator::sizeHint() const
{
    return {225, 25};
}

void DBNavigator::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeButtons();
}

void DBNavigator::placeButtons()
{
    // Equal shares of the width; the last button takes what division leaves over.
    const int count = static_cast<int>(m_buttons.size());
    const int share = width() / count;
    for (int i = 0; i < count; ++i) {
        const int w = i == count - 1 ? width() - share * i : share;
        m_buttons[static_cast<std::size_t>(i)]->setGeometry(share * i, 0, w, height());
    }
}
