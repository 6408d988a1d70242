#include "QuarnKit/Export/MarksSummary.h"

#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "QuarnKit/Markup/Redaction.h"

#include <QColor>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <set>

namespace quarnkit {

namespace {

std::vector<platform::PdfAnnotation> annotationsOf(const platform::PdfDocument& doc, int page)
{
    if (page < 0 || page >= doc.pageCount()) return {};
    try {
        return platform::PdfAnnotations::list(doc, page);
    } catch (const platform::PdfError&) {
        return {};
    }
}

int sumOver(const std::vector<int>& perPage, const std::vector<int>& pages)
{
    int total = 0;
    for (int p : std::set<int>(pages.begin(), pages.end()))
        if (p >= 0 && p < int(perPage.size())) total += perPage[size_t(p)];
    return total;
}

int pagesWithSome(const std::vector<int>& perPage, const std::vector<int>& pages)
{
    int total = 0;
    for (int p : std::set<int>(pages.begin(), pages.end()))
        if (p >= 0 && p < int(perPage.size()) && perPage[size_t(p)] >= 1) ++total;
    return total;
}

bool isTextMarkup(const platform::PdfAnnotation& a)
{
    return a.subtype == "Highlight" || a.subtype == "Underline" || a.subtype == "StrikeOut";
}

std::optional<RGBA> rgba(const std::optional<platform::PdfColor>& c)
{
    if (!c) return std::nullopt;
    return RGBA{c->r, c->g, c->b, 1};
}

QString counted(qsizetype n, const char* noun)
{
    return n == 1 ? QStringLiteral("1 ") + QLatin1String(noun)
                  : QStringLiteral("%1 %2s").arg(n).arg(QLatin1String(noun));
}

// Trims spaces, tabs and the like, but not line ends (there are none left).
QString trimmedLine(const QString& line) { return line.trimmed(); }

} // namespace

// ---------------------------------------------------------------- census

MarkCensus::MarkCensus(const QuarnDocument& document) : MarkCensus(*pdfOf(document)) {}

MarkCensus::MarkCensus(const platform::PdfDocument& doc)
{
    const int count = doc.pageCount();
    for (int p = 0; p < count; ++p) {
        int m = 0, r = 0;
        for (const auto& a : annotationsOf(doc, p)) {
            if (MarkCatalog::kind(a)) ++m;
            if (Redaction::isRedaction(a)) ++r;
        }
        marks.push_back(m);
        redactions.push_back(r);
    }
}

bool MarkCensus::hasMarks() const
{
    return std::any_of(marks.begin(), marks.end(), [](int n) { return n > 0; });
}
bool MarkCensus::hasRedactions() const
{
    return std::any_of(redactions.begin(), redactions.end(), [](int n) { return n > 0; });
}
int MarkCensus::marksIn(const std::vector<int>& pages) const { return sumOver(marks, pages); }
int MarkCensus::redactionsIn(const std::vector<int>& pages) const { return sumOver(redactions, pages); }
int MarkCensus::pagesWithMarksIn(const std::vector<int>& pages) const { return pagesWithSome(marks, pages); }
int MarkCensus::pagesWithRedactionsIn(const std::vector<int>& pages) const { return pagesWithSome(redactions, pages); }

// ---------------------------------------------------------------- summary

namespace MarksSummary {

std::optional<QString> kind(const platform::PdfAnnotation& annotation)
{
    const auto k = MarkCatalog::kind(annotation);
    if (!k) return std::nullopt;
    return title(*k);
}

int count(const platform::PdfDocument& doc, const std::vector<int>& pages)
{
    int total = 0;
    for (int p : pages)
        for (const auto& a : annotationsOf(doc, p))
            if (MarkCatalog::kind(a)) ++total;
    return total;
}

std::vector<SummaryEntry> entries(const platform::PdfDocument& doc, const std::vector<int>& pages)
{
    std::vector<SummaryEntry> out;
    for (int p : std::set<int>(pages.begin(), pages.end())) {
        if (p < 0 || p >= doc.pageCount()) continue;
        std::vector<platform::PdfAnnotation> marks;
        for (auto& a : annotationsOf(doc, p))
            if (MarkCatalog::kind(a)) marks.push_back(std::move(a));
        // Reading order: rows of marks whose tops lie within 2 points, top
        // row first, each row left to right.
        std::stable_sort(marks.begin(), marks.end(), [](const auto& a, const auto& b) {
            if (std::fabs(a.rect.maxY() - b.rect.maxY()) > 2) return a.rect.maxY() > b.rect.maxY();
            return a.rect.minX() < b.rect.minX();
        });
        std::optional<platform::PdfTextPage> text;
        for (const auto& a : marks) {
            SummaryEntry entry;
            entry.page = p;
            entry.kind = title(*MarkCatalog::kind(a));
            const bool redaction = Redaction::isRedaction(a);
            const auto source = a.subtype == "FreeText" && a.fontColor ? a.fontColor : a.color;
            entry.colorName = redaction ? QStringLiteral("Black") : ColorName::describe(rgba(source));
            if (isTextMarkup(a)) {
                if (!text) {
                    try {
                        text = doc.textPage(p);
                    } catch (const platform::PdfError&) {
                        text = platform::PdfTextPage{};
                    }
                }
                entry.excerpt = MarkCatalog::words(a, *text);
            }
            const QString note = QString::fromStdString(a.contents).trimmed();
            if (!redaction && !note.isEmpty()) entry.note = note;
            out.push_back(std::move(entry));
        }
    }
    return out;
}

QString escaped(const QString& text)
{
    static const QString active = QStringLiteral("\\`*_[]<#");
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (active.contains(c)) out += QLatin1Char('\\');
        out += c;
    }
    return out;
}

QString markdown(const platform::PdfDocument& doc, const std::vector<int>& pages, const QString& title)
{
    const std::vector<SummaryEntry> list = entries(doc, pages);
    QStringList lines{QStringLiteral("# Marks in ") + escaped(title), QString()};
    if (list.empty()) {
        lines << QStringLiteral("No marks on these pages.");
    } else {
        std::set<int> distinct;
        for (const auto& e : list) distinct.insert(e.page);
        lines << counted(qsizetype(list.size()), "mark") + QStringLiteral(" on ")
                     + counted(qsizetype(distinct.size()), "page") + QLatin1Char('.');
    }
    for (size_t i = 0; i < list.size(); ++i) {
        const SummaryEntry& e = list[i];
        if (i == 0 || e.page != list[i - 1].page)
            lines << QString() << QStringLiteral("## Page %1").arg(e.page + 1) << QString();
        QString line = QStringLiteral("- **") + e.kind + QStringLiteral("**, ") + e.colorName;
        if (e.excerpt) line += QStringLiteral(": \u201C") + escaped(*e.excerpt) + QStringLiteral("\u201D");
        lines << line;
        if (e.note)
            for (const QString& piece : e.note->split(QLatin1Char('\n'))) {
                const QString trimmed = trimmedLine(piece);
                lines << (trimmed.isEmpty() ? QStringLiteral("  >") : QStringLiteral("  > ") + escaped(trimmed));
            }
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace MarksSummary

// ---------------------------------------------------------------- colour words

namespace ColorName {

QString describe(const std::optional<RGBA>& color)
{
    if (!color) return QStringLiteral("No color");
    const RGBA c{color->r, color->g, color->b, 1};
    std::vector<RGBA> palette(RGBA::swatches.begin(), RGBA::swatches.end());
    palette.push_back(RGBA::red);
    palette.push_back(RGBA::yellow);
    for (const RGBA& named : palette)
        if (c.matchesRGB(named)) return named.name();

    float hue = 0, saturation = 0, brightness = 0;
    QColor::fromRgbF(float(std::clamp(c.r, 0.0, 1.0)), float(std::clamp(c.g, 0.0, 1.0)),
                     float(std::clamp(c.b, 0.0, 1.0)))
        .getHsvF(&hue, &saturation, &brightness);
    if (brightness < 0.18f) return QStringLiteral("Black");
    if (saturation < 0.15f) return brightness > 0.85f ? QStringLiteral("White") : QStringLiteral("Gray");
    const double degrees = std::max(0.0f, hue) * 360.0;
    struct Band {
        double below;
        const char* name;
    };
    static constexpr Band bands[] = {{15, "Red"},   {40, "Orange"}, {70, "Yellow"},  {165, "Green"},
                                     {195, "Teal"}, {255, "Blue"},  {290, "Purple"}, {345, "Pink"}};
    for (const Band& band : bands)
        if (degrees < band.below) return QLatin1String(band.name);
    return QStringLiteral("Red");
}

} // namespace ColorName

} // namespace quarnkit
