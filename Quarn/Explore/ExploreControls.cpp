#include "Quarn/Explore/ExploreControls.h"

#include "Quarn/Design/Appearance.h"
#include "QuarnKit/Shell/Design.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace quarn {

namespace D = quarnkit::Design;

// ---------------------------------------------------------------- chip

namespace {

QFont chipFont(bool chosen) { return uiFont(11, chosen ? QFont::DemiBold : QFont::Medium); }

} // namespace

ChromeChip::ChromeChip(const QString& title, QWidget* parent) : ChromeButton(parent)
{
    setText(title);
    setAccessibleName(title);
    setKind(Kind::choice);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void ChromeChip::setChosen(bool chosen)
{
    if (chosen == chosen_) return;
    chosen_ = chosen;
    exposeChosen(chosen);
    updateGeometry(); // the chosen weight is wider
    update();
}

QSize ChromeChip::sizeHint() const { return {QFontMetrics(chipFont(chosen_)).horizontalAdvance(text()) + 16, 22}; }

void ChromeChip::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    pressStyle().apply(p, rect());
    const double hover = showsHover() ? hoverAmount() : 0;
    QPainterPath back;
    back.addRoundedRect(QRectF(rect()), 4, 4);
    p.fillPath(back, chosen_ ? withOpacity(D::accent(), 0.16) : withOpacity(D::paper(), 0.04 + 0.04 * hover));
    p.setPen(chosen_ ? D::accent() : withOpacity(D::paper(), 0.66 + (0.9 - 0.66) * hover));
    p.setFont(chipFont(chosen_));
    p.drawText(rect(), Qt::AlignCenter, text());
}

// ---------------------------------------------------------------- flow row

std::vector<FlowRow::Row> FlowRow::rows(const std::vector<QSize>& sizes, int maxWidth, int spacing, int lineSpacing)
{
    std::vector<Row> result;
    Row current;
    for (int i = 0; i < int(sizes.size()); ++i) {
        const QSize size = sizes[size_t(i)];
        if (current.indices.empty()) {
            current.width = size.width();
        } else if (maxWidth >= 0 && current.width + spacing + size.width() > maxWidth) {
            result.push_back(current);
            current = Row{{}, current.y + current.height + lineSpacing, size.width(), 0};
        } else {
            current.width += spacing + size.width();
        }
        current.height = std::max(current.height, size.height());
        current.indices.push_back(i);
    }
    if (!current.indices.empty()) result.push_back(current);
    return result;
}

FlowRow::FlowRow(int spacing, int lineSpacing, QWidget* parent)
    : QLayout(parent), spacing_(spacing), lineSpacing_(lineSpacing)
{
    setContentsMargins(0, 0, 0, 0);
}

FlowRow::~FlowRow()
{
    for (QLayoutItem* item : items_) delete item;
}

void FlowRow::addItem(QLayoutItem* item) { items_.push_back(item); }

QLayoutItem* FlowRow::itemAt(int index) const
{
    return index >= 0 && index < count() ? items_[size_t(index)] : nullptr;
}

QLayoutItem* FlowRow::takeAt(int index)
{
    if (index < 0 || index >= count()) return nullptr;
    QLayoutItem* item = items_[size_t(index)];
    items_.erase(items_.begin() + index);
    return item;
}

std::vector<QSize> FlowRow::sizes() const
{
    std::vector<QSize> result;
    for (QLayoutItem* item : items_) result.push_back(item->isEmpty() ? QSize(0, 0) : item->sizeHint());
    return result;
}

int FlowRow::heightForWidth(int width) const
{
    const QMargins m = contentsMargins();
    const std::vector<Row> lines = rows(sizes(), width - m.left() - m.right(), spacing_, lineSpacing_);
    return m.top() + m.bottom() + (lines.empty() ? 0 : lines.back().y + lines.back().height);
}

QSize FlowRow::sizeHint() const
{
    // Unlimited width: everything on one line.
    const QMargins m = contentsMargins();
    const std::vector<Row> lines = rows(sizes(), -1, spacing_, lineSpacing_);
    if (lines.empty()) return {m.left() + m.right(), m.top() + m.bottom()};
    return {m.left() + m.right() + lines.front().width, m.top() + m.bottom() + lines.front().height};
}

QSize FlowRow::minimumSize() const
{
    // As narrow as the widest item, so that the column decides the width.
    QSize least;
    for (const QSize& size : sizes()) least = least.expandedTo(size);
    const QMargins m = contentsMargins();
    return least + QSize(m.left() + m.right(), m.top() + m.bottom());
}

void FlowRow::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    const QRect inner = rect.marginsRemoved(contentsMargins());
    const std::vector<QSize> itemSizes = sizes();
    for (const Row& line : rows(itemSizes, inner.width(), spacing_, lineSpacing_)) {
        int x = inner.left();
        for (const int index : line.indices) {
            const QSize size = itemSizes[size_t(index)];
            items_[size_t(index)]->setGeometry(QRect(QPoint(x, inner.top() + line.y), size));
            x += size.width() + spacing_;
        }
    }
}

} // namespace quarn
