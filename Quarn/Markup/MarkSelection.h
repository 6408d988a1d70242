#pragma once
// The selected mark of a window: which mark of which document, and the edits
// that act on it (restyle, nudge, restack, duplicate, delete), each one undo
// step of the document (QuarnKit/Markup/MarkEdits.h). The window's markup
// model holds it; the page view's mark editor selects through it and follows
// `changed`. A mark that leaves its document (deleted, its adding undone) is
// no longer selected. Quick repeats of one restyle or nudge fold into one
// step; any other edit of the document, or another selection, ends the run.
#include "Quarn/Markup/MarkRef.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Markup/Annotation.h"
#include "QuarnKit/Markup/EditBurst.h"
#include "QuarnKit/Markup/MarkupTool.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

namespace quarn {

class MarkSelection : public QObject {
    Q_OBJECT

public:
    explicit MarkSelection(QObject* parent = nullptr);

    // The selected mark; none without one, or once its document is gone.
    std::optional<MarkRef> mark() const;
    quarnkit::QuarnDocument* document() const { return document_.data(); }
    // The selected mark's value as it stands now; none when it cannot be read.
    std::optional<quarnkit::Annotation> annotation() const;
    // Selects `mark` of `document`; none, or no document, drops the selection.
    void select(quarnkit::QuarnDocument* document, std::optional<MarkRef> mark);
    void clear() { select(nullptr, std::nullopt); }

    // Edits of the selected mark: false when none is selected or nothing changed.
    // Changes it through one of QuarnKit's Restyle rules; quick repeats of
    // the change named `runKey` fold into one step (none: never folded).
    bool restyle(const std::function<bool(quarnkit::Annotation&, quarnkit::MarkKind)>& change, const char* runKey,
                 const QString& name);
    // Moves it by `offset` page points; quick repeats fold into one "Move".
    bool nudge(platform::PdfPoint offset);
    // "Bring to Front" or "Send to Back".
    bool restack(bool toFront);
    // A copy beside it ("Duplicate"), selected then.
    bool duplicate();
    bool remove(const QString& name);

signals:
    // Another mark, or none, is selected.
    void changed();
    // The document changed while the mark stayed selected: it may look otherwise now.
    void edited();

private:
    void documentChanged();
    std::optional<quarnkit::PageId> pageId() const;
    // Makes an edit of the selection's: the change it announces keeps the run.
    template <typename F>
    auto own(F&& edit);

    QPointer<quarnkit::QuarnDocument> document_;
    std::optional<MarkRef> mark_;
    std::optional<quarnkit::EditBurst> run_;
    bool editing_ = false;
    QMetaObject::Connection watch_;
};

} // namespace quarn
