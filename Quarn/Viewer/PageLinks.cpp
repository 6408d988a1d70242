#include "Quarn/Viewer/PageLinks.h"

#include "Quarn/Viewer/PageTiles.h"
#include "Quarn/Viewer/PageViewInternal.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "QuarnKit/Viewer/LinkSafety.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMouseEvent>

namespace quarn {

using namespace pageview;
using quarnkit::PageDestination;

PageLinks::PageLinks(QuarnPDFView& view) : view_(view)
{
    openExternalUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
}

const std::vector<quarnkit::PageLink>& PageLinks::linksOf(int page, bool load) const
{
    static const std::vector<quarnkit::PageLink> none;
    const quarnkit::QuarnDocument* document = view_.quarnDocument();
    if (!document || page < 0 || page >= view_.pageCount()) return none;
    if (links_.size() != size_t(view_.pageCount())) links_.assign(size_t(view_.pageCount()), std::nullopt);
    if (!links_[page]) {
        // Those a worker read as it drew the page serve a pointer that only hovers.
        if (const auto* read = view_.tiles().linksRead(page)) links_[page] = *read;
    }
    if (!links_[page]) {
        if (!load) return none;
        try {
            links_[page] = quarnkit::DocumentPages::links(*document, page);
        } catch (...) {
            links_[page] = std::vector<quarnkit::PageLink>{};
        }
    }
    return *links_[page];
}

std::optional<quarnkit::PageLink> PageLinks::linkAt(QPointF viewportPoint, bool load) const
{
    const auto page = view_.placement().pageAt(viewportPoint, false);
    if (!page) return std::nullopt;
    const PdfPoint point = view_.placement().convertToPage(viewportPoint, *page);
    for (const quarnkit::PageLink& link : linksOf(*page, load))
        if (link.rect.contains(point)) return link;
    return std::nullopt;
}

void PageLinks::follow(const quarnkit::PageLink& link)
{
    if (link.targetPage) {
        const int page = *link.targetPage;
        const quarnkit::PageGeometry* geometry = view_.placement().geometry(page);
        if (!geometry) return;
        const PageDestination destination = link.targetPoint
                                                ? PageDestination{page, clampInto(*link.targetPoint, geometry->cropBox)}
                                                : quarnkit::PageJump::top(page, *geometry);
        view_.goToDestination(destination);
        return;
    }
    if (link.uri.empty() || link.uri.front() == '#') return;
    const auto url = quarnkit::externalLinkTarget(QUrl(QString::fromStdString(link.uri)));
    if (url && openExternalUrl) openExternalUrl(*url);
}

void PageLinks::pagesRead(std::optional<int> page)
{
    if (page && *page >= 0 && *page < int(links_.size())) links_[*page].reset();
    else if (!page) links_.clear();
}

void PageLinks::documentReplaced()
{
    links_.clear();
    pressed_ = false;
    pressedLink_.reset();
}

std::optional<Qt::CursorShape> PageLinks::cursor(QPointF viewportPoint) const
{
    if (linkAt(viewportPoint, false)) return Qt::PointingHandCursor;
    return std::nullopt;
}

bool PageLinks::mousePress(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return false;
    pressed_ = false;
    pressedLink_.reset();
    if (view_.tool() != quarnkit::MarkupTool::select) return false;
    pressedLink_ = linkAt(event->position(), true);
    if (!pressedLink_) return false;
    pressed_ = true;
    pressPoint_ = event->position();
    event->accept();
    return true;
}

bool PageLinks::mouseMove(QMouseEvent* event)
{
    if (!pressed_ || !(event->buttons() & Qt::LeftButton)) return false;
    // A drag that leaves the link lets go of it.
    if ((event->position() - pressPoint_).manhattanLength() >= QApplication::startDragDistance()) pressedLink_.reset();
    event->accept();
    return true;
}

bool PageLinks::mouseRelease(QMouseEvent* event)
{
    if (!pressed_) return false;
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return true;
    }
    pressed_ = false;
    if (const auto link = std::exchange(pressedLink_, std::nullopt)) follow(*link);
    event->accept();
    return true;
}

} // namespace quarn
