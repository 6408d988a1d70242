#include "Quarn/Signatures/SigningOnPages.h"

#include "Quarn/Signatures/SigningModel.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Design/ErrorAlert.h"

namespace quarn {

void showSigningOnPages(SigningModel& signing, QuarnPDFView& view)
{
    const QPointer<QuarnPDFView> page(&view);
    signing.pageCentre = [page]() -> std::optional<PagePoint> {
        if (!page || !page->quarnDocument()) return std::nullopt;
        const QPointF centre = QRectF(page->viewport()->rect()).center();
        const std::optional<int> index = page->placement().pageAt(centre, true);
        return index ? page->placement().pagePoint(centre, *index) : std::nullopt;
    };
    QObject::connect(&signing, &SigningModel::failed, &view,
                     [&view](const QString& description) { showErrorAlert(&view, description); });
}

} // namespace quarn
