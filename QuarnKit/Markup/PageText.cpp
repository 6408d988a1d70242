#include "QuarnKit/Markup/PageText.h"

#include "Platform/Utf8.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Viewer/TileRenderer.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThreadPool>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace quarnkit {

using platform::PdfPoint;
using platform::PdfRect;
using platform::PdfTextPage;

namespace {

struct Char {
    char32_t code;
    PdfRect box;
    int line; // running line number over the page
};

std::vector<Char> flatten(const PdfTextPage& text)
{
    std::vector<Char> chars;
    int line = 0;
    for (const auto& block : text.blocks)
        for (const auto& l : block.lines) {
            for (const auto& c : l.chars) chars.push_back({c.code, c.quad.bounds(), line});
            ++line;
        }
    return chars;
}

// Groups chosen characters by their line, in order.
std::vector<SelectedLine> group(const std::vector<Char>& chars, const std::vector<size_t>& chosen)
{
    std::vector<SelectedLine> out;
    int current = -1;
    for (size_t i : chosen) {
        const Char& c = chars[i];
        if (c.line != current) {
            out.push_back({{}, c.box});
            current = c.line;
        } else {
            PdfRect& b = out.back().bounds;
            const double x0 = std::min(b.minX(), c.box.minX()), y0 = std::min(b.minY(), c.box.minY());
            b = {x0, y0, std::max(b.maxX(), c.box.maxX()) - x0, std::max(b.maxY(), c.box.maxY()) - y0};
        }
        platform::appendUtf8(out.back().text, c.code);
    }
    return out;
}

double boxDistance(PdfPoint p, const PdfRect& r)
{
    const double dx = std::max({r.minX() - p.x, 0.0, p.x - r.maxX()});
    const double dy = std::max({r.minY() - p.y, 0.0, p.y - r.maxY()});
    return std::hypot(dx, dy);
}

// The character nearest the point, preferring characters whose line spans the point's height.
std::optional<size_t> nearest(const std::vector<Char>& chars, PdfPoint p)
{
    std::optional<size_t> best;
    double bestScore = std::numeric_limits<double>::infinity();
    for (size_t i = 0; i < chars.size(); ++i) {
        const PdfRect& b = chars[i].box;
        const bool onLine = p.y >= b.minY() && p.y <= b.maxY();
        const double score = onLine ? std::max({b.minX() - p.x, 0.0, p.x - b.maxX()}) : 1e6 + boxDistance(p, b);
        if (score < bestScore) {
            bestScore = score;
            best = i;
        }
    }
    return best;
}

bool isSpace(char32_t c) { return c == ' ' || c == '\t' || c == 0xA0 || c == '\n' || c == '\r'; }

} // namespace

namespace PageText {

void readLater(const QuarnDocument& document, int page, std::weak_ptr<const void> alive, PageTextDone done,
               std::function<void()> hook)
{
    readOnWorker(
        document, page, std::move(alive),
        [done = std::move(done)](PageTextLayout&& read) -> std::function<void()> {
            auto text = std::make_shared<const PageTextLayout>(std::move(read));
            return [done, text] { done(text); };
        },
        std::move(hook));
}

void readOnWorker(const QuarnDocument& document, int page, std::weak_ptr<const void> alive, PageTextWork work,
                  std::function<void()> hook)
{
    TileRenderer::workerPool().start(
        [pdf = pdfOf(document), page, alive = std::move(alive), work = std::move(work), hook = std::move(hook)] {
            if (hook) hook();
            PageTextLayout text;
            try {
                text = pdf->textPage(page);
            } catch (const std::exception&) {
                // A page whose text cannot be read has none.
            }
            std::function<void()> then = work(std::move(text));
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [alive, then = std::move(then)] {
                    if (!alive.expired()) then();
                },
                Qt::QueuedConnection);
        });
}

std::vector<SelectedLine> between(const PdfTextPage& text, PdfPoint from, PdfPoint to)
{
    const auto chars = flatten(text);
    const auto a = nearest(chars, from), b = nearest(chars, to);
    if (!a || !b) return {};
    std::vector<size_t> chosen;
    for (size_t i = std::min(*a, *b); i <= std::max(*a, *b); ++i) chosen.push_back(i);
    return group(chars, chosen);
}

std::vector<SelectedLine> wordAt(const PdfTextPage& text, PdfPoint p)
{
    const auto chars = flatten(text);
    for (size_t i = 0; i < chars.size(); ++i) {
        if (!chars[i].box.contains(p) || isSpace(chars[i].code)) continue;
        size_t first = i, last = i;
        while (first > 0 && chars[first - 1].line == chars[i].line && !isSpace(chars[first - 1].code)) --first;
        while (last + 1 < chars.size() && chars[last + 1].line == chars[i].line && !isSpace(chars[last + 1].code))
            ++last;
        std::vector<size_t> chosen;
        for (size_t k = first; k <= last; ++k) chosen.push_back(k);
        return group(chars, chosen);
    }
    return {};
}

std::vector<SelectedLine> inRect(const PdfTextPage& text, const PdfRect& rect)
{
    const auto chars = flatten(text);
    std::vector<size_t> chosen;
    for (size_t i = 0; i < chars.size(); ++i) {
        const PdfRect& b = chars[i].box;
        if (b.minX() <= rect.maxX() && rect.minX() <= b.maxX() && b.minY() <= rect.maxY() && rect.minY() <= b.maxY()
            && !rect.isEmpty())
            chosen.push_back(i);
    }
    return group(chars, chosen);
}

} // namespace PageText

} // namespace quarnkit
