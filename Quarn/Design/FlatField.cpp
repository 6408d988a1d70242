#include "Quarn/Design/FlatField.h"

#include "Quarn/Design/Appearance.h"
#include "QuarnKit/Shell/Design.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

namespace quarn {

namespace D = quarnkit::Design;

FlatField::FlatField(QWidget* parent) : QLineEdit(parent)
{
    setFrame(false);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    setTextMargins(8, 0, 8, 0);
    setFixedHeight(26);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFieldFont(uiFont(13, QFont::Medium));
    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::transparent);
    p.setColor(QPalette::Text, D::paper());
    p.setColor(QPalette::PlaceholderText, withOpacity(D::paper(), 0.4));
    setPalette(p);
}

void FlatField::setFieldFont(const QFont& font) { setFont(font); }

void FlatField::paintEvent(QPaintEvent* event)
{
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
        p.fillPath(path, withOpacity(D::paper(), 0.06));
        p.setPen(QPen(hasFocus() ? D::accent() : D::hairline(), 1));
        p.drawPath(path);
    }
    QLineEdit::paintEvent(event);
}

void FlatField::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    update();
}

void FlatField::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    update();
}

void selectFieldEditorTextSoon()
{
    QTimer::singleShot(0, qApp, [] {
        if (!QApplication::activeWindow()) return;
        if (auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget())) edit->selectAll();
    });
}

} // namespace quarn
