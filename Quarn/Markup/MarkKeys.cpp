#include "Quarn/Markup/MarkKeys.h"

#include "Quarn/Viewer/QuarnPDFView.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace quarn {

namespace {

bool isTextInput(const QWidget* widget)
{
    return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QTextEdit*>(widget) ||
           qobject_cast<const QPlainTextEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget);
}

} // namespace

MarkKeys::MarkKeys(QuarnPDFView* view, QObject* parent) : QObject(parent), view_(view)
{
    qApp->installEventFilter(this);
}

MarkKeys::~MarkKeys() { qApp->removeEventFilter(this); }

bool MarkKeys::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress) return false;
    // A key press travels up the parent chain; only its first receiver counts.
    auto* key = static_cast<QKeyEvent*>(event);
    if (key == lastEvent_) return false;
    lastEvent_ = key;
    return take(key, watched);
}

bool MarkKeys::take(QKeyEvent* event, QObject* receiver)
{
    QuarnPDFView* view = view_;
    if (!view || !view->isVisible() || QApplication::activeModalWidget()) return false;
    auto* target = qobject_cast<QWidget*>(receiver);
    QWidget* window = view->window();
    if (!target || target->window() != window || !window->isActiveWindow()) return false;
    QWidget* focus = QApplication::focusWidget();
    if (focus && (isTextInput(focus) || focus == view || view->isAncestorOf(focus))) return false;
    if (view->hasEditor()) return false; // words are being typed into a mark
    return view->handleKey(event);
}

} // namespace quarn
