// The viewer model's actions on the document as a whole: the export sheet,
// the document-info panel, metadata edits with undo, and sharing.
#include "Quarn/Viewer/ViewerModel.h"

#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/ShareMenu.h"
#include "QuarnKit/Document/DocumentCommand.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace quarn {

using namespace quarnkit;

namespace {

// The failure of a share: a sheet on the window when there is one, else an
// application-modal alert. Neither blocks the caller.
void showShareFailure(QWidget* window, const QString& description)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QObject::tr("ravlen couldn't share this PDF."), QString(),
                                QMessageBox::Ok, window);
    box->setInformativeText(description);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (window)
        box->setWindowModality(Qt::WindowModal);
    else
        box->setWindowModality(Qt::ApplicationModal);
    box->open();
}

} // namespace

bool ViewerModel::documentActionsAvailable() const
{
    return document_ && !document_->isLocked() && document_->pageCount() >= 1;
}

void ViewerModel::presentExport(std::optional<quarnkit::ExportFormat> preset)
{
    if (!documentActionsAvailable()) {
        QApplication::beep();
        return;
    }
    exportPreset_ = preset;
    setExportPresented(true);
}

void ViewerModel::setInfoPresented(bool presented)
{
    assign(infoPresented_, presented, &ViewerModel::infoPresentedChanged);
}

void ViewerModel::toggleInfo()
{
    if (!documentActionsAvailable()) {
        QApplication::beep();
        return;
    }
    setInfoPresented(!infoPresented_);
}

// ---------------------------------------------------------------- metadata

void ViewerModel::updateMetadata(const DocumentMetadata& metadata)
{
    if (!document_ || document_->isLocked()) return;
    const DocumentAttributes current = readDocumentAttributes(*document_->pdf());
    // Compared after normalising, so that spaces or separators alone never
    // make an undo step.
    if (DocumentMetadata(current) == DocumentMetadata(metadata.applied())) return;
    setDocumentAttributes(metadata.applied(current));
}

void ViewerModel::setDocumentAttributes(const DocumentAttributes& attributes)
{
    if (!document_ || document_->isLocked()) return;
    // The push runs redo(): written and noted once.
    document_->undoStack().push(
        new DocumentInfoCommand(*document_, readDocumentAttributes(*document_->pdf()), attributes));
}

// ---------------------------------------------------------------- sharing

bool ViewerModel::isSavedAndUnchanged() const
{
    if (filePath_.isEmpty() || !QFileInfo(filePath_).isFile() || !document_) return false;
    return document_->undoStack().isClean();
}

QString ViewerModel::makeShareFile(const QString& temporaryRoot) const
{
    if (isSavedAndUnchanged()) return filePath_;
    QByteArray bytes;
    try {
        if (document_) bytes = document_->snapshot();
    } catch (const DocumentError&) {
        bytes.clear();
    }
    if (bytes.isEmpty()) throw ShareError(tr("ravlen couldn't make a working copy of this PDF."));
    const ShareFolder folder = temporaryRoot.isEmpty() ? ShareFolder() : ShareFolder(temporaryRoot);
    return folder.writeCopy(bytes, ShareFolder::baseName(filePath_));
}

void ViewerModel::shareCopy()
{
    if (!documentActionsAvailable()) {
        QApplication::beep();
        return;
    }
    QWidget* window = pdfView_ ? pdfView_->window() : nullptr;
    QString file;
    try {
        file = makeShareFile();
    } catch (const ShareError& error) {
        showShareFailure(window, error.message());
        return;
    }

    // Under the Share button, else under the middle of the page view.
    QPoint at;
    QWidget* owner = nullptr;
    if (shareAnchor_ && shareAnchor_->isVisible()) {
        owner = shareAnchor_;
        at = shareAnchor_->mapToGlobal(QPoint(0, shareAnchor_->height()));
    } else if (pdfView_) {
        owner = pdfView_;
        at = pdfView_->mapToGlobal(QPoint(pdfView_->width() / 2, pdfView_->height() + 2));
    } else {
        return;
    }
    auto* menu = new ShareMenu(file, owner);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QPointer<QWidget> sheetOn(window);
    connect(menu, &ShareMenu::failed, this, [sheetOn](const QString& description) {
        showShareFailure(sheetOn, description);
    });
    menu->popup(at);
}

} // namespace quarn
