#include "Quarn/Forms/FormEditor.h"
#include "Quarn/Shell/WindowEvents.h"

#include "Quarn/Design/AccessiblePopover.h"
#include "Quarn/Forms/FormWatcher.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "QuarnKit/Document/FormFieldEdits.h"
#include "QuarnKit/Markup/MarkupTool.h"
#include "QuarnKit/Shell/Design.h"
#include "Quarn/Design/ErrorAlert.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScopedValueRollback>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

namespace quarn {

using Widget = FormEditor::Widget;
using Kind = quarnkit::FormFields::WidgetKind;
namespace FormFieldEdits = quarnkit::FormFieldEdits;
namespace FormFields = quarnkit::FormFields;

namespace {

bool takesTyping(const Widget& w) { return w.kind == Kind::text || (w.kind == Kind::choice && w.editable); }

// What a reader hears a field called: the name its form gives people, else its own.
QString heardName(const Widget& w) { return QString::fromStdString(w.label.empty() ? w.name : w.label); }

// Field editors read as paper: black on white whatever the window's appearance.
QString editorStyle(const char* type)
{
    const QString accent = quarnkit::Design::accent().name();
    return QStringLiteral("%1 { background: white; color: black; border: 1px solid %2; padding: 0px 1px; "
                          "selection-background-color: %2; selection-color: white; }")
        .arg(QLatin1String(type), accent);
}

} // namespace

QString FormEditor::typingName() { return tr("Typing"); }
QString FormEditor::checkName() { return tr("Check"); }
QString FormEditor::uncheckName() { return tr("Uncheck"); }
QString FormEditor::chooseName() { return tr("Choice"); }

FormEditor::FormEditor(FormWatcher& watcher) : QObject(&watcher), watcher_(watcher) {}

FormEditor::~FormEditor()
{
    // Let go of them first: a widget going sends events to this filter while
    // it is half destroyed, no longer of its own type.
    delete std::exchange(editor_, nullptr).data();
    delete std::exchange(control_, nullptr).data();
    if (menu_) menu_->deleteLater();
}

void FormEditor::setView(QuarnPDFView* view)
{
    if (view_ == view) return;
    cancel();
    if (viewport_) viewport_->removeEventFilter(this);
    if (view_) disconnect(view_, nullptr, this, nullptr);
    view_ = view;
    viewport_ = view ? view->viewport() : nullptr;
    pressTaken_ = false;
    if (!view) return;
    viewport_->installEventFilter(this);
    // The editor stays on its field while the pages scroll, zoom or change layout.
    connect(view, &QuarnPDFView::scaleChanged, this, &FormEditor::layoutEditor);
    connect(view, &QuarnPDFView::boundsChanged, this, &FormEditor::layoutEditor);
    connect(view, &QuarnPDFView::displayModeChanged, this, &FormEditor::layoutEditor);
    connect(view, &QuarnPDFView::visiblePagesChanged, this, &FormEditor::layoutEditor);
}

std::optional<int> FormEditor::editingField() const
{
    return editing_ && editor_ ? std::optional<int>(editing_->objectNumber) : std::nullopt;
}

std::optional<Widget> FormEditor::focusedField() const
{
    if (editing_ && editor_) return editing_;
    if (control_) return control_->field();
    return std::nullopt;
}

bool FormEditor::ownsWidget(const QWidget* widget) const
{
    if (!widget) return false;
    return (editor_ && (widget == editor_ || editor_->isAncestorOf(widget))) || (control_ && widget == control_);
}

void FormEditor::focusField(const Widget& field)
{
    {
        // The keys go straight from the field left to this one: a reader
        // hears of no stop between.
        const QScopedValueRollback<bool> handing(handingOver_, true);
        if (takesTyping(field)) beginTyping(field, true);
        else if (!field.readOnly) showControl(field);
    }
    for (const QPointer<QWidget>& box : std::exchange(outgoing_, {}))
        if (box) retire(box);
}

void FormEditor::retire(QWidget* box)
{
    box->removeEventFilter(this);
    if (box->hasFocus() && handingOver_) {
        outgoing_.emplace_back(box);
        return;
    }
    // The page takes the keys, not whatever follows the box in the window.
    if (box->hasFocus() && view_) view_->setFocus(Qt::OtherFocusReason);
    box->hide();
    box->deleteLater();
}

// ---------------------------------------------------------------- clicks

bool FormEditor::activate(const Widget& field)
{
    if (field.readOnly || !view_) return false;
    switch (field.kind) {
    case Kind::text: beginTyping(field); return true;
    case Kind::checkBox:
    case Kind::radioButton:
        commit();
        toggle(field);
        return true;
    case Kind::choice:
        if (field.editable) beginTyping(field);
        else {
            commit();
            showChoices(field);
        }
        return true;
    default: return false;
    }
}

bool FormEditor::eventFilter(QObject* watched, QEvent* event)
{
    if (viewport_ && watched == viewport_.data()) return viewportEvent(event);
    if (editor_ && watched == editor_) return editorEvent(event);
    if (control_ && watched == control_ && event->type() == QEvent::FocusOut) {
        // The options it shows and another window keep it; anything else the keys go to ends it.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) closeControl();
    }
    return false;
}

bool FormEditor::viewportEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        // A quick second click on a check box is a second toggle, not a word selection.
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || view_->tool() != quarnkit::MarkupTool::select) return false;
        const auto field = watcher_.fieldAt(mouse->position());
        if (!field || !activate(*field)) return false;
        pressTaken_ = true;
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!pressTaken_) return false;
        pressTaken_ = false;
        return true;
    case QEvent::MouseMove: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->buttons() != Qt::NoButton || view_->tool() != quarnkit::MarkupTool::select) return false;
        const auto field = watcher_.fieldAt(mouse->position());
        if (!field || field->readOnly) return false;
        view_->viewport()->setCursor(takesTyping(*field) ? Qt::IBeamCursor : Qt::PointingHandCursor);
        return true;
    }
    case QEvent::Resize:
        // The pages are laid out again first.
        QTimer::singleShot(0, this, &FormEditor::layoutEditor);
        return false;
    default: return false;
    }
}

// ---------------------------------------------------------------- the text editor

void FormEditor::beginTyping(const Widget& field, bool selectAll)
{
    if (!view_ || field.readOnly || !takesTyping(field)) return;
    quarnkit::QuarnDocument* document = view_->quarnDocument();
    if (!document) return;
    if (editor_ && editing_ && editing_->objectNumber == field.objectNumber) {
        editor_->setFocus(Qt::OtherFocusReason);
        return;
    }
    commit();
    const std::optional<Widget> fresh = FormFields::widget(*document, field.page, field.objectNumber);
    if (!fresh) return;
    const QString text = QString::fromStdString(fresh->value.value_or(std::string()));

    QWidget* box = nullptr;
    if (fresh->kind == Kind::text && fresh->multiline && !fresh->password) {
        auto* lines = new QPlainTextEdit(view_->viewport());
        lines->setPlainText(text);
        lines->setTabChangesFocus(true);
        lines->setStyleSheet(editorStyle("QPlainTextEdit"));
        if (selectAll) lines->selectAll();
        else lines->moveCursor(QTextCursor::End);
        box = lines;
    } else {
        auto* line = new QLineEdit(view_->viewport());
        line->setText(text);
        line->setFrame(false);
        // A password shows as a mask while it is typed, as it is drawn.
        if (fresh->password) line->setEchoMode(QLineEdit::Password);
        if (fresh->maxLength > 0) line->setMaxLength(fresh->maxLength);
        line->setStyleSheet(editorStyle("QLineEdit"));
        if (selectAll) line->selectAll();
        else line->end(false);
        connect(line, &QLineEdit::returnPressed, this, [this] {
            commit();
            if (view_) view_->setFocus(Qt::OtherFocusReason);
        });
        if (fresh->kind == Kind::choice) {
            // A combo box that takes typed text still offers its options.
            QStringList options;
            for (const auto& option : fresh->options) options << QString::fromStdString(option);
            auto* completer = new QCompleter(options, line);
            completer->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
            completer->setCaseSensitivity(Qt::CaseInsensitive);
            line->setCompleter(completer);
            QTimer::singleShot(0, completer, [completer] { completer->complete(); });
        }
        box = line;
    }
    box->setAccessibleName(heardName(*fresh));
    box->installEventFilter(this);
    editor_ = box;
    editing_ = fresh;
    editingDocument_ = document;
    layoutEditor();
    box->show();
    box->setFocus(selectAll ? Qt::TabFocusReason : Qt::OtherFocusReason);
}

void FormEditor::layoutEditor()
{
    if (control_ && view_) {
        const Widget& field = control_->field();
        if (field.page >= view_->pageCount()) closeControl();
        else control_->setGeometry(view_->placement().convertFromPage(field.rect, field.page).toAlignedRect());
    }
    if (!editor_ || !editing_ || !view_) return;
    if (editing_->page >= view_->pageCount()) {
        cancel();
        return;
    }
    const QRectF area = view_->placement().convertFromPage(editing_->rect, editing_->page);
    editor_->setGeometry(area.toAlignedRect());
    // The typed text about as large as the field will draw it.
    const double scale = view_->scaleFactor();
    const bool multiline = qobject_cast<QPlainTextEdit*>(editor_.data()) != nullptr;
    const double pixels = multiline ? 12 * scale : std::min(area.height() * 0.62, 12 * scale * 1.5);
    QFont font = quarnkit::screenFont(quarnkit::TextFont::sans, 12);
    font.setPixelSize(std::max(6, int(std::lround(pixels))));
    if (editor_->font() != font) editor_->setFont(font);
}

bool FormEditor::editorEvent(QEvent* event)
{
    // The window's shortcuts (Export, Print, Find) run while a field is being
    // typed in, but for the keys the field edits with.
    if (event->type() == QEvent::ShortcutOverride && !WindowEvents::fieldUsesKey(static_cast<QKeyEvent*>(event))) {
        event->ignore();
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            cancel();
            if (view_) view_->setFocus(Qt::OtherFocusReason);
            return true;
        }
        // Return makes new lines in a multi-line field; Ctrl+Return ends the typing there.
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter && (key->modifiers() & Qt::ControlModifier)) {
            commit();
            if (view_) view_->setFocus(Qt::OtherFocusReason);
            return true;
        }
    } else if (event->type() == QEvent::FocusOut) {
        switch (static_cast<QFocusEvent*>(event)->reason()) {
        case Qt::PopupFocusReason: {
            // A menu opens (File, a context menu): what it does may read the
            // field. The options of a combo box are part of the typing.
            const auto* line = qobject_cast<QLineEdit*>(editor_.data());
            const bool options = line && line->completer() && line->completer()->popup()->isVisible();
            if (!options) writeEditor(false);
            break;
        }
        case Qt::ActiveWindowFocusReason:
            writeEditor(false); // another window: keep the text, and the editor for the return
            break;
        default:
            commit(); // a click elsewhere ends the typing
            break;
        }
    }
    return false;
}

void FormEditor::commit()
{
    writeEditor(true);
    closeControl();
}

void FormEditor::write() { writeEditor(false); }

void FormEditor::cancel()
{
    closeEditor();
    closeControl();
}

void FormEditor::closeEditor()
{
    QPointer<QWidget> box = editor_;
    editor_ = nullptr;
    editing_.reset();
    editingDocument_.clear();
    if (box) retire(box);
}

void FormEditor::writeEditor(bool close)
{
    if (!editor_ || !editing_ || writing_) return;
    writing_ = true;
    QString text;
    if (const auto* line = qobject_cast<QLineEdit*>(editor_.data())) text = line->text();
    else if (const auto* lines = qobject_cast<QPlainTextEdit*>(editor_.data())) text = lines->toPlainText();
    const Widget field = *editing_;
    const QPointer<quarnkit::QuarnDocument> document = editingDocument_;
    if (field.kind == Kind::text && field.maxLength > 0 && text.size() > field.maxLength)
        text.truncate(field.maxLength);
    if (close) closeEditor();
    // A document replaced while typing (Revert) takes nothing of the old one.
    if (document && view_ && view_->quarnDocument() == document) {
        const std::optional<Widget> fresh = FormFields::widget(*document, field.page, field.objectNumber);
        if (fresh && QString::fromStdString(fresh->value.value_or(std::string())) != text) {
            if (field.kind == Kind::text) setText(field, text);
            else choose(field, text);
        }
    }
    writing_ = false;
}

// ---------------------------------------------------------------- the control

void FormEditor::showControl(const Widget& field)
{
    if (!view_ || !view_->quarnDocument()) return;
    commit();
    const std::optional<Widget> fresh = FormFields::widget(*view_->quarnDocument(), field.page, field.objectNumber);
    if (!fresh) return;
    // A radio button is heard by its group's name, its own option and its
    // place in the group.
    QString name = heardName(*fresh);
    const std::vector<Widget> buttons = FormFields::radioGroup(*fresh, watcher_.fields());
    const auto at = std::find_if(buttons.begin(), buttons.end(),
                                 [&](const Widget& w) { return w.objectNumber == fresh->objectNumber; });
    const QString option = QString::fromStdString(fresh->option);
    if (fresh->kind == Kind::radioButton && !option.isEmpty() && option != name) name = tr("%1, %2").arg(name, option);
    if (buttons.size() > 1 && at != buttons.end())
        name = tr("%1, %2 of %3").arg(name).arg(at - buttons.begin() + 1).arg(buttons.size());
    control_ = new FieldControl(*fresh, name, view_->viewport());
    control_->onPress = [this] { pressControl(); };
    control_->onStep = [this](FieldControl::Step step) { stepControl(step); };
    control_->onLeave = [this] {
        if (view_) view_->setFocus(Qt::OtherFocusReason);
    };
    control_->installEventFilter(this);
    layoutEditor();
    control_->show();
    control_->setFocus(Qt::TabFocusReason);
}

void FormEditor::closeControl()
{
    if (const QPointer<FieldControl> control = std::exchange(control_, nullptr)) retire(control);
}

void FormEditor::pressControl()
{
    if (!control_) return;
    const Widget field = control_->field();
    switch (field.kind) {
    case Kind::checkBox: toggle(field); break;
    case Kind::radioButton:
        if (field.state == 0) toggle(field); // Space chooses; a chosen button stays chosen
        break;
    case Kind::choice: showChoices(field); break;
    default: break;
    }
}

void FormEditor::stepControl(FieldControl::Step step)
{
    if (!control_) return;
    const Widget field = control_->field();
    using Step = FieldControl::Step;
    const auto target = [step](int at, int count, bool round) {
        switch (step) {
        case Step::first: return 0;
        case Step::last: return count - 1;
        case Step::back: return at <= 0 ? (round ? count - 1 : 0) : at - 1;
        case Step::on: return at + 1 >= count ? (round ? 0 : count - 1) : at + 1;
        }
        return at;
    };
    if (field.kind == Kind::radioButton) {
        // The arrows go round the group, choosing the button they reach.
        const std::vector<Widget> buttons = FormFields::radioGroup(field, watcher_.fields());
        const auto at = std::find_if(buttons.begin(), buttons.end(),
                                     [&](const Widget& w) { return w.objectNumber == field.objectNumber; });
        if (buttons.empty() || at == buttons.end()) return;
        const Widget& reached = buttons[size_t(target(int(at - buttons.begin()), int(buttons.size()), true))];
        if (reached.objectNumber == field.objectNumber) return;
        focusField(reached);
        if (control_ && control_->field().state == 0) toggle(control_->field());
        return;
    }
    if (field.kind != Kind::choice || field.options.empty()) return;
    const auto chosen = std::find(field.exportValues.begin(), field.exportValues.end(), field.value.value_or(""));
    const int at = chosen == field.exportValues.end() ? -1 : int(chosen - field.exportValues.begin());
    const int to = target(at, int(field.options.size()), false);
    if (to != at) choose(field, QString::fromStdString(field.options[size_t(to)]));
}

void FormEditor::fieldsRead()
{
    if (!control_) return;
    for (const Widget& w : watcher_.fields())
        if (w.objectNumber == control_->field().objectNumber) control_->setField(w);
}

// ---------------------------------------------------------------- choices

void FormEditor::showChoices(const Widget& field)
{
    if (!view_ || !view_->quarnDocument()) return;
    const std::optional<Widget> fresh = FormFields::widget(*view_->quarnDocument(), field.page, field.objectNumber);
    if (!fresh || fresh->options.empty()) return;
    if (menu_) menu_->close();

    auto* menu = new QMenu(view_);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setAccessibleName(heardName(*fresh));
    for (size_t i = 0; i < fresh->options.size(); ++i) {
        const QString option = QString::fromStdString(fresh->options[i]);
        QAction* action = menu->addAction(option.isEmpty() ? QStringLiteral(" ") : option);
        action->setCheckable(true);
        action->setChecked(fresh->value && i < fresh->exportValues.size() && *fresh->value == fresh->exportValues[i]);
        connect(action, &QAction::triggered, this, [this, field, option] { choose(field, option); });
    }
    // Closing the list, with or without a choice, is worth a look at the values.
    connect(menu, &QMenu::aboutToHide, this, [this] { watcher_.scheduleCheck(); });
    menu_ = menu;
    const QRectF area = view_->placement().convertFromPage(fresh->rect, fresh->page);
    menu->setMinimumWidth(int(area.width()));
    popUpMenu(menu, view_->viewport()->mapToGlobal(area.bottomLeft().toPoint()), MenuAsked::choices);
}

// ---------------------------------------------------------------- edits

bool FormEditor::setText(const Widget& field, const QString& text)
{
    const std::string value = text.toStdString();
    return apply([&](quarnkit::QuarnDocument& document) {
        return FormFieldEdits::setText(document, field, group(field), value, typingName());
    });
}

bool FormEditor::toggle(const Widget& field)
{
    quarnkit::QuarnDocument* document = view_ ? view_->quarnDocument() : nullptr;
    const std::optional<Widget> fresh =
        document ? FormFields::widget(*document, field.page, field.objectNumber) : std::nullopt;
    const bool on = fresh ? fresh->state != 0 : field.state != 0;
    return apply([&](quarnkit::QuarnDocument& document) {
        return FormFieldEdits::toggle(document, field, group(field), on ? uncheckName() : checkName());
    });
}

bool FormEditor::choose(const Widget& field, const QString& option)
{
    const std::string value = option.toStdString();
    return apply([&](quarnkit::QuarnDocument& document) {
        return FormFieldEdits::choose(document, field, group(field), value, chooseName());
    });
}

std::vector<Widget> FormEditor::group(const Widget& field) const
{
    std::vector<Widget> members;
    if (!field.name.empty())
        for (const Widget& w : watcher_.fields())
            if (w.name == field.name) members.push_back(w);
    return members;
}

bool FormEditor::apply(const std::function<bool(quarnkit::QuarnDocument&)>& edit)
{
    if (!view_ || !view_->quarnDocument()) return false;
    bool done = false;
    try {
        done = edit(*view_->quarnDocument());
    } catch (const std::exception& error) {
        showErrorAlert(view_, QString::fromUtf8(error.what()));
    }
    // The control says what the edit made of its field.
    if (control_ && view_ && view_->quarnDocument()) {
        const Widget& field = control_->field();
        if (const auto fresh = FormFields::widget(*view_->quarnDocument(), field.page, field.objectNumber))
            control_->setField(*fresh);
    }
    return done;
}

} // namespace quarn
