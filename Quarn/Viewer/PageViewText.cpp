#include "Quarn/Viewer/QuarnPDFView.h"

#include "Quarn/Viewer/PageViewInternal.h"
#include "QuarnKit/Markup/PageText.h"
#include "QuarnKit/Viewer/LinkSafety.h"
#include "QuarnKit/Viewer/PageLayout.h"

#include <QApplication>
#include <QClipboard>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

namespace quarn {

using namespace pageview;
using quarnkit::PageDestination;
using quarnkit::PageSelection;

// ---------------------------------------------------------------- links

const std::vector<quarnkit::PageLink>& QuarnPDFView::linksOf(int page, bool load) const
{
    static const std::vector<quarnkit::PageLink> none;
    if (page < 0 || page >= int(links_.size()) || !document_) return none;
    if (!links_[page]) {
        if (!load) return none;
        try {
            links_[page] = quarnkit::DocumentPages::links(*document_, page);
        } catch (...) {
            links_[page] = std::vector<quarnkit::PageLink>{};
        }
    }
    return *links_[page];
}

std::optional<quarnkit::PageLink> QuarnPDFView::linkAt(QPointF viewportPoint, bool load) const
{
    const auto page = pageAt(viewportPoint, false);
    if (!page) return std::nullopt;
    const PdfPoint point = convertToPage(viewportPoint, *page);
    for (const quarnkit::PageLink& link : linksOf(*page, load))
        if (link.rect.contains(point)) return link;
    return std::nullopt;
}

void QuarnPDFView::followLink(const quarnkit::PageLink& link)
{
    if (link.targetPage) {
        const int page = *link.targetPage;
        if (page < 0 || page >= pageCount()) return;
        const PageDestination destination =
            link.targetPoint ? PageDestination{page, clampInto(*link.targetPoint, geometries_[page].cropBox)}
                             : quarnkit::PageJump::top(page, geometries_[page]);
        jumpTo(destination, true);
        return;
    }
    if (link.uri.empty() || link.uri.front() == '#') return;
    const auto url = quarnkit::externalLinkTarget(QUrl(QString::fromStdString(link.uri)));
    if (url && openExternalUrl) openExternalUrl(*url);
}

// ---------------------------------------------------------------- text selection

const QuarnPDFView::TextCache& QuarnPDFView::textOf(int page) const
{
    auto& pages = texts_->pages;
    for (auto it = pages.begin(); it != pages.end(); ++it) {
        if (it->first == page) {
            pages.splice(pages.begin(), pages, it);
            return *pages.front().second;
        }
    }
    auto cache = std::make_unique<TextCache>();
    if (document_) {
        const quarnkit::PageTextLayout text = quarnkit::PageText::layout(*document_, page);
        int line = 0;
        for (const auto& block : text.blocks) {
            for (const auto& textLine : block.lines) {
                for (const auto& c : textLine.chars) cache->chars.push_back({c.code, c.quad, c.quad.bounds(), line, false});
                if (!textLine.chars.empty()) cache->chars.back().lineEnd = true;
                ++line;
            }
        }
    }
    pages.emplace_front(page, std::move(cache));
    while (int(pages.size()) > keptTextPages) pages.pop_back();
    return *pages.front().second;
}

bool QuarnPDFView::hasCachedTextAt(QPointF viewportPoint) const
{
    const auto page = pageAt(viewportPoint, false);
    if (!page) return false;
    const auto cached = std::find_if(texts_->pages.begin(), texts_->pages.end(),
                                     [&](const auto& entry) { return entry.first == *page; });
    if (cached == texts_->pages.end()) return false;
    const PdfPoint point = convertToPage(viewportPoint, *page);
    return std::any_of(cached->second->chars.begin(), cached->second->chars.end(),
                       [&](const TextCache::Char& c) { return c.box.contains(point); });
}

std::optional<QuarnPDFView::SelectionAnchor> QuarnPDFView::charAt(QPointF viewportPoint, bool nearest) const
{
    if (!document_) return std::nullopt;
    const auto page = pageAt(viewportPoint, nearest);
    if (!page) return std::nullopt;
    const auto& chars = textOf(*page).chars;
    if (chars.empty()) return nearest ? std::optional(SelectionAnchor{*page, 0}) : std::nullopt;
    const PdfPoint point = convertToPage(viewportPoint, *page);
    int best = -1;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (int i = 0; i < int(chars.size()); ++i) {
        const PdfRect& box = chars[i].box;
        const double dx = std::max({box.minX() - point.x, 0.0, point.x - box.maxX()});
        const double dy = std::max({box.minY() - point.y, 0.0, point.y - box.maxY()});
        // Lines count more than columns: a point beside a line belongs to it.
        const double distance = dx + 4 * dy;
        if (distance < bestDistance) bestDistance = distance, best = i;
        if (distance == 0) break;
    }
    if (!nearest && bestDistance > 0) return std::nullopt;
    const PdfRect& box = chars[best].box;
    // The caret goes before or after the character, by which half the point is in
    // (along the line's direction, taken from the quad).
    const auto& q = chars[best].quad;
    const double ax = q.ur.x - q.ul.x, ay = q.ur.y - q.ul.y;
    const double along = (point.x - (box.midX())) * ax + (point.y - box.midY()) * ay;
    return SelectionAnchor{*page, best + (along > 0 ? 1 : 0)};
}

void QuarnPDFView::selectBetween(const SelectionAnchor& from, const SelectionAnchor& to)
{
    SelectionAnchor a = from, b = to;
    if (std::tie(b.page, b.index) < std::tie(a.page, a.index)) std::swap(a, b);
    selectionStart_ = from;
    PageSelection selection;
    QString text;
    for (int page = a.page; page <= b.page; ++page) {
        const auto& chars = textOf(page).chars;
        const int begin = page == a.page ? std::clamp(a.index, 0, int(chars.size())) : 0;
        const int end = page == b.page ? std::clamp(b.index, 0, int(chars.size())) : int(chars.size());
        if (begin >= end) continue;
        PageSelection::Piece piece;
        piece.page = page;
        PdfRect lineBox;
        for (int i = begin; i < end; ++i) {
            const auto& c = chars[i];
            lineBox = lineBox.united(c.box);
            text += QString::fromUcs4(&c.code, 1);
            const bool lastOfLine = c.lineEnd || i + 1 == end || chars[i + 1].line != c.line;
            if (lastOfLine) {
                piece.quads.push_back({{lineBox.minX(), lineBox.maxY()}, {lineBox.maxX(), lineBox.maxY()},
                                       {lineBox.minX(), lineBox.minY()}, {lineBox.maxX(), lineBox.minY()}});
                lineBox = {};
                if (c.lineEnd && i + 1 < end) text += QLatin1Char('\n');
            }
        }
        if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')) && page < b.page) text += QLatin1Char('\n');
        selection.pieces.push_back(std::move(piece));
    }
    selection.text = text.trimmed().toStdString();
    if (selection == selection_) return;
    selection_ = std::move(selection);
    viewport()->update();
    emit selectionChanged();
}

void QuarnPDFView::selectWordAt(QPointF viewportPoint)
{
    const auto hit = charAt(viewportPoint, false);
    if (!hit) return;
    const auto& chars = textOf(hit->page).chars;
    // The character under the point: the caret sits before or after it.
    int index = std::clamp(hit->index, 0, int(chars.size()) - 1);
    if (index > 0 && !chars[index].box.contains(convertToPage(viewportPoint, hit->page))) --index;
    const auto isWord = [&](int i) {
        return i >= 0 && i < int(chars.size()) && chars[i].line == chars[index].line &&
               QChar::isLetterOrNumber(chars[i].code);
    };
    if (!isWord(index)) return;
    int begin = index, end = index + 1;
    while (isWord(begin - 1)) --begin;
    while (isWord(end)) ++end;
    selectBetween({hit->page, begin}, {hit->page, end});
}

void QuarnPDFView::setCurrentSelection(const PageSelection& selection)
{
    if (selection == selection_) return;
    selection_ = selection;
    selectionStart_.reset();
    viewport()->update();
    emit selectionChanged();
}

void QuarnPDFView::clearSelection() { setCurrentSelection({}); }

void QuarnPDFView::copy()
{
    if (selection_.text.empty()) return;
    QApplication::clipboard()->setText(QString::fromStdString(selection_.text));
}

void QuarnPDFView::setHighlightedSelections(std::vector<Highlight> highlights)
{
    highlights_ = std::move(highlights);
    viewport()->update();
}

} // namespace quarn
