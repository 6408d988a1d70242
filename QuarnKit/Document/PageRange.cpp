#include "QuarnKit/Document/PageRange.h"

#include <QStringList>

#include <algorithm>
#include <set>

namespace quarnkit {

PageRangeError::PageRangeError(Kind kind, QString token, std::int64_t first, std::int64_t second)
    : std::runtime_error(describe(kind, token, first, second).toStdString()), kind_(kind), token_(std::move(token)),
      first_(first), second_(second)
{}

PageRangeError PageRangeError::unreadable(const QString& token) { return {Kind::unreadable, token, 0, 0}; }
PageRangeError PageRangeError::pastEnd(std::int64_t page, std::int64_t count)
{
    return {Kind::pastEnd, {}, page, count};
}
PageRangeError PageRangeError::backwards(std::int64_t from, std::int64_t to) { return {Kind::backwards, {}, from, to}; }
PageRangeError PageRangeError::empty() { return {Kind::empty, {}, 0, 0}; }
PageRangeError PageRangeError::zero() { return {Kind::zero, {}, 0, 0}; }

QString PageRangeError::message() const { return describe(kind_, token_, first_, second_); }

QString PageRangeError::describe(Kind kind, const QString& token, std::int64_t first, std::int64_t second)
{
    const auto n = [](std::int64_t v) { return QString::number(v); };
    switch (kind) {
    case Kind::unreadable: return QLatin1Char('"') + token + QStringLiteral("\" isn't a page or a range.");
    case Kind::pastEnd:
        return QStringLiteral("Page ") + n(first)
               + (second == 1
                      ? QStringLiteral(" doesn't exist. This PDF has 1 page.")
                      : QStringLiteral(" doesn't exist. This PDF has ") + n(second) + QStringLiteral(" pages."));
    case Kind::backwards:
        return n(first) + QLatin1Char('-') + n(second) + QStringLiteral(" runs backwards. Try ") + n(second)
               + QLatin1Char('-') + n(first) + QLatin1Char('.');
    case Kind::empty: return QStringLiteral("Type the pages to export, like 1-3, 5, 8-.");
    case Kind::zero: return QStringLiteral("Pages start at 1.");
    }
    return {};
}

namespace PageRange {
namespace {

bool isDash(QChar c)
{
    switch (c.unicode()) {
    case 0x2010:
    case 0x2011:
    case 0x2012:
    case 0x2013:
    case 0x2014:
    case 0x2212: return true;
    default: return false;
    }
}

QString withoutSpaces(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text)
        if (!c.isSpace()) out.append(c);
    return out;
}

QStringList words(const QString& text)
{
    QStringList out;
    QString word;
    for (QChar c : text) {
        if (c.isSpace()) {
            if (!word.isEmpty()) out.append(std::exchange(word, {}));
        } else {
            word.append(c);
        }
    }
    if (!word.isEmpty()) out.append(word);
    return out;
}

// Tokens in the order of the text: one per dashed piece, one per word otherwise.
QStringList tokens(QString text)
{
    for (QChar& c : text)
        if (isDash(c)) c = QLatin1Char('-');
    QStringList out;
    QString piece;
    const auto flush = [&] {
        const QString trimmed = piece.trimmed();
        piece.clear();
        if (trimmed.isEmpty()) return;
        if (trimmed.contains(QLatin1Char('-'))) out.append(withoutSpaces(trimmed));
        else out.append(words(trimmed));
    };
    for (QChar c : text) {
        if (c == QLatin1Char(',') || c == QLatin1Char(';')) flush();
        else piece.append(c);
    }
    flush();
    return out;
}

std::int64_t pageNumber(const QString& part, const QString& token, int pageCount)
{
    if (part.isEmpty()) throw PageRangeError::unreadable(token);
    for (QChar c : part)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) throw PageRangeError::unreadable(token);
    bool ok = false;
    const qlonglong value = part.toLongLong(&ok);
    if (!ok) throw PageRangeError::unreadable(token);
    if (value == 0) throw PageRangeError::zero();
    if (value > pageCount) throw PageRangeError::pastEnd(value, pageCount);
    return value;
}

// The one-based first and last page a token names, both included.
std::pair<std::int64_t, std::int64_t> readToken(const QString& token, int pageCount)
{
    const qsizetype dash = token.indexOf(QLatin1Char('-'));
    if (dash < 0) {
        const std::int64_t page = pageNumber(token, token, pageCount);
        return {page, page};
    }
    if (token.indexOf(QLatin1Char('-'), dash + 1) >= 0) throw PageRangeError::unreadable(token);
    const QString lowerPart = token.left(dash);
    const QString upperPart = token.mid(dash + 1);
    const std::int64_t lower = lowerPart.isEmpty() ? 1 : pageNumber(lowerPart, token, pageCount);
    const std::int64_t upper = upperPart.isEmpty() ? pageCount : pageNumber(upperPart, token, pageCount);
    if (lowerPart.isEmpty() && upperPart.isEmpty()) throw PageRangeError::unreadable(token);
    if (upper < lower) throw PageRangeError::backwards(lower, upper);
    return {lower, upper};
}

} // namespace

std::vector<int> parse(const QString& text, int pageCount)
{
    std::vector<std::pair<std::int64_t, std::int64_t>> spans;
    for (const QString& token : tokens(text)) spans.push_back(readToken(token, pageCount));
    if (spans.empty()) throw PageRangeError::empty();
    // Every span lies within 1…pageCount, so a flag per page is the union.
    std::vector<char> chosen(std::size_t(std::max(pageCount, 0)), 0);
    for (const auto& [lower, upper] : spans) std::fill(chosen.begin() + (lower - 1), chosen.begin() + upper, 1);
    std::vector<int> indices;
    for (int i = 0; i < int(chosen.size()); ++i)
        if (chosen[std::size_t(i)]) indices.push_back(i);
    return indices;
}

QString describe(const std::vector<int>& indices)
{
    std::set<int> pages;
    for (int i : indices)
        if (i >= 0) pages.insert(i);
    QStringList runs;
    auto it = pages.begin();
    while (it != pages.end()) {
        const int first = *it;
        int last = first;
        while (++it != pages.end() && *it == last + 1) last = *it;
        runs.append(first == last ? QString::number(first + 1)
                                  : QString::number(first + 1) + QLatin1Char('-') + QString::number(last + 1));
    }
    return runs.join(QStringLiteral(", "));
}

} // namespace PageRange
} // namespace quarnkit
