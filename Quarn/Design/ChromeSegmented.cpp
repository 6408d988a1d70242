#include "Quarn/Design/ChromeSegmented.h"

#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/ChoiceGroup.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Design/TabStop.h"
#include "QuarnKit/Shell/Design.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

#include <cmath>

namespace quarn {

namespace D = quarnkit::Design;

namespace {

// One segment: a chrome button whose chosen fill eases in over 0.15 s.
class Segment : public ChromeButton {
public:
    Segment(ChromeSegmented::Option option, bool chosen, QWidget* parent)
        : ChromeButton(parent), option_(std::move(option)), chosen_(chosen), chosenAmount_(chosen ? 1 : 0)
    {
        setAccessibleName(option_.title);
        setKind(Kind::choice);
        exposeChosen(chosen);
        setFixedHeight(26);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        animation_.setDuration(150);
        animation_.setEasingCurve(QEasingCurve::OutCubic);
        connect(&animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
            chosenAmount_ = v.toDouble();
            update();
        });
    }

    void setChosen(bool chosen)
    {
        exposeChosen(chosen);
        if (chosen == chosen_) return;
        chosen_ = chosen;
        animation_.stop();
        animation_.setStartValue(chosenAmount_);
        animation_.setEndValue(chosen ? 1.0 : 0.0);
        animation_.start();
    }

    QFont titleFont() const
    {
        if (option_.font) return *option_.font;
        return uiFont(12, chosen_ ? QFont::DemiBold : QFont::Medium);
    }

    QSize sizeHint() const override
    {
        // Measured in both weights and rounded up, so that choosing a segment
        // (which sets its title bolder) never makes its own title too wide.
        const auto measure = [this](QFont::Weight weight) {
            const QFont font = option_.font ? *option_.font : uiFont(12, weight);
            return int(std::ceil(QFontMetricsF(font).horizontalAdvance(option_.title))) + 1;
        };
        int width = std::max(measure(QFont::Medium), measure(QFont::DemiBold));
        if (!option_.symbol.isEmpty()) width += 11 + 6;
        return {width + 20, 26};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        pressStyle().apply(p, rect());
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 4, 4);
        // Hover shows only on an unchosen segment; the accent fill covers it.
        if (!chosen_ && isHovered()) p.fillPath(path, withOpacity(D::paper(), 0.06));
        if (chosenAmount_ > 0) p.fillPath(path, withOpacity(D::accent(), chosenAmount_));

        const QColor fg = withOpacity(D::paper(), chosen_ ? 1.0 : 0.72);
        const QFont font = titleFont();
        const QFontMetrics metrics(font);
        const int symbolWidth = option_.symbol.isEmpty() ? 0 : 11 + 6;
        const QString title =
            metrics.elidedText(option_.title, Qt::ElideRight, std::max(0, width() - 20 - symbolWidth));
        const int contentWidth = symbolWidth + metrics.horizontalAdvance(title);
        int x = (width() - contentWidth) / 2;
        if (!option_.symbol.isEmpty()) {
            drawSymbol(p, option_.symbol, QRectF(x, (height() - 11) / 2.0, 11, 11), fg);
            x += symbolWidth;
        }
        p.setPen(fg);
        p.setFont(font);
        p.drawText(QRect(x, 0, width() - x, height()), Qt::AlignVCenter | Qt::AlignLeft, title);
    }

private:
    ChromeSegmented::Option option_;
    bool chosen_;
    double chosenAmount_;
    QVariantAnimation animation_;
};

} // namespace

ChromeSegmented::ChromeSegmented(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

ChromeSegmented::ChromeSegmented(const QStringList& titles, int selection, QWidget* parent) : ChromeSegmented(parent)
{
    selection_ = selection;
    std::vector<Option> options;
    for (const QString& title : titles) options.push_back({title, {}, std::nullopt});
    setOptions(std::move(options));
}

void ChromeSegmented::setOptions(std::vector<Option> options)
{
    options_ = std::move(options);
    rebuild();
}

void ChromeSegmented::rebuild()
{
    delete group_;
    QLayout* layout = this->layout();
    while (QLayoutItem* item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const auto choose = [this](int i) {
        setSelection(i);
        emit selected(i);
    };
    std::vector<QAbstractButton*> segments;
    for (int i = 0; i < count(); ++i) {
        auto* segment = new Segment(options_[size_t(i)], i == selection_, this);
        connect(segment, &QAbstractButton::clicked, this, [choose, i] { choose(i); });
        layout->addWidget(segment);
        segments.push_back(segment);
    }
    // Segments made after the window was built join the end of its Tab
    // order: they are put back where the control stands.
    std::vector<QWidget*> order{this};
    order.insert(order.end(), segments.begin(), segments.end());
    orderTabStops(order);
    // One choice among several, as the format cards: Tab stops on the
    // chosen segment, the arrows choose.
    group_ = new ChoiceGroup(std::move(segments), choose, this);
    updateGeometry();
}

void ChromeSegmented::setSelection(int index)
{
    selection_ = index;
    const QLayout* layout = this->layout();
    for (int i = 0; i < layout->count(); ++i)
        if (auto* segment = dynamic_cast<Segment*>(layout->itemAt(i)->widget())) segment->setChosen(i == index);
}

void ChromeSegmented::paintEvent(QPaintEvent*)
{
    // The track behind the segments: a faint fill, a hairline drawn inside the edge.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
    p.fillPath(path, withOpacity(D::paper(), 0.05));
    p.setPen(QPen(D::hairline(), 1));
    p.drawPath(path);
}

QSize ChromeSegmented::sizeHint() const { return QWidget::sizeHint().expandedTo(QSize(0, 30)); }

} // namespace quarn
