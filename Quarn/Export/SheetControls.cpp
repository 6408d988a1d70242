#include "Quarn/Export/SheetControls.h"

#include "Quarn/Design/Appearance.h"
#include "QuarnKit/Shell/Design.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace quarn {

using quarnkit::Design::accent;
using quarnkit::Design::paper;

SheetButton::SheetButton(const QString& title, QWidget* parent) : ChromeButton(parent)
{
    setText(title);
    setFont(uiFont(13, QFont::DemiBold));
    setCursor(Qt::ArrowCursor);
}

QSize SheetButton::sizeHint() const { return {fontMetrics().horizontalAdvance(text()) + 28, 26}; }

void SheetButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) p.setOpacity(0.45);
    pressStyle().apply(p, rect());
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 4, 4);
    p.fillPath(shape, withOpacity(paper(), 0.08 + 0.04 * hoverAmount()));
    p.setPen(withOpacity(paper(), 0.9));
    p.drawText(rect(), Qt::AlignCenter, text());
}

ExportProgressBar::ExportProgressBar(QWidget* parent) : QWidget(parent)
{
    setFixedHeight(4);
    setAccessibleName(tr("Export progress"));
    sweep_.setStartValue(0.0);
    sweep_.setEndValue(1.0);
    sweep_.setDuration(900);
    sweep_.setEasingCurve(QEasingCurve::InOutQuad);
    sweep_.setLoopCount(-1);
    connect(&sweep_, &QVariantAnimation::valueChanged, this, [this] { update(); });
    // Back and forth: each lap turns the direction round.
    connect(&sweep_, &QVariantAnimation::currentLoopChanged, this, [this] {
        sweep_.setDirection(sweep_.direction() == QAbstractAnimation::Forward ? QAbstractAnimation::Backward
                                                                              : QAbstractAnimation::Forward);
    });
}

void ExportProgressBar::setFraction(std::optional<double> fraction)
{
    fraction_ = fraction;
    setAccessibleDescription(valueText());
    if (fraction_) sweep_.stop();
    else if (isVisible() && sweep_.state() != QAbstractAnimation::Running) sweep_.start();
    update();
}

QString ExportProgressBar::valueText() const
{
    if (!fraction_) return tr("Working");
    return tr("%1 percent").arg(std::lround(*fraction_ * 100));
}

void ExportProgressBar::showEvent(QShowEvent*)
{
    if (!fraction_) sweep_.start();
}

void ExportProgressBar::hideEvent(QHideEvent*) { sweep_.stop(); }

void ExportProgressBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF track = rect();
    const double r = track.height() / 2;
    QPainterPath clip;
    clip.addRoundedRect(track, r, r);
    p.setClipPath(clip);
    p.fillPath(clip, withOpacity(paper(), 0.1));
    QRectF bar;
    if (fraction_) {
        bar = QRectF(0, 0, std::max(track.width() * std::clamp(*fraction_, 0.0, 1.0), 4.0), track.height());
    } else {
        const double offset = sweep_.currentValue().toDouble() * track.width() * 0.72;
        bar = QRectF(offset, 0, track.width() * 0.28, track.height());
    }
    QPainterPath shape;
    shape.addRoundedRect(bar, r, r);
    p.fillPath(shape, accent());
}

} // namespace quarn
