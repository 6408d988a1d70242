#pragma once
// The links of one page view's pages, as one of the view's interactions: a
// click with the Select tool follows the link under it (a page of the
// document, or a safe web address through openExternalUrl), and the pointer
// shows a hand over a link. A page's links are read on the first click on it
// and kept until the page changes; hovering reads nothing.
#include "Quarn/Viewer/PageInteraction.h"
#include "QuarnKit/Document/DocumentPages.h"

#include <QUrl>

#include <functional>
#include <optional>
#include <vector>

namespace quarn {

class QuarnPDFView;

class PageLinks : public PageInteraction {
public:
    explicit PageLinks(QuarnPDFView& view);

    // Opens an external link; the desktop's handler unless replaced.
    std::function<void(const QUrl&)> openExternalUrl;

    bool mousePress(QMouseEvent* event) override;
    bool mouseMove(QMouseEvent* event) override;
    bool mouseRelease(QMouseEvent* event) override;
    std::optional<Qt::CursorShape> cursor(QPointF viewportPoint) const override;
    void pagesRead(std::optional<int> page) override;
    void documentReplaced() override;

private:
    // Links of a page; without `load`, only those already read (else none).
    const std::vector<quarnkit::PageLink>& linksOf(int page, bool load) const;
    std::optional<quarnkit::PageLink> linkAt(QPointF viewportPoint, bool load) const;
    void follow(const quarnkit::PageLink& link);

    QuarnPDFView& view_;
    mutable std::vector<std::optional<std::vector<quarnkit::PageLink>>> links_;
    bool pressed_ = false; // the press in progress began on a link
    std::optional<quarnkit::PageLink> pressedLink_;
    QPointF pressPoint_;
};

} // namespace quarn
