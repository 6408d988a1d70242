#include "Quarn/Viewer/TextSelection.h"

#include "Quarn/Viewer/QuarnPDFView.h"
#include "QuarnKit/Markup/PageText.h"
#include "QuarnKit/Shell/Design.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>

#include <algorithm>
#include <limits>
#include <tuple>

namespace quarn {

using platform::PdfPoint;
using platform::PdfRect;
using quarnkit::PageSelection;

namespace {
constexpr int keptTextPages = 24;
} // namespace

// The text of one page, flattened into reading order for hit testing and selection.
struct TextSelection::Char {
    char32_t code = 0;
    platform::PdfQuad quad;
    platform::PdfRect box;
    int line = 0; // running line number on the page
    bool lineEnd = false;
};

struct TextSelection::PageChars {
    std::vector<Char> chars;
};

TextSelection::TextSelection(QuarnPDFView& view) : view_(view) {}

TextSelection::~TextSelection() = default;

// ---------------------------------------------------------------- the text of pages

const TextSelection::PageChars* TextSelection::charsOf(int page) const
{
    for (auto it = pages_.begin(); it != pages_.end(); ++it) {
        if (it->first == page) {
            pages_.splice(pages_.begin(), pages_, it);
            return pages_.front().second.get();
        }
    }
    const quarnkit::QuarnDocument* document = view_.quarnDocument();
    if (!document || page < 0 || page >= document->pageCount() || reading_.count(page)) return nullptr;
    // A page's text can take seconds (a crafted content stream): a render
    // worker reads it, and what waits for it resumes when it comes.
    const quint64 reading = ++readings_;
    reading_[page] = reading;
    auto* self = const_cast<TextSelection*>(this);
    quarnkit::PageText::readLater(
        *document, page, alive_, [self, page, reading](const auto& text) { self->accept(page, reading, *text); },
        workerHook);
    return nullptr;
}

void TextSelection::accept(int page, quint64 reading, const quarnkit::PageTextLayout& text)
{
    const auto asked = reading_.find(page);
    // A page read again since (an edit), or another document: this text is stale.
    if (asked == reading_.end() || asked->second != reading) return;
    reading_.erase(asked);
    auto cache = std::make_unique<PageChars>();
    int line = 0;
    for (const auto& block : text.blocks) {
        for (const auto& textLine : block.lines) {
            for (const auto& c : textLine.chars) cache->chars.push_back({c.code, c.quad, c.quad.bounds(), line, false});
            if (!textLine.chars.empty()) cache->chars.back().lineEnd = true;
            ++line;
        }
    }
    pages_.emplace_front(page, std::move(cache));
    resume();
}

void TextSelection::startGesture()
{
    pressAt_.reset();
    dragTo_.reset();
    wordAt_.reset();
    // Only between gestures: one that spans many pages keeps the text of all.
    while (int(pages_.size()) > keptTextPages) pages_.pop_back();
}

void TextSelection::resume()
{
    if (pressAt_) {
        const auto anchor = charAt(*pressAt_, true);
        if (!anchor && reading_.count(pressAt_->page)) return; // its text is still coming
        anchor_ = anchor;
        pressAt_.reset();
    }
    if (wordAt_) selectWordAt(*wordAt_);
    // A drag over many pages selects again once all their text is in, not at each page.
    if (dragTo_ && reading_.empty()) selectTo(*dragTo_);
}

void TextSelection::pagesRead(std::optional<int> page)
{
    if (page) {
        pages_.remove_if([&](const auto& entry) { return entry.first == *page; });
        reading_.erase(*page);
        resume(); // what waited for the page asks for it again
        return;
    }
    pages_.clear();
    reading_.clear();
    selection_ = {};
    anchor_.reset();
    startGesture();
}

void TextSelection::documentReplaced()
{
    pages_.clear();
    reading_.clear();
    selection_ = {};
    highlights_.clear();
    anchor_.reset();
    startGesture();
}

std::optional<Qt::CursorShape> TextSelection::cursor(QPointF viewportPoint) const
{
    const auto page = view_.placement().pageAt(viewportPoint, false);
    if (!page) return std::nullopt;
    const auto cached =
        std::find_if(pages_.begin(), pages_.end(), [&](const auto& entry) { return entry.first == *page; });
    if (cached == pages_.end()) return std::nullopt;
    const PdfPoint point = view_.placement().convertToPage(viewportPoint, *page);
    const auto& chars = cached->second->chars;
    if (std::any_of(chars.begin(), chars.end(), [&](const Char& c) { return c.box.contains(point); }))
        return Qt::IBeamCursor;
    return std::nullopt;
}

std::optional<TextSelection::PagePoint> TextSelection::pointAt(QPointF viewportPoint, bool nearest) const
{
    if (!view_.quarnDocument()) return std::nullopt;
    const auto page = view_.placement().pageAt(viewportPoint, nearest);
    if (!page) return std::nullopt;
    return PagePoint{*page, view_.placement().convertToPage(viewportPoint, *page)};
}

std::optional<TextSelection::Anchor> TextSelection::charAt(const PagePoint& at, bool nearest) const
{
    const PageChars* text = charsOf(at.page);
    if (!text) return std::nullopt;
    const auto& chars = text->chars;
    if (chars.empty()) return nearest ? std::optional(Anchor{at.page, 0}) : std::nullopt;
    const PdfPoint point = at.point;
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
    return Anchor{at.page, best + (along > 0 ? 1 : 0)};
}

// ---------------------------------------------------------------- selecting

bool TextSelection::selectBetween(const Anchor& from, const Anchor& to)
{
    Anchor a = from, b = to;
    if (std::tie(b.page, b.index) < std::tie(a.page, a.index)) std::swap(a, b);
    start_ = from;
    bool whole = true;
    PageSelection selection;
    QString text;
    for (int page = a.page; page <= b.page; ++page) {
        const PageChars* read = charsOf(page);
        if (!read) {
            whole = false; // selected once its text comes
            continue;
        }
        const auto& chars = read->chars;
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
                piece.quads.push_back({{lineBox.minX(), lineBox.maxY()},
                                       {lineBox.maxX(), lineBox.maxY()},
                                       {lineBox.minX(), lineBox.minY()},
                                       {lineBox.maxX(), lineBox.minY()}});
                lineBox = {};
                if (c.lineEnd && i + 1 < end) text += QLatin1Char('\n');
            }
        }
        if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')) && page < b.page) text += QLatin1Char('\n');
        selection.pieces.push_back(std::move(piece));
    }
    selection.text = text.trimmed().toStdString();
    if (selection == selection_) return whole;
    selection_ = std::move(selection);
    view_.viewport()->update();
    return whole;
}

void TextSelection::selectTo(const PagePoint& end)
{
    // Kept until every page it spans has its text: each that comes selects again.
    dragTo_ = end;
    if (!anchor_) return; // the press's page is still being read
    const auto to = charAt(end, true);
    if (to && selectBetween(*anchor_, *to)) dragTo_.reset();
}

void TextSelection::selectWordAt(const PagePoint& at)
{
    wordAt_.reset();
    const PageChars* read = charsOf(at.page);
    if (!read) {
        wordAt_ = at; // the word is selected once the page's text comes
        return;
    }
    const auto hit = charAt(at, false);
    if (!hit) return;
    const auto& chars = read->chars;
    // The character under the point: the caret sits before or after it.
    int index = std::clamp(hit->index, 0, int(chars.size()) - 1);
    if (index > 0 && !chars[index].box.contains(at.point)) --index;
    const auto isWord = [&](int i) {
        return i >= 0 && i < int(chars.size()) && chars[i].line == chars[index].line
               && QChar::isLetterOrNumber(chars[i].code);
    };
    if (!isWord(index)) return;
    int begin = index, end = index + 1;
    while (isWord(begin - 1)) --begin;
    while (isWord(end)) ++end;
    selectBetween({hit->page, begin}, {hit->page, end});
}

void TextSelection::set(const PageSelection& selection)
{
    // Set from elsewhere: a drag or a word still waiting for text gives way.
    dragTo_.reset();
    wordAt_.reset();
    if (selection == selection_) return;
    selection_ = selection;
    start_.reset();
    view_.viewport()->update();
}

void TextSelection::copy() const
{
    if (selection_.text.empty()) return;
    QApplication::clipboard()->setText(QString::fromStdString(selection_.text));
}

void TextSelection::setHighlights(std::vector<PageHighlight> highlights)
{
    highlights_ = std::move(highlights);
    view_.viewport()->update();
}

// ---------------------------------------------------------------- events

bool TextSelection::mousePress(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return false;
    pressPoint_ = event->position();
    const bool extend = event->modifiers() & Qt::ShiftModifier && !selection_.isEmpty() && start_;
    anchor_.reset();
    selecting_ = false;
    startGesture();
    if (extend) {
        anchor_ = start_;
        if (const auto end = pointAt(event->position(), true)) selectTo(*end);
    } else {
        clear();
        pressAt_ = pointAt(event->position(), true);
        resume();
    }
    event->accept();
    return true;
}

bool TextSelection::mouseDoubleClick(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || view_.tool() != quarnkit::MarkupTool::select) return false;
    if (const auto at = pointAt(event->position(), false)) selectWordAt(*at);
    event->accept();
    return true;
}

bool TextSelection::mouseMove(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton)) return false;
    const bool moved = (event->position() - pressPoint_).manhattanLength() >= QApplication::startDragDistance();
    if ((anchor_ || pressAt_) && (moved || selecting_)) {
        selecting_ = true;
        if (const auto end = pointAt(event->position(), true)) selectTo(*end);
        // Dragging past the edge scrolls on.
        QScrollBar* bar = view_.verticalScrollBar();
        const QRect area = view_.viewport()->rect();
        if (event->position().y() > area.bottom()) bar->setValue(bar->value() + 20);
        else if (event->position().y() < area.top()) bar->setValue(bar->value() - 20);
    }
    event->accept();
    return true;
}

bool TextSelection::mouseRelease(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) selecting_ = false;
    event->accept();
    return true;
}

bool TextSelection::key(QKeyEvent* event)
{
    if (!event->matches(QKeySequence::Copy)) return false;
    copy();
    return true;
}

// ---------------------------------------------------------------- painting

void TextSelection::paint(QPainter& painter)
{
    for (const PageHighlight& highlight : highlights_) paintSelection(painter, highlight.selection, highlight.color);
    QColor selectionColor = quarnkit::Design::accent();
    selectionColor.setAlphaF(0.35f);
    paintSelection(painter, selection_, selectionColor);
}

void TextSelection::paintSelection(QPainter& painter, const PageSelection& selection, const QColor& color) const
{
    if (selection.isEmpty()) return;
    const QRectF area = view_.viewport()->rect();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    for (const PageSelection::Piece& piece : selection.pieces) {
        if (!view_.placement().pageRect(piece.page).intersects(area)) continue;
        QPainterPath path;
        for (const platform::PdfQuad& quad : piece.quads) {
            QPolygonF polygon;
            polygon << view_.placement().convertFromPage(quad.ul, piece.page)
                    << view_.placement().convertFromPage(quad.ur, piece.page)
                    << view_.placement().convertFromPage(quad.lr, piece.page)
                    << view_.placement().convertFromPage(quad.ll, piece.page);
            path.addPolygon(polygon);
            path.closeSubpath();
        }
        painter.drawPath(path);
    }
    painter.restore();
}

} // namespace quarn
