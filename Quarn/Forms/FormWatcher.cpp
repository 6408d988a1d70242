#include "Quarn/Forms/FormWatcher.h"
#include "QuarnKit/Shell/DroppableWork.h"
#include "Quarn/Markup/MarkupModel.h"

#include "Quarn/Forms/FormEditor.h"
#include "Quarn/Shell/WindowEvents.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <QApplication>
#include <QFutureWatcher>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace quarn {

namespace FormFields = quarnkit::FormFields;
using quarnkit::MarkupTool;

FormWatcher& FormWatcher::of(ViewerModel& viewer)
{
    if (auto* forms = viewer.findChild<FormWatcher*>(QString(), Qt::FindDirectChildrenOnly)) return *forms;
    return *new FormWatcher(&viewer);
}

FormWatcher::FormWatcher(QObject* parent) : QObject(parent) {}

FormWatcher::~FormWatcher() = default;

QuarnPDFView* FormWatcher::view() const { return model_ ? model_->pdfView() : nullptr; }

// ---------------------------------------------------------------- start and scan

void FormWatcher::start(ViewerModel* model, quarnkit::QuarnDocument* document)
{
    model_ = model;
    quarn_ = document;
    if (!editor_) editor_ = new FormEditor(*this);
    scan();
    followView();
}

void FormWatcher::scan()
{
    if (!model_ || !quarn_) return;
    quarnkit::QuarnDocument* const document = quarn_.data();
    if (!document->pageMapReady()) {
        // A long file's fields are read once its pages are (the first page
        // shows sooner), unless an edit before reads the pages at once.
        connect(quarn_, &quarnkit::QuarnDocument::pageMapBuilt, this, &FormWatcher::scan, Qt::UniqueConnection);
        return;
    }
    const size_t pages = document->pageSignature();
    const bool locked = document->isLocked();
    const bool same = scanned_ == document;
    // A document unlocked after its first scan shows its pages, and so its
    // fields, only now; pages added, removed or moved carry their fields along.
    if (same && scannedPages_ == pages && scannedLocked_ == locked) {
        ++readings_; // a reading under way is of an older state
        reading_ = false;
        return;
    }
    if (reading_ && readingDocument_ == document && readingPages_ == pages) return; // already being read

    // Another PDF (Revert): the text being typed belonged to the old one.
    if (!same && editor_) editor_->cancel();
    const bool wasAccepted = same && accepted_;
    const quint64 reading = ++readings_;
    // Read by a worker, however short the document: the fields and their
    // values come from its pages, which the UI thread does not wait for.
    reading_ = true;
    readingDocument_ = document;
    readingPages_ = pages;
    auto* watcher = new QFutureWatcher<Reading>(this);
    connect(watcher, &QFutureWatcherBase::finished, this,
            [this, watcher, reading, read = QPointer(document), pages, locked] {
                watcher->deleteLater();
                if (reading != readings_) return;
                reading_ = false;
                if (read) apply(read, pages, locked, watcher->result());
            });
    watcher->setFuture(
        QtConcurrent::run(quarnkit::DroppableWork::shared().pool(), FormFields::readingJob(*document, wasAccepted)));
}

void FormWatcher::apply(quarnkit::QuarnDocument* document, size_t pages, bool locked, Reading reading)
{
    const int before = fieldCount();
    ++valueReadings_; // values read of the fields before are dropped
    accepted_ = reading.accepted;
    fields_ = std::move(reading.fields);
    scanned_ = document;
    scannedPages_ = pages;
    scannedLocked_ = locked;
    if (active_
        && std::none_of(fields_.begin(), fields_.end(), [this](const Widget& w) { return w.objectNumber == *active_; }))
        active_.reset();
    if (editor_ && editor_->editingField() && std::none_of(fields_.begin(), fields_.end(), [this](const Widget& w) {
            return w.objectNumber == *editor_->editingField();
        }))
        editor_->cancel();
    if (fieldCount() != before) emit fieldCountChanged(fieldCount());
    if (focusWhenRead_) {
        focusWhenRead_ = false;
        focusOnFirstEmptyField(); // the values have just been read
    }
}

void FormWatcher::followView()
{
    if (editor_ && editor_->view() != view()) editor_->setView(view());
    followUndoStack();
    listenToWindow();
}

void FormWatcher::listenToWindow()
{
    QuarnPDFView* pageView = view();
    if (!pageView || pageView == heard_) return;
    heard_ = pageView;
    WindowEvents::listen(
        *pageView,
        {QEvent::Shortcut, QEvent::Close, QEvent::KeyPress, QEvent::MouseButtonPress, QEvent::MouseButtonDblClick,
         QEvent::MouseButtonRelease, QEvent::FocusIn},
        [self = QPointer(this), owner = QPointer<QWidget>(pageView)](QEvent* event, QObject* receiver) {
            // Through the page view of now only: a replaced one's may linger a while.
            return self && self->heard_ == owner && self->hear(receiver, event);
        });
}

void FormWatcher::followUndoStack()
{
    if (followed_ == quarn_) return;
    disconnect(undoConnection_);
    undoConnection_ = {};
    followed_ = quarn_;
    // Pushing, undoing and redoing all move the index: each may have changed a field.
    if (quarn_)
        undoConnection_ = connect(&quarn_->undoStack(), &QUndoStack::indexChanged, this, &FormWatcher::scheduleCheck);
}

// ---------------------------------------------------------------- events

bool FormWatcher::hear(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Shortcut:
        // A menu command by its keys (Save, Export, Print) sees the text being typed.
        if (editor_ && editor_->editingField() && editor_->editorWidget()->isActiveWindow()) editor_->write();
        return false;
    case QEvent::Close:
        // Closing the window asks about unsaved changes: the typing is one of them.
        if (editor_ && editor_->editingField() && watched == editor_->editorWidget()->window()) editor_->commit();
        return false;
    case QEvent::FocusIn:
        if (watched != view()) backedOut_ = false;
        // Shift+Tab from the control after the page comes back to the last
        // field, as Tab from the last field went on to that control.
        if (watched == view() && static_cast<QFocusEvent*>(event)->reason() == Qt::BacktabFocusReason && !leaving_
            && tabsThroughFields())
            if (const auto last = FormFields::next(std::nullopt, fields_, true))
                // Once the page has taken the keys.
                QTimer::singleShot(0, this, [this, field = last->field] { beginEditing(field); });
        return false;
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease: return handle(watched, event);
    default: return false;
    }
}

bool FormWatcher::handle(QObject* receiver, QEvent* event)
{
    if (fields_.empty() || !model_) return false;
    auto* target = qobject_cast<QWidget*>(receiver);
    QuarnPDFView* pageView = view();
    if (!target || !pageView || target->window() != pageView->window()) return false;
    followView();

    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        const bool chorded = key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        const bool backward = key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier);
        // A consumed Tab changed no value: no check.
        if (tab && !chorded && handleTab(backward)) return true;
        // Typing in the field editor changes the field only when it ends,
        // which the undo stack reports.
        if (editor_ && editor_->ownsWidget(target)) return false;
    } else if (event->type() != QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        backedOut_ = false;
        if (mouse->button() == Qt::LeftButton) {
            const auto field = fieldAt(pageView->viewport()->mapFromGlobal(mouse->globalPosition()));
            active_ = field ? std::optional<int>(field->objectNumber) : std::nullopt;
        }
    }
    scheduleCheck();
    return false;
}

std::optional<FormWatcher::Widget> FormWatcher::fieldAt(QPointF viewportPoint) const
{
    QuarnPDFView* pageView = view();
    if (!pageView || !QRectF(pageView->viewport()->rect()).contains(viewportPoint)) return std::nullopt;
    const auto page = pageView->placement().pageAt(viewportPoint, false);
    if (!page) return std::nullopt;
    const platform::PdfPoint point = pageView->placement().convertToPage(viewportPoint, *page);
    for (const Widget& field : fields_)
        if (field.page == *page && field.rect.contains(point)) return field;
    return std::nullopt;
}

// ---------------------------------------------------------------- Tab

bool FormWatcher::tabsThroughFields() const
{
    const QuarnPDFView* pageView = view();
    return !fields_.empty() && model_ && MarkupModel::of(*model_).tool() == MarkupTool::select && pageView
           && pageView->tool() == MarkupTool::select;
}

bool FormWatcher::handleTab(bool backward)
{
    if (leaving_ || !tabsThroughFields()) return false;
    QuarnPDFView* pageView = view();
    QWidget* focus = QApplication::focusWidget();
    if (!focus) return false;
    bool editing = false;
    if (editor_ && editor_->ownsWidget(focus)) editing = true;
    else if (focus != pageView && focus != pageView->viewport())
        return false; // the find field or another control keeps its Tab
    // The page came to by Shift+Tab from the first field hands it on.
    if (!editing && backward && std::exchange(backedOut_, false)) return false;
    // From the field the keys are on, wherever the list read last puts it.
    std::optional<Widget> current = editing ? editor_->focusedField() : std::nullopt;
    if (!current && active_)
        for (const Widget& field : fields_)
            if (field.objectNumber == *active_) current = field;
    const auto next = FormFields::next(current, fields_, backward);
    if (!next) return false;
    // Past the last field the keys leave the page for the window's other
    // controls, and before the first they come to the page itself: the
    // fields are a stretch of the window's Tab order, not a ring of their own.
    if (editing && next->wrapped) {
        {
            // The page takes the keys before the editor goes, which would
            // hand them to whatever follows it.
            const QScopedValueRollback<bool> leaving(leaving_, true);
            pageView->setFocus(backward ? Qt::BacktabFocusReason : Qt::TabFocusReason);
        }
        editor_->commit();
        active_.reset();
        if (backward) {
            backedOut_ = true;
            return true;
        }
        // The window moves the keys on from the page, as for a Tab there.
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        const QScopedValueRollback<bool> leaving(leaving_, true);
        QApplication::sendEvent(pageView, &tab);
        return true;
    }
    beginEditing(next->field);
    return true;
}

void FormWatcher::beginEditing(const Widget field)
{
    QuarnPDFView* pageView = view();
    if (!model_ || !pageView || !pageView->window() || field.page < 0 || field.page >= pageView->pageCount()) return;
    active_ = field.objectNumber;
    backedOut_ = false;
    const QRectF shown = pageView->placement().convertFromPage(field.rect, field.page);
    const QRectF room = QRectF(pageView->viewport()->rect()).adjusted(8, 24, -8, -24);
    if (!room.contains(shown)) revealField(field);
    if (pageView->tool() == MarkupTool::select && focusOn(field)) return;
    // The field being left is written and compared before the focus moves.
    if (editor_) editor_->commit();
    pageView->setFocus(Qt::TabFocusReason);
    QTimer::singleShot(0, this, [this, field] { click(field, clickAttempts); });
}

bool FormWatcher::focusOn(const Widget& field)
{
    QuarnPDFView* pageView = view();
    if (!editor_ || !pageView) return false;
    // A field scrolled away meanwhile, or covered by another page, is left alone.
    const QPointF centre =
        pageView->placement().convertFromPage(platform::PdfPoint{field.rect.midX(), field.rect.midY()}, field.page);
    if (!QRectF(pageView->viewport()->rect()).contains(centre)
        || pageView->placement().pageAt(centre, false) != field.page)
        return false;
    editor_->focusField(field);
    return true;
}

void FormWatcher::revealField(const Widget& field)
{
    QuarnPDFView* pageView = view();
    if (!pageView) return;
    // The field with some room around it: 24 points at the sides, 48 above.
    pageView->goToPage(field.page, platform::PdfPoint{field.rect.minX() - 24, field.rect.maxY() + 48});
}

void FormWatcher::click(const Widget& field, int attempts)
{
    if (active_ != field.objectNumber) return;
    QuarnPDFView* pageView = view();
    if (!model_ || !pageView || !editor_ || field.page >= pageView->pageCount()) return;
    if (pageView->tool() == MarkupTool::select) {
        focusOn(field);
        return;
    }
    // The caller may just have chosen Select; the view takes the tool a moment later.
    if (attempts >= 1) QTimer::singleShot(clickDelayMs, this, [this, field, attempts] { click(field, attempts - 1); });
}

void FormWatcher::focusFirstEmptyField()
{
    scan();
    if (reading_) {
        focusWhenRead_ = true; // the fields are not all known yet
        return;
    }
    // Which fields are empty is known once their values are read afresh.
    focusWhenRead_ = true;
    readValues();
}

void FormWatcher::focusOnFirstEmptyField()
{
    for (const Widget& field : fields_) {
        if (FormFields::takesText(field) && (!field.value || field.value->empty())) {
            beginEditing(field);
            return;
        }
    }
    if (const auto first = FormFields::next(std::nullopt, fields_, false)) {
        beginEditing(first->field);
        return;
    }
    if (!fields_.empty() && fields_.front().page >= 0) revealField(fields_.front());
}

// ---------------------------------------------------------------- changes

void FormWatcher::scheduleCheck()
{
    if (checkQueued_) return;
    checkQueued_ = true;
    // After the event that asked for it has been handled.
    QMetaObject::invokeMethod(
        this,
        [this] {
            checkQueued_ = false;
            readValues();
        },
        Qt::QueuedConnection);
}

void FormWatcher::readValues()
{
    if (!scanned_ || fields_.empty()) {
        if (focusWhenRead_ && !reading_) {
            focusWhenRead_ = false;
            focusOnFirstEmptyField();
        }
        return;
    }
    if (readingValues_) {
        valuesAgain_ = true; // read once more when the reading under way ends
        return;
    }
    readingValues_ = true;
    const quint64 reading = ++valueReadings_;
    auto* watcher = new QFutureWatcher<std::vector<Widget>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, reading] {
        watcher->deleteLater();
        readingValues_ = false;
        // The fields read again meanwhile (another scan) have their own values.
        if (reading == valueReadings_) {
            fields_ = watcher->result();
            if (editor_) editor_->fieldsRead();
        }
        if (valuesAgain_) {
            valuesAgain_ = false;
            readValues();
            return;
        }
        if (focusWhenRead_ && !reading_) {
            focusWhenRead_ = false;
            focusOnFirstEmptyField();
        }
    });
    watcher->setFuture(QtConcurrent::run(quarnkit::DroppableWork::shared().pool(),
                                         [job = FormFields::valuesJob(*scanned_, fields_), hook = workerHook] {
                                             if (hook) hook();
                                             return job();
                                         }));
}

} // namespace quarn
