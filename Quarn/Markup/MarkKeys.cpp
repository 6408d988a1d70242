#include "Quarn/Markup/MarkKeys.h"

#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Shell/WindowEvents.h"

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

bool takeMarkKey(QuarnPDFView* view, QKeyEvent* event, QObject* receiver)
{
    if (!view || !view->isVisible() || QApplication::activeModalWidget()) return false;
    auto* target = qobject_cast<QWidget*>(receiver);
    QWidget* window = view->window();
    if (!target || target->window() != window || !window->isActiveWindow()) return false;
    QWidget* focus = QApplication::focusWidget();
    if (focus && (isTextInput(focus) || focus == view || view->isAncestorOf(focus))) return false;
    // A widget that answers the key itself says so, as to a shortcut (the
    // page list's Delete and Escape).
    if (WindowEvents::focusClaims(event)) return false;
    MarkEditor& marks = MarkEditor::of(*view);
    if (marks.hasEditor()) return false; // words are being typed into a mark
    return marks.key(event);
}

} // namespace

void listenForMarkKeys(QuarnPDFView& view)
{
    WindowEvents::listenForKeys(view, [page = QPointer<QuarnPDFView>(&view)](QKeyEvent* event, QObject* receiver) {
        return takeMarkKey(page, event, receiver);
    });
}

} // namespace quarn
