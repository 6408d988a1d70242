#include "Quarn/Viewer/QuarnPDFView.h"

#include "Quarn/Viewer/PageViewInternal.h"
#include "QuarnKit/Viewer/PageLayout.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

#include <algorithm>
#include <cmath>

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
    connect(dialog, &QDialog::accepted, this, [this, printer] {
        if (!print(*printer)) showErrorAlert(tr("The document could not be printed."));
    });
    dialog->open();
}

bool QuarnPDFView::print(QPrinter& printer)
{
    if (!document_ || document_->isLocked() || pageCount() == 0) return false;
    printer.setFullPage(false);
    printer.setPageMargins(QMarginsF(36, 36, 36, 36), QPageLayout::Point);
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    const double resolution = printer.resolution();
    // Pages go out as images: print resolution, at most 300 dpi (150 into a
    // PDF file, which would otherwise grow huge).
    const double imageDpi = std::min(resolution, printer.outputFormat() == QPrinter::PdfFormat ? 150.0 : 300.0);
    const QRectF area(QPointF(0, 0), printer.pageLayout().paintRectPixels(int(resolution)).size());
    for (int page = 0; page < pageCount(); ++page) {
        if (page > 0 && !printer.newPage()) return false;
        const platform::PdfSize size = layout_->sizes[page];
        if (!(size.width > 0) || !(size.height > 0)) continue;
        // Turn the page when its orientation differs from the paper's.
        const bool turn = (size.width > size.height) != (area.width() > area.height()) &&
                          std::fabs(size.width - size.height) > 1;
        const QSizeF shown = turn ? QSizeF(size.height, size.width) : QSizeF(size.width, size.height);
        const double pixelsPerPoint = resolution / 72;
        const double fit = std::min(area.width() / (shown.width() * pixelsPerPoint),
                                    area.height() / (shown.height() * pixelsPerPoint));
        QImage image;
        try {
            image = document_->render(page, fit * imageDpi / 72);
        } catch (...) {
            return false;
        }
        if (image.isNull()) return false;
        if (turn) image = image.transformed(QTransform().rotate(90));
        const QSizeF target = shown * pixelsPerPoint * fit;
        const QRectF rect(area.center() - QPointF(target.width(), target.height()) / 2, target);
        painter.drawImage(rect, image);
    }
    return painter.end();
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
