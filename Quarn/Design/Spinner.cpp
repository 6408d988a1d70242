#include "Quarn/Design/Spinner.h"

#include "Quarn/Design/Appearance.h"
#include "QuarnKit/Shell/Design.h"

#include <QPainter>

namespace quarn {

namespace D = quarnkit::Design;

Spinner::Spinner(int side, const QString& label, QWidget* parent) : QWidget(parent)
{
    setFixedSize(side, side);
    setAccessibleName(label);
    timer_.setInterval(80);
    connect(&timer_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + 30) % 360;
        update();
    });
}

void Spinner::showEvent(QShowEvent*) { timer_.start(); }

void Spinner::hideEvent(QHideEvent*) { timer_.stop(); }

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double pen = std::max(1.6, width() / 8.0);
    const QRectF r = QRectF(rect()).adjusted(pen, pen, -pen, -pen);
    p.setPen(QPen(withOpacity(D::paper(), 0.15), pen));
    p.drawEllipse(r);
    p.setPen(QPen(withOpacity(D::paper(), 0.7), pen, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(r, -angle_ * 16, 100 * 16);
}

} // namespace quarn
