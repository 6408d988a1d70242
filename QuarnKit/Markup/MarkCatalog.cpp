#include "QuarnKit/Markup/MarkCatalog.h"

#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/PageText.h"
#include "QuarnKit/Markup/Redaction.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace quarnkit {

using AnnotationFactory::matches;
using platform::PdfRect;

namespace MarkCatalog {

namespace {

constexpr int snippetLength = 240;

RGBA opaque(const std::optional<platform::PdfColor>& c, const RGBA& fallback)
{
    return c ? RGBA{c->r, c->g, c->b, 1} : fallback;
}

bool isTextMarkup(MarkKind k)
{
    return k == MarkKind::highlight || k == MarkKind::underline || k == MarkKind::strikethrough;
}

QString snippetFor(const PdfAnnotation& a, MarkKind k, const platform::PdfTextPage* text)
{
    if (isTextMarkup(k) && text)
        if (const auto w = words(a, *text)) return w->left(snippetLength);
    const QString contents = collapsed(QString::fromStdString(a.contents));
    if (!contents.isEmpty()) return contents.left(snippetLength);
    return title(k);
}

} // namespace

QString collapsed(const QString& text)
{
    // QChar::isSpace covers the line and paragraph separators and NEL too.
    QStringList parts;
    QString current;
    for (QChar c : text) {
        // A glyph the PDF maps to no character comes out as U+FFFD: it shows
        // as a box or "�" and says nothing, so it is left out.
        if (c == QChar::ReplacementCharacter) continue;
        if (c.isSpace()) {
            if (!current.isEmpty()) parts.push_back(current);
            current.clear();
        } else current += c;
    }
    if (!current.isEmpty()) parts.push_back(current);
    return parts.join(QLatin1Char(' '));
}

std::optional<MarkKind> kind(const PdfAnnotation& a)
{
    if (Redaction::isRedaction(a)) return MarkKind::redaction;
    if (matches(a, "Ink")) return MarkKind::drawing;
    if (matches(a, "Highlight")) return MarkKind::highlight;
    if (matches(a, "Underline")) return MarkKind::underline;
    if (matches(a, "StrikeOut")) return MarkKind::strikethrough;
    if (matches(a, "Square")) return MarkKind::rectangle;
    if (matches(a, "Circle")) return MarkKind::ellipse;
    if (matches(a, "FreeText")) return MarkKind::text;
    if (matches(a, "Text")) return MarkKind::note;
    if (matches(a, "Line")) {
        const bool ends =
            (a.endEnding != "None" && !a.endEnding.empty()) || (a.startEnding != "None" && !a.startEnding.empty());
        return ends ? MarkKind::arrow : MarkKind::line;
    }
    return std::nullopt;
}

std::optional<MarkStyle> style(const PdfAnnotation& a)
{
    const auto k = kind(a);
    if (!k) return std::nullopt;
    MarkStyle s;
    s.kind = *k;
    s.filled = a.interiorColor && a.opacity * a.interiorOpacity > 0.01;
    s.color = opaque(a.color, RGBA::ink);
    if (*k == MarkKind::text) {
        if (a.fontColor) s.color = opaque(a.fontColor, s.color);
        if (a.interiorColor && s.color.isNearWhite()) s.color = RGBA::white;
    }
    s.stroke = a.borderWidth.value_or(1.0);
    s.textSize = a.fontSize > 0 ? a.fontSize : 12.0;
    s.font = a.fontName.empty() ? TextFont::sans : textFontOf(a.fontName);
    s.head = *k == MarkKind::arrow;
    return s;
}

std::optional<QString> words(const PdfAnnotation& a, const platform::PdfTextPage& text)
{
    std::vector<PdfRect> rects;
    for (const auto& q : a.quads) {
        PdfRect r = q.bounds();
        // Some writers keep quads relative to the annotation's box.
        if (r.maxX() <= a.rect.width + 2 && r.maxY() <= a.rect.height + 2) {
            r.x += a.rect.x;
            r.y += a.rect.y;
        }
        rects.push_back(r);
    }
    if (rects.empty()) rects.push_back(a.rect);
    QStringList parts;
    for (const auto& r : rects) {
        const PdfRect inner{r.x + 1, r.y + 0.3 * r.height, r.width - 2, r.height * 0.4};
        for (const auto& line : PageText::inRect(text, inner)) parts.push_back(QString::fromStdString(line.text));
    }
    const QString joined = collapsed(parts.join(QLatin1Char(' ')));
    if (joined.isEmpty()) return std::nullopt;
    return joined;
}

std::vector<MarkEntry> entries(const QuarnDocument& document, int pageIndex)
{
    return entries(*pdfOf(document), pageIndex);
}

std::vector<MarkEntry> entries(const platform::PdfDocument& doc, int pageIndex)
{
    std::vector<MarkEntry> out;
    std::optional<platform::PdfTextPage> text;
    for (auto& a : platform::PdfAnnotations::list(doc, pageIndex)) {
        const auto k = kind(a);
        if (!k) continue;
        if (isTextMarkup(*k) && !text) {
            try {
                text = doc.textPage(pageIndex);
            } catch (const platform::PdfError&) {
                text = platform::PdfTextPage{};
            }
        }
        MarkEntry e;
        e.pageIndex = pageIndex;
        e.kind = *k;
        e.snippet = snippetFor(a, *k, text ? &*text : nullptr);
        const RGBA fallback{0.16, 0.15, 0.14, 1};
        e.color = *k == MarkKind::text && a.fontColor ? opaque(a.fontColor, fallback) : opaque(a.color, fallback);
        e.annotation = std::move(a);
        out.push_back(std::move(e));
    }
    // Reading order: rows of 4 points from the top, then from the left.
    std::stable_sort(out.begin(), out.end(), [](const MarkEntry& l, const MarkEntry& r) {
        const double rowL = std::round(l.annotation.rect.maxY() / 4), rowR = std::round(r.annotation.rect.maxY() / 4);
        if (rowL != rowR) return rowL > rowR;
        return l.annotation.rect.minX() < r.annotation.rect.minX();
    });
    return out;
}

std::vector<MarkEntry> entries(const platform::PdfDocument& doc)
{
    std::vector<MarkEntry> out;
    for (int p = 0; p < doc.pageCount(); ++p) {
        try {
            auto page = entries(doc, p);
            std::move(page.begin(), page.end(), std::back_inserter(out));
        } catch (const platform::PdfError&) {}
    }
    return out;
}

std::function<Catalog()> readingJob(const QuarnDocument& document)
{
    return [pdf = pdfOf(document)] {
        Catalog catalog;
        catalog.pages = pdf->pageCount();
        catalog.groups = groups(*pdf);
        return catalog;
    };
}

std::vector<MarkGroup> groups(const platform::PdfDocument& doc)
{
    std::vector<MarkGroup> out;
    for (int p = 0; p < doc.pageCount(); ++p) {
        try {
            auto page = entries(doc, p);
            if (!page.empty()) out.push_back({p, std::move(page)});
        } catch (const platform::PdfError&) {}
    }
    return out;
}

} // namespace MarkCatalog

} // namespace quarnkit
