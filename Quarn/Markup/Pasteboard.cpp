#include "Quarn/Markup/Pasteboard.h"

#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Markup/MarkClipboardCommands.h"

#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/PageInteractions.h"
#include "Quarn/Viewer/TextSelection.h"
#include "QuarnKit/Markup/MarkClipboard.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace quarn::Pasteboard {

namespace {

bool clipboardHasText()
{
    const QMimeData* mime = QApplication::clipboard()->mimeData();
    return mime && mime->hasText();
}

bool canRunOnField(Command command, const QWidget* target)
{
    if (const auto* line = qobject_cast<const QLineEdit*>(target)) {
        const bool shown = line->echoMode() == QLineEdit::Normal; // a password is never copied
        switch (command) {
        case Command::cut: return shown && !line->isReadOnly() && line->hasSelectedText();
        case Command::copy: return shown && line->hasSelectedText();
        case Command::paste: return !line->isReadOnly() && clipboardHasText();
        }
    }
    if (const auto* edit = qobject_cast<const QTextEdit*>(target)) {
        switch (command) {
        case Command::cut: return !edit->isReadOnly() && edit->textCursor().hasSelection();
        case Command::copy: return edit->textCursor().hasSelection();
        case Command::paste: return !edit->isReadOnly() && edit->canPaste();
        }
    }
    if (const auto* plain = qobject_cast<const QPlainTextEdit*>(target)) {
        switch (command) {
        case Command::cut: return !plain->isReadOnly() && plain->textCursor().hasSelection();
        case Command::copy: return plain->textCursor().hasSelection();
        case Command::paste: return !plain->isReadOnly() && plain->canPaste();
        }
    }
    return false;
}

template <typename Field>
void runOn(Field* field, Command command)
{
    switch (command) {
    case Command::cut: field->cut(); break;
    case Command::copy: field->copy(); break;
    case Command::paste: field->paste(); break;
    }
}

} // namespace

QWidget* typingTarget()
{
    QWidget* focus = QApplication::focusWidget();
    if (qobject_cast<QLineEdit*>(focus) || qobject_cast<QTextEdit*>(focus) || qobject_cast<QPlainTextEdit*>(focus))
        return focus;
    return nullptr;
}

bool canRun(Command command, const QuarnPDFView* view)
{
    if (QWidget* target = typingTarget()) return canRunOnField(command, target);
    if (!view || !view->quarnDocument()) return false;
    const MarkEditor* marks = view->interactions().find<MarkEditor>();
    const bool mark = marks && marks->selected().has_value();
    const bool typing = marks && marks->hasEditor();
    switch (command) {
    case Command::cut: return mark && !typing;
    case Command::copy: return mark || !view->interactions().textSelection().current().text.empty();
    case Command::paste: return !typing && quarnkit::MarkClipboard::canRead(QApplication::clipboard()->mimeData());
    }
    return false;
}

void run(Command command, QuarnPDFView* view)
{
    QWidget* target = typingTarget();
    if (auto* line = qobject_cast<QLineEdit*>(target)) return runOn(line, command);
    if (auto* edit = qobject_cast<QTextEdit*>(target)) return runOn(edit, command);
    if (auto* plain = qobject_cast<QPlainTextEdit*>(target)) return runOn(plain, command);
    if (!view || !canRun(command, view)) return;
    switch (command) {
    case Command::cut: cutSelectedMark(MarkEditor::of(*view)); break;
    case Command::copy:
        if (!copySelectedMark(MarkEditor::of(*view))) view->interactions().textSelection().copy();
        break;
    case Command::paste: pasteMarks(MarkEditor::of(*view)); break;
    }
}

} // namespace quarn::Pasteboard
