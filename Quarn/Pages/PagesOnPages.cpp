#include "Quarn/Pages/PagesOnPages.h"

#include "Quarn/Pages/PagePanels.h"
#include "Quarn/Pages/PagesModel.h"
#include "Quarn/Viewer/QuarnPDFView.h"

namespace quarn {

void showPagesOnPages(PagesModel& pages, QuarnPDFView& view)
{
    const QPointer<QuarnPDFView> page(&view);
    pages.shownPage = [page] { return page ? page->currentPageIndex() : -1; };
    pages.asksFrom = view.window();
    QObject::connect(&pages, &PagesModel::pagesReset, &view, [&view] {
        view.forgetReportedPage();
        view.reportViewChanges();
    });
    QObject::connect(&pages, &PagesModel::pageRequested, &view,
                     [&view](int index, std::optional<platform::PdfPoint> point) { view.goToPage(index, point); });
    QObject::connect(&pages, &PagesModel::failed, &view, [&view](const QString& message, const QString& detail) {
        showPageAlert(view.window(), message, detail);
    });
}

} // namespace quarn
