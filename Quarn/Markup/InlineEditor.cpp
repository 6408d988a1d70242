#include "Quarn/Markup/InlineEditor.h"

#include "QuarnKit/Shell/Design.h"

#include <QAbstractTextDocumentLayout>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTextDocument>

#include <algorithm>
#include <cmath>

namespace quarn {

namespace {

QString rgba(const QColor& c)
{
    return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alphaF());
}

} // namespace

InlineEditor::InlineEditor(Style style, const QFont& font, const QColor& textColor, const QColor& background,
                           QSizeF inset, QWidget* parent)
    : QTextEdit(parent), style_(style), inset_(inset)
{
    // Named for screen readers after the mark it types into.
    setAccessibleName(style == Style::note ? tr("Note") : tr("Text box"));
    setAcceptRichText(false); // pasted styled text arrives as plain text in the editor's font
    setUndoRedoEnabled(true);
    setTabChangesFocus(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A text box keeps its own lines; a note wraps inside its fixed width.
    setLineWrapMode(style == Style::note ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
    setFrameStyle(QFrame::NoFrame);
    document()->setDocumentMargin(0);
    setViewportMargins(int(std::ceil(inset.width())), int(std::ceil(inset.height())), int(std::ceil(inset.width())),
                       int(std::ceil(inset.height())));
    setFont(font);
    document()->setDefaultFont(font);
    setTextColor(textColor);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    setStyleSheet(
        QStringLiteral("QTextEdit { color: %1; background-color: %2; border: 1.5px solid %3; border-radius: 4px; }")
            .arg(rgba(textColor), rgba(background), rgba(quarnkit::Design::accent())));
    setGeometry(0, 0, 200, 28);
    connect(this, &QTextEdit::textChanged, this, [this] {
        if (onGrow) onGrow();
    });
}

InlineEditor::~InlineEditor()
{
    if (companion_) delete companion_.data();
}

void InlineEditor::setCompanion(QWidget* widget)
{
    if (companion_ && companion_ != widget) delete companion_.data();
    companion_ = widget;
}

QSizeF InlineEditor::fittingSize(double minWidth) const
{
    QTextDocument* doc = document();
    const double frame = 2.0 * frameWidth();
    const double lineHeight = QFontMetricsF(font()).lineSpacing();
    if (style_ == Style::note) {
        doc->setTextWidth(std::max(1.0, width() - 2 * std::ceil(inset_.width()) - frame));
        const double h = std::max(doc->size().height(), lineHeight) + 2 * std::ceil(inset_.height()) + frame;
        return {double(width()), std::ceil(std::max(h, 64.0))};
    }
    doc->setTextWidth(-1);
    const double usedWidth = doc->idealWidth();
    const double h = std::max(doc->size().height(), lineHeight) + 2 * std::ceil(inset_.height()) + frame;
    const double w = std::max(minWidth, std::ceil(usedWidth) + 2 * std::ceil(inset_.width()) + frame + 6);
    return {w, std::ceil(h)};
}

void InlineEditor::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Shift or Alt keeps typing on a new line; a plain Return is done.
        if (event->modifiers() & (Qt::ShiftModifier | Qt::AltModifier)) insertPlainText(QStringLiteral("\n"));
        else if (onCommit) onCommit();
        event->accept();
        return;
    case Qt::Key_Escape:
        if (onCancel) onCancel();
        event->accept();
        return;
    default: QTextEdit::keyPressEvent(event);
    }
}

void InlineEditor::focusOutEvent(QFocusEvent* event)
{
    QTextEdit::focusOutEvent(event);
    // Clicking elsewhere keeps the text; another window or a menu coming up
    // over this one ends nothing.
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason) return;
    if (onCommit) onCommit();
}

} // namespace quarn
