#include "QuarnKit/History/LibraryTexts.h"

#include <QRegularExpression>
#include <QStringList>
#include <QTextBoundaryFinder>

#include <array>
#include <cmath>
#include <set>

namespace quarnkit {

namespace DocumentTitle {

namespace {

const std::set<QString>& genericTitles()
{
    static const std::set<QString> titles{"untitled",
                                          "untitled document",
                                          "document",
                                          "title",
                                          "no title",
                                          "notitle",
                                          "none",
                                          "null",
                                          "unknown",
                                          "blank",
                                          "new document",
                                          "powerpoint presentation",
                                          "presentation",
                                          "microsoft word",
                                          "microsoft powerpoint",
                                          "adobe acrobat",
                                          "pdf",
                                          "print",
                                          "scan",
                                          "scanned document",
                                          "doc",
                                          "file",
                                          "slide",
                                          "page",
                                          "default",
                                          "test"};
    return titles;
}

const std::set<QString>& fileExtensions()
{
    static const std::set<QString> extensions{
        "pdf", "doc",  "docx", "dot",  "dotx", "ppt",  "pptx",  "pps", "ppsx",    "xls",  "xlsx",
        "csv", "txt",  "rtf",  "odt",  "odp",  "ods",  "pages", "key", "numbers", "indd", "ai",
        "psd", "eps",  "ps",   "tex",  "dvi",  "html", "htm",   "md",  "qxd",     "qxp",  "pub",
        "vsd", "vsdx", "jpg",  "jpeg", "png",  "tif",  "tiff",  "gif", "heic",    "bmp",  "cdr"};
    return extensions;
}

qsizetype characterCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0) ++count;
    return count;
}

bool hasLetterOrDigit(const QString& text)
{
    for (const char32_t c : text.toUcs4())
        if (QChar::isLetter(c) || QChar::category(c) == QChar::Number_DecimalDigit) return true;
    return false;
}

QString withoutExtension(const QString& name)
{
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > slash + 1 ? name.left(dot) : name;
}

} // namespace

std::optional<QString> sensible(const std::optional<QString>& raw, const std::optional<QString>& fileName)
{
    if (!raw) return std::nullopt;
    static const QRegularExpression space(QStringLiteral("\\s+"), QRegularExpression::UseUnicodePropertiesOption);
    QString cleaned = raw->split(space, Qt::SkipEmptyParts).join(QLatin1Char(' '));
    const auto trimmable = [](QChar c) { return c == QChar(0) || c == QChar(0xFEFF); };
    while (!cleaned.isEmpty() && trimmable(cleaned.front())) cleaned.remove(0, 1);
    while (!cleaned.isEmpty() && trimmable(cleaned.back())) cleaned.chop(1);

    const qsizetype length = characterCount(cleaned);
    if (length < 2 || length > 200 || !hasLetterOrDigit(cleaned)) return std::nullopt;
    const QString lower = cleaned.toLower();
    if (genericTitles().count(lower)) return std::nullopt;
    static const QRegularExpression numbered(
        QStringLiteral("^(document|doc|presentation|book|untitled|slide|page|scan|image|img)[ _-]?\\d+$"));
    if (numbered.match(lower).hasMatch()) return std::nullopt;
    if (const qsizetype dot = lower.lastIndexOf(QLatin1Char('.'));
        dot > 0 && fileExtensions().count(lower.mid(dot + 1)))
        return std::nullopt;
    if (lower.startsWith(QLatin1Char('/')) || lower.startsWith(QLatin1String("~/"))) return std::nullopt;
    static const QRegularExpression windowsPath(QStringLiteral("^[a-z]:\\\\"));
    if (windowsPath.match(lower).hasMatch()) return std::nullopt;
    if (fileName && lower == withoutExtension(*fileName).toLower()) return std::nullopt;
    return cleaned;
}

} // namespace DocumentTitle

namespace FolderLabel {

namespace {

// "/run/user/1000/gvfs/": where GNOME mounts network places and online accounts.
qsizetype networkMountPrefix(const QString& path)
{
    static const QRegularExpression mount(QStringLiteral("^/run/user/\\d+/gvfs/"));
    const QRegularExpressionMatch match = mount.match(path);
    return match.hasMatch() ? match.capturedLength() : -1;
}

} // namespace

QString display(const QString& pathGiven, const QString& homeGiven)
{
    QString path = pathGiven;
    QString home = homeGiven;
    if (path.endsWith(QLatin1Char('/')) && path.size() >= 2) path.chop(1);
    if (home.endsWith(QLatin1Char('/'))) home.chop(1);

    if (const qsizetype prefix = networkMountPrefix(path); prefix >= 0) {
        QStringList parts = path.mid(prefix).split(QLatin1Char('/'), Qt::SkipEmptyParts);
        // "google-drive:host=gmail.com,user=ann": the service, without the account.
        if (!parts.isEmpty()) {
            const QStringList service = parts.front().split(QLatin1Char(':'), Qt::SkipEmptyParts);
            if (!service.isEmpty()) parts.front() = service.front();
        }
        return parts.join(QLatin1Char('/'));
    }
    if (!home.isEmpty()) {
        if (path == home) return QStringLiteral("~");
        if (path.startsWith(home + QLatin1Char('/'))) return QLatin1Char('~') + path.mid(home.size());
    }
    return path;
}

} // namespace FolderLabel

namespace LibraryFormat {

QString number(std::int64_t n, const QLocale& locale)
{
    const QString text = locale.toString(qlonglong(n));
    return text.isEmpty() ? QString::number(n) : text;
}

QString pdfCount(std::int64_t count, const QLocale& locale)
{
    return count == 1 ? QStringLiteral("1 PDF") : number(count, locale) + QStringLiteral(" PDFs");
}

QString size(std::int64_t bytes, const QLocale& locale)
{
    if (std::llabs(bytes) < 1000)
        return QStringLiteral("%1 %2").arg(bytes).arg(std::llabs(bytes) == 1 ? "byte" : "bytes");
    // Kilobytes in whole numbers, megabytes with one decimal, larger units with two.
    static constexpr std::array<const char*, 6> units{"KB", "MB", "GB", "TB", "PB", "EB"};
    static constexpr std::array<int, 6> decimals{0, 1, 2, 2, 2, 2};
    double value = double(bytes) / 1000.0;
    size_t unit = 0;
    while (unit + 1 < units.size()) {
        // A value that rounds up to 1000 is shown in the next unit.
        const double scale = std::pow(10.0, decimals[unit]);
        if (std::fabs(std::round(value * scale) / scale) < 1000.0) break;
        value /= 1000.0;
        ++unit;
    }
    QString text = locale.toString(value, 'f', decimals[unit]);
    if (decimals[unit] > 0) {
        // 1.0 MB reads as 1 MB.
        const QString point = locale.decimalPoint();
        while (text.endsWith(QLatin1Char('0')) && text.contains(point)) text.chop(1);
        if (text.endsWith(point)) text.chop(point.size());
    }
    return text + QLatin1Char(' ') + QLatin1String(units[unit]);
}

QString detail(std::optional<std::int64_t> pageCount, std::optional<std::int64_t> bytes, const QLocale& locale)
{
    QStringList parts;
    if (pageCount && *pageCount >= 1)
        parts << (*pageCount == 1 ? QStringLiteral("1 page") : QStringLiteral("%1 pages").arg(*pageCount));
    if (bytes && *bytes >= 1) parts << size(*bytes, locale);
    return parts.join(QStringLiteral(" · "));
}

} // namespace LibraryFormat

} // namespace quarnkit
