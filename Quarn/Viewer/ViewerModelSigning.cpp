// The viewer model's signing: the signature sheet's presentation and the
// placing of signatures and quick-fill stamps at the centre of the view.
#include "Quarn/Viewer/ViewerModel.h"


#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Markup/MarkupModel.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "QuarnKit/Signatures/QuickFill.h"
#include "QuarnKit/Signatures/SignatureInk.h"

#include <QApplication>
#include <QDate>
#include <QLocale>

namespace quarn {

using platform::PdfPoint;
using quarnkit::Annotation;
using platform::PdfRect;
using quarnkit::Signature;
namespace QuickFill = quarnkit::QuickFill;
namespace SignatureInk = quarnkit::SignatureInk;

void ViewerModel::setSignatureSheet(std::optional<Signature::Kind> kind)
{
    assign(signatureSheet_, kind, &ViewerModel::signatureSheetChanged);
}

void ViewerModel::presentSignatureSheet(Signature::Kind kind)
{
    if (canSign()) setSignatureSheet(kind);
}

void ViewerModel::placeAtCenter(const MarkBuilder& build, const QString& actionName)
{
    QuarnPDFView* view = pdfView_;
    if (!view || !view->quarnDocument()) {
        QApplication::beep();
        return;
    }
    const QPointF center = QRectF(view->viewport()->rect()).center();
    const std::optional<int> page = view->pageAt(center, true);
    const std::optional<PagePoint> at = page ? view->pagePoint(center, *page) : std::nullopt;
    if (!at) {
        QApplication::beep();
        return;
    }
    try {
        const quarnkit::PageGeometry geometry = quarnkit::DocumentPages::geometry(*view->quarnDocument(), at->page);
        const std::optional<Annotation> mark = build(at->point, geometry.cropBox, geometry.rotation);
        if (!mark) {
            // A page too small for it, or a stored signature with nothing to draw.
            view->showErrorAlert(tr("It can't be placed here: the page is too small, or the saved signature has nothing to draw."));
            return;
        }
        MarkupModel::of(*this).chooseTool(quarnkit::MarkupTool::select);
        // Through the page view's mark editor: one undo step, announced by the document.
        if (const std::optional<MarkRef> added = view->markEditor().addMark(at->page, *mark, actionName))
            view->select(added);
    } catch (const std::exception& error) {
        view->showErrorAlert(QString::fromUtf8(error.what()));
    }
}

void ViewerModel::placeSignature(const Signature& signature)
{
    placeAtCenter(
        [&signature](PdfPoint center, const PdfRect& box, int rotation) -> std::optional<Annotation> {
            const auto rect = SignatureInk::placement(signature.placedSize(), center, box, rotation);
            if (!rect) return std::nullopt;
            return SignatureInk::annotation(signature, *rect, rotation, SignatureInk::color);
        },
        quarnkit::title(signature.kind));
}

void ViewerModel::insertDate()
{
    const std::string text = QuickFill::dateString(QDate::currentDate(), QLocale()).toStdString();
    placeAtCenter(
        [&text](PdfPoint center, const PdfRect& box, int rotation) {
            return QuickFill::date(text, center, box, rotation, SignatureInk::color);
        },
        tr("Date"));
}

void ViewerModel::insertCheckmark()
{
    placeAtCenter(
        [](PdfPoint center, const PdfRect& box, int rotation) {
            return QuickFill::checkmark(center, box, rotation, SignatureInk::color);
        },
        tr("Checkmark"));
}

void ViewerModel::insertCross()
{
    placeAtCenter(
        [](PdfPoint center, const PdfRect& box, int rotation) {
            return QuickFill::cross(center, box, rotation, SignatureInk::color);
        },
        tr("Cross"));
}

} // namespace quarn
