#include "Quarn/Markup/MarkKeys.h"

#include "Quarn/Markup/MarkEditor.h"

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
    return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QTextEdit*>(widget)
           || qobject_cast<const QPlainTextEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget);
}

} // namespace

MarkKeys::MarkKeys(QuarnPDFView* view, QObject* parent) : QObject(parent), view_(view)
{
    qApp->installEventFilter(this);
}

MarkKeys::~MarkKeys() { qApp->removeEventFilter(this); }

bool MarkKeys::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    // A key press goes to the focus widget first, then up its parents: only
    // that first delivery counts.
    QWidget* first = QApplication::focusWidget();
    if (!first) first = static_cast<QWidget*>(watched)->window();
    if (watched != first) return false;
    return take(static_cast<QKeyEvent*>(event), watched);
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
    // A widget that answers the key itself says so, as to a shortcut (the
    // page list's Delete and Escape).
    if (focus) {
        QKeyEvent claim(QEvent::ShortcutOverride, event->key(), event->modifiers(), event->text());
        claim.ignore();
        QApplication::sendEvent(focus, &claim);
        if (claim.isAccepted()) return false;
    }
    MarkEditor& marks = MarkEditor::of(*view);
    if (marks.hasEditor()) return false; // words are being typed into a mark
    return marks.key(event);
}

} // namespace quarn
