// The row navigator under the grid: five buttons moving through the listed users.
#include "ui/DBNavigator.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QToolButton>
#include <algorithm>
#include <cmath>

namespace {

struct ButtonLook
{
    NavigatorButton which;
    const char16_t* caption;
};

constexpr std::array<ButtonLook, 5> kButtons{{
    {NavigatorButton::First, u"最初の行"},
    {NavigatorButton::Prior, u"前の行"},
    {NavigatorButton::Next, u"次の行"},
    {NavigatorButton::Last, u"最後の行"},
    {NavigatorButton::Refresh, u"再表示"},
}};

/// A button's symbol drawn as a path at whatever size and scale the button asks for:
/// crisp on any screen, and nothing to read or decode while the window is being built
/// (Qt's own media icons are PNG files, two per icon, decoded at start-up).
class SymbolEngine : public QIconEngine
{
public:
    explicit SymbolEngine(NavigatorButton which) : m_which(which) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        const QPalette palette = QGuiApplication::palette();
        const QColor ink = palette.color(
            mode == QIcon::Disabled ? QPalette::Disabled : QPalette::Active, QPalette::ButtonText);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        // Drawn on a 16 × 16 grid, the size the buttons normally ask for.
        const qreal side = std::min(rect.width(), rect.height());
        painter->translate(rect.x() + (rect.width() - side) / 2.0,
                           rect.y() + (rect.height() - side) / 2.0);
        painter->scale(side / 16.0, side / 16.0);
        if (m_which == NavigatorButton::Refresh)
            paintRefresh(painter, ink);
        else
            painter->fillPath(arrow(m_which), ink);
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }

    QIconEngine* clone() const override { return new SymbolEngine(m_which); }

private:
    static QPainterPath arrow(NavigatorButton which)
    {
        QPainterPath path;
        const auto triangle = [&path](qreal base, qreal tip) {
            path.moveTo(base, 3);
            path.lineTo(base, 13);
            path.lineTo(tip, 8);
            path.closeSubpath();
        };
        switch (which) {
        case NavigatorButton::First:
            path.addRect(3, 3, 2, 10);
            triangle(13, 6);
            break;
        case NavigatorButton::Prior:
            triangle(11, 4);
            break;
        case NavigatorButton::Next:
            triangle(5, 12);
            break;
        case NavigatorButton::Last:
            triangle(3, 10);
            path.addRect(11, 3, 2, 10);
            break;
        case NavigatorButton::Refresh:
            break;
        }
        return path;
    }

    /// Three quarters of a circle running clockwise into an arrowhead at its upper right.
    static void paintRefresh(QPainter* painter, const QColor& ink)
    {
        const QRectF circle(3, 3, 10, 10);
        QPainterPath arc;
        arc.arcMoveTo(circle, -45);
        arc.arcTo(circle, -45, -270);
        painter->strokePath(arc, QPen(ink, 1.6, Qt::SolidLine, Qt::FlatCap));

        const qreal r = std::sqrt(0.5);
        const QPointF end = arc.currentPosition();
        const QPointF along(r, r); // the clockwise direction at the arc's end
        const QPointF across(-r, r);
        QPainterPath head;
        head.moveTo(end + along * 2.5);
        head.lineTo(end - along * 1.0 + across * 2.6);
        head.lineTo(end - along * 1.0 - across * 2.6);
        head.closeSubpath();
        painter->fillPath(head, ink);
    }

    NavigatorButton m_which;
};

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
        // The icon owns its engine.
        button->setIcon(QIcon(new SymbolEngine(look.which)));
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
