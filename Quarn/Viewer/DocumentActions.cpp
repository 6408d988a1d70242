#include "Quarn/Viewer/DocumentActions.h"

#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/DocumentCommand.h"
#include "QuarnKit/Document/ShareFolder.h"

#include <QApplication>
#include <QFileInfo>

namespace quarn {

using namespace quarnkit;

DocumentActions& DocumentActions::of(ViewerModel& viewer)
{
    if (auto* actions = viewer.findChild<DocumentActions*>(QString(), Qt::FindDirectChildrenOnly)) return *actions;
    return *new DocumentActions(viewer);
}

DocumentActions::DocumentActions(ViewerModel& viewer) : QObject(&viewer), viewer_(viewer) {}

bool DocumentActions::available() const
{
    const QuarnDocument* document = viewer_.document();
    return document && !document->isLocked() && document->pageCount() >= 1;
}

void DocumentActions::setExportPresented(bool presented)
{
    if (presented == exportPresented_) return;
    exportPresented_ = presented;
    emit exportPresentedChanged(presented);
    emit changed();
}

void DocumentActions::presentExport(std::optional<ExportFormat> preset)
{
    if (!available()) {
        QApplication::beep();
        return;
    }
    exportPreset_ = preset;
    setExportPresented(true);
}

void DocumentActions::setInfoPresented(bool presented)
{
    if (presented == infoPresented_) return;
    infoPresented_ = presented;
    emit infoPresentedChanged(presented);
    emit changed();
}

void DocumentActions::toggleInfo()
{
    if (!available()) {
        QApplication::beep();
        return;
    }
    setInfoPresented(!infoPresented_);
}

// ---------------------------------------------------------------- metadata

void DocumentActions::updateMetadata(const DocumentMetadata& metadata)
{
    QuarnDocument* document = viewer_.document();
    if (!document || document->isLocked()) return;
    const DocumentAttributes current = readDocumentAttributes(*document);
    // Compared after normalising, so that spaces or separators alone never
    // make an undo step.
    if (DocumentMetadata(current) == DocumentMetadata(metadata.applied())) return;
    setDocumentAttributes(metadata.applied(current));
}

void DocumentActions::setDocumentAttributes(const DocumentAttributes& attributes)
{
    QuarnDocument* document = viewer_.document();
    if (!document || document->isLocked()) return;
    // The push runs redo(): written and noted once.
    try {
        DocumentCommand::push(new DocumentInfoCommand(*document, readDocumentAttributes(*document), attributes));
    } catch (const std::exception&) {
        // A document that no longer takes the change keeps what it has, and records no step.
    }
}

// ---------------------------------------------------------------- sharing

bool DocumentActions::isSavedAndUnchanged() const
{
    const QString& path = viewer_.filePath();
    const QuarnDocument* document = viewer_.document();
    if (path.isEmpty() || !QFileInfo(path).isFile() || !document) return false;
    return document->undoStack().isClean();
}

QString DocumentActions::makeShareFile(const QString& temporaryRoot) const
{
    if (isSavedAndUnchanged()) return viewer_.filePath();
    QByteArray bytes;
    try {
        if (const QuarnDocument* document = viewer_.document()) bytes = document->snapshot();
    } catch (const DocumentError&) {
        bytes.clear();
    }
    if (bytes.isEmpty()) throw ShareError(tr("ravlen couldn't make a working copy of this PDF."));
    const ShareFolder folder = temporaryRoot.isEmpty() ? ShareFolder() : ShareFolder({QString(), temporaryRoot});
    return folder.writeCopy(bytes, ShareFolder::baseName(viewer_.filePath()));
}

void DocumentActions::shareCopy()
{
    if (!available()) {
        QApplication::beep();
        return;
    }
    emit shareRequested();
}

} // namespace quarn
