#include "Quarn/Viewer/DocumentActions.h"

#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/DocumentCommand.h"
#include "QuarnKit/Document/HeldDocument.h"
#include "QuarnKit/Document/ShareFolder.h"
#include "QuarnKit/Shell/DroppableWork.h"

#include <QApplication>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

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
    // The document's own answer: a failed undo leaves a clean stack over an edited document.
    return !document->isEdited();
}

bool DocumentActions::makeShareFile(ShareFileDone done, const QString& temporaryRoot)
{
    if (makingShareFile_) return false;
    if (isSavedAndUnchanged()) {
        done({viewer_.filePath(), {}});
        return true;
    }
    makingShareFile_ = true;
    makeCopy(
        [this, done = std::move(done)](const ShareFile& file) {
            makingShareFile_ = false;
            done(file);
        },
        temporaryRoot,
        [baseName = ShareFolder::baseName(viewer_.filePath())](const ShareFolder& folder, const QByteArray& bytes) {
            return folder.writeCopy(bytes, baseName);
        });
    return true;
}

void DocumentActions::makeMailFile(ShareFileDone done, const QString& temporaryRoot)
{
    makeCopy(std::move(done), temporaryRoot,
             [baseName = ShareFolder::baseName(viewer_.filePath())](
                 const ShareFolder& folder, const QByteArray& bytes) { return folder.writeMailCopy(bytes, baseName); });
}

void DocumentActions::makeCopy(ShareFileDone done, const QString& temporaryRoot, WriteCopy write)
{
    const QuarnDocument* document = viewer_.document();
    if (!document) {
        done({{}, tr("ravlen couldn't make a working copy of this PDF.")});
        return;
    }
    // Written out and put on disk by a worker: a long document is never saved on the UI thread.
    auto work = [held = HeldDocument(*document), lossAccepted = document->copyLossAccepted(), hook = shareWorkerHook,
                 write = std::move(write),
                 folder = temporaryRoot.isEmpty() ? ShareFolder() : ShareFolder({QString(), temporaryRoot})] {
        if (hook) hook();
        QByteArray bytes;
        try {
            bytes = held.shareCopy(lossAccepted);
        } catch (const DocumentError& error) {
            if (error.code() == DocumentError::Code::fileWriteCopyShowsLess) return ShareFile{{}, {}, true};
            bytes.clear();
        }
        if (bytes.isEmpty()) return ShareFile{{}, tr("ravlen couldn't make a working copy of this PDF.")};
        try {
            return ShareFile{write(folder, bytes), {}};
        } catch (const ShareError& error) {
            return ShareFile{{}, error.message()};
        }
    };
    auto* watcher = new QFutureWatcher<ShareFile>(this);
    connect(watcher, &QFutureWatcher<ShareFile>::finished, this, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        done(watcher->result());
    });
    watcher->setFuture(QtConcurrent::run(DroppableWork::shared().pool(), std::move(work)));
}

QString DocumentActions::shareName() const
{
    return ShareFolder::baseName(viewer_.filePath()) + QStringLiteral(".pdf");
}

void DocumentActions::acceptCopyLoss()
{
    if (QuarnDocument* document = viewer_.document()) document->acceptCopyLoss();
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
