#include "Quarn/Signatures/SigningModel.h"

#include "Quarn/Markup/MarkupModel.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/DocumentPages.h"
#include "QuarnKit/Markup/MarkEdits.h"
#include "QuarnKit/Signatures/QuickFill.h"
#include "QuarnKit/Signatures/SignatureInk.h"

#include <QApplication>
#include <QDate>
#include <QLocale>

namespace quarn {

using platform::PdfPoint;
using platform::PdfRect;
using quarnkit::Annotation;
using quarnkit::Signature;
namespace QuickFill = quarnkit::QuickFill;
namespace SignatureInk = quarnkit::SignatureInk;

SigningModel& SigningModel::of(ViewerModel& viewer)
{
    if (auto* signing = viewer.findChild<SigningModel*>(QString(), Qt::FindDirectChildrenOnly)) return *signing;
    return *new SigningModel(viewer);
}

SigningModel::SigningModel(ViewerModel& viewer) : QObject(&viewer), viewer_(viewer) {}

bool SigningModel::canSign() const { return pageCentre && viewer_.document() && viewer_.pageCount() > 0; }

void SigningModel::setSignatureSheet(std::optional<Signature::Kind> kind)
{
    if (signatureSheet_ == kind) return;
    signatureSheet_ = kind;
    emit signatureSheetChanged(kind);
}

void SigningModel::presentSignatureSheet(Signature::Kind kind)
{
    if (canSign()) setSignatureSheet(kind);
}

void SigningModel::placeAtCentre(const MarkBuilder& build, const QString& actionName, Placing placing)
{
    quarnkit::QuarnDocument* document = viewer_.document();
    const std::optional<PagePoint> at = pageCentre && document ? pageCentre() : std::nullopt;
    if (!at) {
        QApplication::beep();
        return;
    }
    try {
        const quarnkit::PageId page = quarnkit::MarkEdits::pageTakingMarks(*document, at->page);
        const quarnkit::PageGeometry geometry = quarnkit::DocumentPages::geometry(*document, at->page);
        const std::optional<Annotation> mark = build(at->point, geometry.cropBox, geometry.rotation);
        if (!mark) {
            // A page too small for it, or a stored signature with nothing to draw.
            emit failed(
                tr("It can't be placed here: the page is too small, or the saved signature has nothing to draw."));
            return;
        }
        MarkupModel& markup = MarkupModel::of(viewer_);
        markup.chooseTool(quarnkit::MarkupTool::select);
        // One undo step, announced by the document.
        const std::optional<int> added = placing == Placing::stamp
                                             ? quarnkit::MarkEdits::addStamp(*document, page, *mark, actionName)
                                             : quarnkit::MarkEdits::add(*document, page, *mark, actionName);
        if (added) markup.select(MarkRef{at->page, *added});
    } catch (const std::exception& error) {
        emit failed(QString::fromUtf8(error.what()));
    }
}

void SigningModel::placeSignature(const Signature& signature)
{
    placeAtCentre(
        [&signature](PdfPoint centre, const PdfRect& box, int rotation) -> std::optional<Annotation> {
            const auto rect = SignatureInk::placement(signature.placedSize(), centre, box, rotation);
            if (!rect) return std::nullopt;
            return SignatureInk::annotation(signature, *rect, rotation, SignatureInk::color);
        },
        quarnkit::title(signature.kind), Placing::asBuilt);
}

void SigningModel::insertDate()
{
    const std::string text = QuickFill::dateString(QDate::currentDate(), QLocale()).toStdString();
    placeAtCentre([&text](PdfPoint centre, const PdfRect& box,
                          int rotation) { return QuickFill::date(text, centre, box, rotation, SignatureInk::color); },
                  tr("Date"), Placing::stamp);
}

void SigningModel::insertCheckmark()
{
    placeAtCentre([](PdfPoint centre, const PdfRect& box,
                     int rotation) { return QuickFill::checkmark(centre, box, rotation, SignatureInk::color); },
                  tr("Checkmark"), Placing::stamp);
}

void SigningModel::insertCross()
{
    placeAtCentre([](PdfPoint centre, const PdfRect& box,
                     int rotation) { return QuickFill::cross(centre, box, rotation, SignatureInk::color); },
                  tr("Cross"), Placing::stamp);
}

} // namespace quarn
