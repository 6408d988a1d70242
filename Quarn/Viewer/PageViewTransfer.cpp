#include "Quarn/Viewer/QuarnPDFView.h"

#include "Quarn/Viewer/PageViewInternal.h"
#include "Quarn/Viewer/PrintJob.h"
#include "QuarnKit/Viewer/PageLayout.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QPrintDialog>
#include <QPrinter>


namespace quarn {

using namespace pageview;
using quarnkit::PageDestination;
using quarnkit::PageSelection;

// ---------------------------------------------------------------- drag and drop

std::optional<QString> QuarnPDFView::droppedPdf(const QMimeData* mime) const
{
    if (!mime || !mime->hasUrls()) return std::nullopt;
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile()) continue;
        const QString path = url.toLocalFile();
        if (QFileInfo(path).suffix().toLower() == QLatin1String("pdf")) return path;
    }
    return std::nullopt;
}

void QuarnPDFView::dragEnterEvent(QDragEnterEvent* event)
{
    if (droppedPdf(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void QuarnPDFView::dragMoveEvent(QDragMoveEvent* event)
{
    if (droppedPdf(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void QuarnPDFView::dropEvent(QDropEvent* event)
{
    const auto path = droppedPdf(event->mimeData());
    if (!path) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (onOpenFile) onOpenFile(*path);
    emit fileDropped(*path);
}

// ---------------------------------------------------------------- printing and alerts

void QuarnPDFView::printDocument()
{
    if (!document_ || pageCount() == 0) return;
    auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
    auto* dialog = new QPrintDialog(printer.get(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintPageRange |
                       QAbstractPrintDialog::PrintCurrentPage | QAbstractPrintDialog::PrintCollateCopies |
                       QAbstractPrintDialog::PrintShowPageSize);
    dialog->setMinMax(1, pageCount());
    connect(dialog, &QDialog::accepted, this, [this, printer] { print(*printer); });
    dialog->open();
}

bool QuarnPDFView::print(QPrinter& printer)
{
    if (!document_ || document_->isLocked() || pageCount() == 0) return false;
    const bool started = printing::print(*document_, printer, currentPageIndex(), this, [this](bool ok) {
        if (!ok) showErrorAlert(tr("The document could not be printed."));
    });
    if (!started) showErrorAlert(tr("The document could not be printed."));
    return started;
}

void QuarnPDFView::showErrorAlert(const QString& description)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("ravlen"), tr("ravlen couldn't finish that."),
                                QMessageBox::Ok, this);
    box->setInformativeText(description);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (isVisible()) {
        box->setWindowModality(Qt::WindowModal);
        box->open();
    } else {
        box->setWindowModality(Qt::ApplicationModal);
        box->show();
    }
}

} // namespace quarn
