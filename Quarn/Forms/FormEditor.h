#pragma once
// Filling form fields in the page view: a text field is typed into an editor
// laid over it, a check box or radio button changes with a click, a choice
// field offers its options in a list that pops up under it. By keyboard, the
// other fields take the focus through a FieldControl over them: Space ticks,
// chooses or shows the options, the arrows go through a radio group or the
// options. Each change is one step on the document's undo stack.
#include "Quarn/Forms/FieldControl.h"
#include "QuarnKit/Document/FormFields.h"

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QWidget;

namespace quarn {

class FormWatcher;
class QuarnPDFView;

class FormEditor : public QObject {
    Q_OBJECT

public:
    using Widget = quarnkit::FormFields::Widget;

    // Made by the form watcher, whose fields it fills.
    explicit FormEditor(FormWatcher& watcher);
    ~FormEditor() override;

    QuarnPDFView* view() const { return view_; }
    // Follows a page view: its clicks on fields, its scrolling and zooming.
    void setView(QuarnPDFView* view);

    // A click of the Select tool on a field: a text field (or a combo box that
    // takes typed text) opens the editor, a button toggles, a choice field
    // shows its options. False for a read-only field or one of no such kind.
    bool activate(const Widget& field);
    // Opens the editor over a text field or editable combo box, its text
    // cursor at the end, or its text selected (as when Tab arrives there) so
    // that typing replaces it; other fields are left alone.
    void beginTyping(const Widget& field, bool selectAll = false);
    // The keyboard comes to the field, as Tab brings it: the editor over a
    // field that takes typing (its text selected), the control over another.
    void focusField(const Widget& field);
    // The field being typed into.
    std::optional<int> editingField() const;
    // The field the keyboard is on, typed into or not, as last read.
    std::optional<Widget> focusedField() const;
    // The open editor: a line, or a text box for a multi-line field.
    QWidget* editorWidget() const { return editor_; }
    // The control over a field that takes no typing, while it has the keyboard.
    FieldControl* control() const { return control_; }
    // The editor or the control, or a part of them.
    bool ownsWidget(const QWidget* widget) const;
    // Writes the editor's text into its field when it changed, then closes it
    // and the control.
    void commit();
    // Writes the editor's text into its field when it changed; typing goes on.
    void write();
    // Closes the editor without writing, and the control.
    void cancel();
    // The watcher read the fields' values again (an undo, a redo): the
    // control says its field's.
    void fieldsRead();
    // The options of a choice field while they show.
    QMenu* choiceMenu() const { return menu_; }

    // The edits, each one undo step; false when the field refused the value.
    bool setText(const Widget& field, const QString& text);
    bool toggle(const Widget& field);
    bool choose(const Widget& field, const QString& option);

    // The undo steps' names.
    static QString typingName();
    static QString checkName();
    static QString uncheckName();
    static QString chooseName();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Runs an edit on the page view's document; a failure gets the error alert.
    bool apply(const std::function<bool(quarnkit::QuarnDocument&)>& edit);
    // The widgets of the field's own form field (radio buttons of one group,
    // copies of one text field), as last read.
    std::vector<Widget> group(const Widget& field) const;
    void showChoices(const Widget& field);
    void showControl(const Widget& field);
    void closeControl();
    // An editor or control that went: hidden, unless it has the keys while
    // another field's is made (handingOver_), which takes them first.
    void retire(QWidget* box);
    void pressControl();
    void stepControl(FieldControl::Step step);
    void layoutEditor();
    void writeEditor(bool close);
    void closeEditor();
    bool viewportEvent(QEvent* event);
    bool editorEvent(QEvent* event);

    FormWatcher& watcher_;
    QPointer<QuarnPDFView> view_;
    // The view's viewport, watched: its events also come while the view is
    // being destroyed, when view_ may no longer be taken for a page view.
    QPointer<QWidget> viewport_;
    QPointer<QWidget> editor_;
    QPointer<FieldControl> control_;
    bool handingOver_ = false;
    std::vector<QPointer<QWidget>> outgoing_; // went, keeping the keys till the next takes them
    std::optional<Widget> editing_;
    QPointer<quarnkit::QuarnDocument> editingDocument_; // the document the typing belongs to
    QPointer<QMenu> menu_;
    bool pressTaken_ = false;
    bool writing_ = false;
};

} // namespace quarn
