#pragma once
// The forms of one window: keeps the document's form fields, their values and
// their number for the forms banner, and moves the keyboard from field to
// field with Tab and Shift-Tab in reading order. The edits themselves are the form
// editor's, which it owns; each is an undo step of the document.
#include "QuarnKit/Document/FormFields.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <QObject>
#include <QPointer>
#include <QPointF>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QWidget;

namespace quarn {

class FormEditor;
class QuarnPDFView;
class ViewerModel;

class FormWatcher : public QObject {
    Q_OBJECT

public:
    using Widget = quarnkit::FormFields::Widget;

    // The watcher of the window whose viewer is `viewer`: made on first use,
    // a child of the viewer model.
    static FormWatcher& of(ViewerModel& viewer);
    ~FormWatcher() override;

    // Binds to the window's model and document (both held weakly) and scans;
    // from the first start on, the watcher hears the events of the page view's window.
    void start(ViewerModel* model, quarnkit::QuarnDocument* document);
    // Re-reads the fields when the PDF, its page count or its lock changed,
    // on a worker (see reading).
    void scan();
    // A worker is reading the fields; fields() are the last read till then.
    bool reading() const { return reading_; }
    // Starts editing the first empty text field, else the first text field;
    // with no text field at all, only shows the first field. Once a worker
    // has read the fields' values.
    void focusFirstEmptyField();

    // The fillable fields in reading order, with their values as last read
    // (see readValues).
    const std::vector<Widget>& fields() const { return fields_; }
    // How many fields there are, as the banner and the Sign menu show it.
    int fieldCount() const { return int(fields_.size()); }
    // The field being edited or last clicked (its object number).
    std::optional<int> active() const { return active_; }
    // The field under a point of the page view's viewport (on a page, not between pages).
    std::optional<Widget> fieldAt(QPointF viewportPoint) const;
    // The window's page view, while the model has one.
    QuarnPDFView* view() const;
    quarnkit::QuarnDocument* document() const { return quarn_.data(); }
    // The in-place editing of the page view's fields; none before start.
    FormEditor* editor() const { return editor_; }
    // Reads the field values again after the current event has been handled.
    void scheduleCheck();
    // Asks a worker to read the field values again; fields() holds them once it has.
    void readValues();
    // Runs on the worker before it reads the values (tests hold it there).
    std::function<void()> workerHook;
    // Tab (forwards) or Shift-Tab: true when it moved the keys to a field, or
    // off the fields to the page or past it.
    bool handleTab(bool backward);
    // Commits the field being left, then brings the keyboard to `field` (the
    // text cursor, or the control of a field that takes no typing),
    // scrolling it into view first.
    void beginEditing(Widget field);

    static constexpr int clickDelayMs = 30;
    static constexpr int clickAttempts = 10;

signals:
    void fieldCountChanged(int count);

private:
    using Reading = quarnkit::FormFields::Reading;
    explicit FormWatcher(QObject* parent);
    void apply(quarnkit::QuarnDocument* document, size_t pages, bool locked, Reading reading);
    bool handle(QObject* receiver, QEvent* event);
    void click(const Widget& field, int attempts);
    void followUndoStack();
    void followView();
    // Hears the page view's window through the application's one filter.
    void listenToWindow();
    bool hear(QObject* watched, QEvent* event);
    // Tab goes through the fields: there are some, and the Select tool is chosen.
    bool tabsThroughFields() const;
    // Starts editing as focusFirstEmptyField says, by the values last read.
    void focusOnFirstEmptyField();
    void revealField(const Widget& field);
    // Brings the keys to the field where it shows on the page; false when it does not.
    bool focusOn(const Widget& field);

    QPointer<ViewerModel> model_;
    QPointer<quarnkit::QuarnDocument> quarn_;
    QPointer<quarnkit::QuarnDocument> scanned_;
    std::optional<size_t> scannedPages_; // the page signature scanned
    bool scannedLocked_ = false;
    bool accepted_ = false; // the scanned PDF declared its fields
    bool reading_ = false;
    quint64 readings_ = 0; // the latest reading started; an older one's result is dropped
    QPointer<quarnkit::QuarnDocument> readingDocument_;
    size_t readingPages_ = 0;
    bool focusWhenRead_ = false; // Fill Fields waits for the fields or their values
    bool readingValues_ = false;
    bool valuesAgain_ = false;  // asked for again while a reading was under way
    quint64 valueReadings_ = 0; // the latest; the values of fields since replaced are dropped
    std::vector<Widget> fields_;
    std::optional<int> active_;
    bool leaving_ = false;    // a Tab past the fields, handed to the window
    bool backedOut_ = false;  // the page has the keys from Shift+Tab on the first field
    QPointer<QWidget> heard_; // the page view whose window is heard
    QMetaObject::Connection undoConnection_;
    QPointer<quarnkit::QuarnDocument> followed_; // the document whose undo stack is watched
    bool checkQueued_ = false;
    FormEditor* editor_ = nullptr; // a child of the watcher
};

} // namespace quarn
