#include "Quarn/Markup/ToolPalette.h"
#include "Quarn/Markup/MarkupModel.h"

#include "Quarn/Design/AccessiblePopover.h"
#include "Quarn/Design/AccessibleRoles.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Design/TabStop.h"
#include "Quarn/Markup/InspectorPanel.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Shell/Design.h"

#include <QEnterEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

static void initToolPaletteSymbols() { Q_INIT_RESOURCE(ToolPaletteSymbols); }

namespace quarn {

namespace D = quarnkit::Design;
using quarnkit::MarkupTool;
using quarnkit::ToolGroup;

namespace {

void fillRounded(QPainter& p, const QRectF& rect, double radius, const QColor& color)
{
    if (color.alpha() == 0) return;
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    p.fillPath(path, color);
}

QString helpText(MarkupTool tool) { return QStringLiteral("%1 (%2)").arg(quarnkit::title(tool), toolKey(tool)); }

// One member row of a group's menu.
class ToolMenuRow : public QAbstractButton {
public:
    ToolMenuRow(MarkupTool tool, bool current, ToolGroupMenu* menu) : QAbstractButton(menu), tool_(tool), menu_(menu)
    {
        // Tab and the arrows go from row to row; Return or Space picks the tool.
        makeTabStop(this);
        setFixedHeight(28);
        setText(quarnkit::title(tool));
        // One choice among the group's tools: a reader hears which is chosen.
        setCheckable(true);
        setChecked(current);
        exposeAsChoice(this);
        setAttribute(Qt::WA_Hover);
    }

protected:
    void nextCheckState() override {} // the tool chosen sets the state
    void focusInEvent(QFocusEvent* event) override
    {
        QAbstractButton::focusInEvent(event);
        update();
    }
    void focusOutEvent(QFocusEvent* event) override
    {
        QAbstractButton::focusOutEvent(event);
        update();
    }
    void enterEvent(QEnterEvent* event) override
    {
        QAbstractButton::enterEvent(event);
        menu_->rowEntered(tool_);
    }
    void leaveEvent(QEvent* event) override
    {
        QAbstractButton::leaveEvent(event);
        menu_->rowLeft(tool_);
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        // Lit under the pointer, and where the keyboard is.
        if (menu_->hovered() == tool_ || (hasFocus() && returnPresses(this)))
            fillRounded(p, rect(), 4, withOpacity(D::paper(), 0.08));
        const QColor fg = isChecked() ? D::accent() : D::paper();
        const QRectF inner = QRectF(rect()).adjusted(10, 0, -10, 0);
        drawSymbol(p, quarnkit::symbol(tool_), QRectF(inner.left() + 2.5, inner.center().y() - 6.5, 13, 13), fg);
        QFont title = font();
        title.setPixelSize(13);
        title.setWeight(isChecked() ? QFont::DemiBold : QFont::Normal);
        p.setFont(title);
        p.setPen(fg);
        p.drawText(inner.adjusted(18 + 8, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, quarnkit::title(tool_));
        QFont key = font();
        key.setPixelSize(11);
        key.setWeight(QFont::Medium);
        key.setStyleHint(QFont::Monospace);
        key.setFamily(QStringLiteral("monospace"));
        p.setFont(key);
        p.setPen(withOpacity(D::paper(), 0.5));
        p.drawText(inner, Qt::AlignVCenter | Qt::AlignRight, toolKey(tool_));
    }

private:
    MarkupTool tool_;
    ToolGroupMenu* menu_;
};

} // namespace

// ---------------------------------------------------------------- group parts

ToolGroupPart::ToolGroupPart(QSize size, QWidget* parent) : QAbstractButton(parent), size_(size)
{
    initToolPaletteSymbols();
    makeTabStop(this);
    setFixedSize(size);
}

void ToolGroupPart::setLook(const QString& symbol, double symbolSize, const QColor& color)
{
    if (symbol == symbol_ && symbolSize == symbolSize_ && color == color_) return;
    symbol_ = symbol;
    symbolSize_ = symbolSize;
    color_ = color;
    update();
}

void ToolGroupPart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (isDown()) p.setOpacity(0.7);
    const QPointF c = QRectF(rect()).center();
    drawSymbol(p, symbol_, QRectF(c - QPointF(symbolSize_ / 2, symbolSize_ / 2), QSizeF(symbolSize_, symbolSize_)),
               color_);
}

// ---------------------------------------------------------------- group button

ToolGroupButton::ToolGroupButton(ToolGroup group, ViewerModel* model, QWidget* parent)
    : QWidget(parent), group_(group), model_(model), tool_(new ToolGroupPart({30, 28}, this)),
      menuButton_(new ToolGroupPart({13, 28}, this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(tool_);
    row->addWidget(menuButton_);
    menuButton_->setToolTip(tr("%1 tools").arg(quarnkit::title(group)));
    menuButton_->setAccessibleName(menuButton_->toolTip()); // a stop of Tab: a screen reader names it
    connect(tool_, &QAbstractButton::clicked, this, [this] {
        if (model_) MarkupModel::of(*model_).chooseTool(shownTool());
    });
    connect(menuButton_, &QAbstractButton::clicked, this, &ToolGroupButton::toggleMenu);
    refresh();
}

MarkupTool ToolGroupButton::shownTool() const
{
    if (!model_) return quarnkit::members(group_).front();
    if (isActive()) return MarkupModel::of(*model_).tool();
    return MarkupModel::of(*model_).toolMemory().choice(group_);
}

bool ToolGroupButton::isActive() const { return model_ && quarnkit::group(MarkupModel::of(*model_).tool()) == group_; }

QColor ToolGroupButton::background() const
{
    if (isActive()) return withOpacity(D::accent(), 0.16);
    if (hover_) return withOpacity(D::paper(), 0.06);
    return Qt::transparent;
}

void ToolGroupButton::refresh()
{
    const bool active = isActive();
    const MarkupTool shown = shownTool();
    tool_->setLook(quarnkit::symbol(shown), 14, active ? D::accent() : withOpacity(D::paper(), 0.78));
    tool_->setToolTip(helpText(shown));
    setReaderName(tool_, helpText(shown));
    tool_->setCheckable(true); // screen readers hear the group's tool as checked while chosen
    tool_->setChecked(active);
    menuButton_->setLook(QStringLiteral("chevron.down"), 8,
                         active ? withOpacity(D::accent(), 0.9) : withOpacity(D::paper(), 0.55));
    update();
}

void ToolGroupButton::toggleMenu()
{
    if (menu_) {
        menu_->close();
        return;
    }
    if (!model_) return;
    const QPointer<ToolGroupButton> self(this);
    auto* menu = new ToolGroupMenu(
        group_, MarkupModel::of(*model_).tool(),
        [self](MarkupTool tool) {
            if (!self) return;
            // The menu closes before the tool changes.
            if (self->menu_) self->menu_->close();
            if (self->model_) MarkupModel::of(*self->model_).chooseTool(tool);
        },
        this);
    menu_ = menu;
    menu->adjustSize();
    const QPoint below = menuButton_->mapToGlobal(QPoint(menuButton_->width() / 2, menuButton_->height() + 4));
    menu->move(below.x() - menu->width() / 2, below.y());
    menu->show();
    // The keys go to the current row (else the first), so that Tab and the
    // arrows move through the rows; opened from the keyboard, Return picks it.
    menu->takeKeys(returnPresses(menuButton_));
}

void ToolGroupButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    fillRounded(p, rect(), 4, background());
}

void ToolGroupButton::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    hover_ = true;
    update();
}

void ToolGroupButton::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    hover_ = false;
    update();
}

// ---------------------------------------------------------------- member menu

ToolGroupMenu::ToolGroupMenu(ToolGroup group, MarkupTool current, std::function<void(MarkupTool)> pick, QWidget* parent)
    : QWidget(parent, Qt::Popup), group_(group), current_(current), pick_(std::move(pick))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAccessibleName(tr("%1 tools").arg(quarnkit::title(group)));
    exposeAsPopover(this);
    fillWithChrome(this);
    setFixedWidth(196);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(6, 6, 6, 6);
    column->setSpacing(2);
    for (const MarkupTool tool : quarnkit::members(group)) {
        auto* row = new ToolMenuRow(tool, tool == current, this);
        connect(row, &QAbstractButton::clicked, this, [this, tool] {
            const auto pick = pick_; // the menu may be gone once the pick has closed it
            if (pick) pick(tool);
        });
        column->addWidget(row);
        rows_[tool] = row;
    }
}

QAbstractButton* ToolGroupMenu::row(MarkupTool tool) const
{
    const auto it = rows_.find(tool);
    return it == rows_.end() ? nullptr : it->second;
}

void ToolGroupMenu::takeKeys(bool fromKeyboard)
{
    QAbstractButton* first = row(current_);
    if (!first) first = rows_.at(quarnkit::members(group_).front());
    first->setFocus(fromKeyboard ? Qt::TabFocusReason : Qt::OtherFocusReason);
}

void ToolGroupMenu::rowEntered(MarkupTool tool)
{
    hovered_ = tool;
    for (auto& [t, row] : rows_) row->update();
}

void ToolGroupMenu::rowLeft(MarkupTool tool)
{
    // A leave that arrives after the next row's enter must not clear that row.
    if (hovered_ != tool) return;
    hovered_.reset();
    for (auto& [t, row] : rows_) row->update();
}

// ---------------------------------------------------------------- palette

ToolPalette::ToolPalette(ViewerModel* model, QWidget* parent) : QWidget(parent), model_(model)
{
    initToolPaletteSymbols();
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    for (const quarnkit::ToolSlot& slot : quarnkit::toolBar()) {
        if (const auto* tool = std::get_if<MarkupTool>(&slot)) {
            const MarkupTool t = *tool;
            auto* button = new ChromeToolButton(quarnkit::symbol(t), helpText(t), this);
            button->setKind(ChromeButton::Kind::toggle); // checked while it is the tool
            connect(button, &QAbstractButton::clicked, this, [this, t] {
                if (model_) MarkupModel::of(*model_).chooseTool(t);
            });
            tools_[t] = button;
            row->addWidget(button);
        } else {
            const ToolGroup g = std::get<ToolGroup>(slot);
            auto* button = new ToolGroupButton(g, model, this);
            groups_[g] = button;
            row->addWidget(button);
        }
    }
    if (model) connect(&MarkupModel::of(*model), &MarkupModel::changed, this, &ToolPalette::refresh);
    refresh();
}

ChromeToolButton* ToolPalette::toolButton(MarkupTool tool) const
{
    const auto it = tools_.find(tool);
    return it == tools_.end() ? nullptr : it->second;
}

ToolGroupButton* ToolPalette::groupButton(ToolGroup group) const
{
    const auto it = groups_.find(group);
    return it == groups_.end() ? nullptr : it->second;
}

void ToolPalette::refresh()
{
    for (auto& [tool, button] : tools_) button->setChosen(model_ && MarkupModel::of(*model_).tool() == tool);
    for (auto& [group, button] : groups_) button->refresh();
}

} // namespace quarn
