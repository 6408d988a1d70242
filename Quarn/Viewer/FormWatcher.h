#pragma once
// The form watcher of one window: keeps the document's form fields and their
// number for the forms banner, moves editing from field to field with Tab and
// Shift-Tab in reading order, and tells the document once per burst of field
// changes (typing, clicking, choosing, undo and redo) through its change
// counter. The edits themselves are the form editor's, which it owns.
#include "QuarnKit/Document/FormFields.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <QObject>
#include <QPointer>
#include <QPointF>
#include <QTimer>

#include <memory>
#include <optional>
#include <set>
#include <vector>

class QUndoStack;

namespace quarn {

class FormEditor;
class QuarnPDFView;
class ViewerModel;

class FormWatcher : public QObject {
    Q_OBJECT

public:
    using Widget = quarnkit::FormFields::Widget;

    explicit FormWatcher(QObject* parent = nullptr);
    ~FormWatcher() override;

    // Binds to the window's model and document (both held weakly) and scans;
    // the first start also begins watching the window's events and undo stack.
    void start(ViewerModel* model, quarnkit::QuarnDocument* document);
    // Re-reads the fields when the PDF, its page count or its lock changed.
    void scan();
    // Starts editing the first empty text field, else the first text field;
    // with no text field at all, only shows the first field.
    void focusFirstEmptyField();

    // The fillable fields in reading order, with their values as last compared.
    const std::vector<Widget>& fields() const { return fields_; }
    // The field being edited or last clicked (its object number).
    std::optional<int> active() const { return active_; }
    // The field under a point of the page view's viewport (on a page, not between pages).
    std::optional<Widget> fieldAt(QPointF viewportPoint) const;
    // The window's page view, while the model has one.
    QuarnPDFView* view() const;
    quarnkit::QuarnDocument* document() const { return quarn_.data(); }
    // The in-place editing of the page view's fields; none before start.
    FormEditor* editor() const { return editor_; }
    // Where the window's undo steps go: the page view's stack, else the model's.
    QUndoStack* undoStack() const;

    // Compares the field values after the current event has been handled.
    void scheduleCheck();
    // Compares the field values now; changes are noted `noteDelayMs` after the last one.
    void collectChanges();
    // Compares now and notes a change at once: an edit with no undo stack to
    // carry it must reach the document before the window can close.
    void noteNow();
    // Tab (forwards) or Shift-Tab: true when it moved editing, or kept it on
    // the only field there is.
    bool handleTab(bool backward);
    // Commits the field being left, then puts the text cursor into `field`,
    // scrolling it into view first.
    void beginEditing(Widget field);

    static constexpr int noteDelayMs = 400;
    static constexpr int clickDelayMs = 30;
    static constexpr int clickAttempts = 10;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool handle(QObject* receiver, QEvent* event);
    void click(const Widget& field, int attempts);
    void postNote();
    void followUndoStack();
    void followView();
    // The fields with their values read afresh from their pages.
    std::vector<Widget> readCurrent() const;
    void revealField(const Widget& field);

    QPointer<ViewerModel> model_;
    QPointer<quarnkit::QuarnDocument> quarn_;
    std::weak_ptr<platform::PdfDocument> scanned_;
    std::optional<size_t> scannedPages_; // the page signature scanned
    bool scannedLocked_ = false;
    bool accepted_ = false; // the scanned PDF declared its fields
    std::vector<Widget> fields_;
    quarnkit::FormFields::Snapshot snapshot_;
    std::optional<int> active_;
    bool monitoring_ = false;
    QPointer<QUndoStack> undoStack_;
    QMetaObject::Connection undoConnection_;
    std::set<platform::PdfPageId> pendingPages_;
    bool pendingWide_ = false;
    QTimer pendingNote_;
    bool checkQueued_ = false;
    FormEditor* editor_ = nullptr; // a child of the watcher
};

} // namespace quarn
