#include "QuarnKit/Document/DocumentMetadata.h"

#include "Platform/PdfXmp.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/PaperSize.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <array>

namespace quarnkit {
namespace {

namespace Key = DocumentAttributeKey;

constexpr std::array<const char*, 8> managedKeys{Key::title,        Key::author,           Key::subject, Key::keywords,
                                                 Key::creationDate, Key::modificationDate, Key::creator, Key::producer};

bool isDateKey(const char* key)
{
    return qstrcmp(key, Key::creationDate) == 0 || qstrcmp(key, Key::modificationDate) == 0;
}

// Keywords are trimmed of spaces and tabs only: other white space separates them.
QString trimSpacesAndTabs(const QString& text)
{
    qsizetype start = 0, end = text.size();
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (start < end && blank(text[start])) ++start;
    while (end > start && blank(text[end - 1])) --end;
    return text.mid(start, end - start);
}

bool isKeywordSeparator(QChar c)
{
    switch (c.unicode()) {
    case ',':
    case ';':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
    case 0x0085:
    case 0x2028:
    case 0x2029: return true;
    default: return false;
    }
}

QStringList cutKeywords(const QString& text)
{
    QStringList pieces;
    QString piece;
    const auto flush = [&] {
        const QString trimmed = trimSpacesAndTabs(piece);
        if (!trimmed.isEmpty()) pieces.append(trimmed);
        piece.clear();
    };
    for (QChar c : text) {
        if (isKeywordSeparator(c)) flush();
        else piece.append(c);
    }
    flush();
    return pieces;
}

QString stored(const DocumentAttributeValue& value)
{
    if (const auto* text = std::get_if<QString>(&value)) return *text;
    if (const auto* list = std::get_if<QStringList>(&value)) return list->join(QStringLiteral(", "));
    return PdfDate::format(std::get<QDateTime>(value));
}

// Reads `width` digits at `pos`; false when they are not there.
bool digits(const QString& text, qsizetype& pos, int width, int& value)
{
    if (pos + width > text.size()) return false;
    value = 0;
    for (int i = 0; i < width; ++i) {
        const QChar c = text[pos + i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
        value = value * 10 + (c.unicode() - '0');
    }
    pos += width;
    return true;
}

bool isDigit(const QString& text, qsizetype pos)
{
    return pos < text.size() && text[pos] >= QLatin1Char('0') && text[pos] <= QLatin1Char('9');
}

} // namespace

// ---------------------------------------------------------------- attributes

DocumentAttributes readDocumentAttributes(const QuarnDocument& document)
{
    return readDocumentAttributes(*pdfOf(document));
}

DocumentAttributes readDocumentAttributes(const platform::PdfDocument& document)
{
    DocumentAttributes attributes;
    for (const char* key : managedKeys) {
        if (qstrcmp(key, Key::keywords) == 0) {
            // Usually one text; some writers store an array of texts.
            const std::vector<std::string> parts = document.infoStringList(key);
            if (parts.size() == 1) {
                attributes[QString::fromLatin1(key)] = QString::fromStdString(parts.front());
            } else if (parts.size() > 1) {
                QStringList list;
                for (const std::string& part : parts) list.append(QString::fromStdString(part));
                attributes[QString::fromLatin1(key)] = list;
            }
            continue;
        }
        const std::optional<std::string> value = document.infoString(key);
        if (!value) continue;
        const QString text = QString::fromStdString(*value);
        if (isDateKey(key)) {
            if (const std::optional<QDateTime> date = PdfDate::parse(text)) {
                attributes[QString::fromLatin1(key)] = *date;
                continue;
            }
        }
        attributes[QString::fromLatin1(key)] = text;
    }
    return attributes;
}

namespace {

// The stored texts of the managed keys that differ between the two sets.
std::vector<std::pair<const char*, std::optional<std::string>>> changes(const DocumentAttributes& held,
                                                                        const DocumentAttributes& wanted)
{
    std::vector<std::pair<const char*, std::optional<std::string>>> out;
    for (const char* key : managedKeys) {
        const QString name = QString::fromLatin1(key);
        const auto want = wanted.find(name);
        const auto have = held.find(name);
        const bool hasWanted = want != wanted.end();
        const bool hasHeld = have != held.end();
        if (!hasWanted && !hasHeld) continue;
        // Compared as they would be stored: an equal value keeps its stored form.
        if (hasWanted && hasHeld && stored(want->second) == stored(have->second)) continue;
        out.emplace_back(key,
                         hasWanted ? std::optional<std::string>(stored(want->second).toStdString()) : std::nullopt);
    }
    return out;
}

} // namespace

void writeDocumentAttributes(platform::PdfDocument& document, const DocumentAttributes& attributes)
{
    const auto apply = [&document](const auto& list) {
        for (const auto& [key, value] : list) document.setInfoString(key, value);
    };
    const auto first = changes(readDocumentAttributes(document), attributes);
    if (first.empty()) return;
    apply(first);
    // In a document without an Info dictionary, the first write can land in a
    // dictionary MuPDF does not link (it opens a new xref section on the first
    // new object); a second pass writes whatever did not stick.
    const DocumentAttributes written = readDocumentAttributes(document);
    std::vector<std::pair<const char*, std::optional<std::string>>> missing;
    for (const auto& change : first) {
        const auto found = written.find(QString::fromLatin1(change.first));
        const std::optional<std::string> now =
            found == written.end() ? std::nullopt : std::optional<std::string>(stored(found->second).toStdString());
        if (now != change.second) missing.push_back(change);
    }
    apply(missing);
}

// ---------------------------------------------------------------- dates

std::optional<QDateTime> PdfDate::parse(const QString& raw)
{
    const QString text = raw.trimmed();
    qsizetype pos = text.startsWith(QLatin1String("D:")) ? 2 : 0;
    int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    if (!digits(text, pos, 4, year)) return std::nullopt;
    // Each later field is optional, but a field once begun must be whole.
    for (int* field : {&month, &day, &hour, &minute, &second}) {
        if (!isDigit(text, pos)) break;
        if (!digits(text, pos, 2, *field)) return std::nullopt;
    }
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (year < 1 || !date.isValid() || !time.isValid()) return std::nullopt;

    if (pos >= text.size()) return QDateTime(date, time, Qt::LocalTime);
    const QChar sign = text[pos++];
    if (sign == QLatin1Char('Z') || sign == QLatin1Char('z')) return QDateTime(date, time, Qt::UTC);
    if (sign != QLatin1Char('+') && sign != QLatin1Char('-')) return std::nullopt;
    int offsetHours = 0, offsetMinutes = 0;
    if (!digits(text, pos, 2, offsetHours)) return std::nullopt;
    if (pos < text.size() && (text[pos] == QLatin1Char('\'') || text[pos] == QLatin1Char(':'))) ++pos;
    if (isDigit(text, pos) && !digits(text, pos, 2, offsetMinutes)) return std::nullopt;
    if (pos < text.size() && text[pos] == QLatin1Char('\'')) ++pos;
    if (pos != text.size() || offsetHours > 23 || offsetMinutes > 59) return std::nullopt;
    const int offset = (offsetHours * 3600 + offsetMinutes * 60) * (sign == QLatin1Char('-') ? -1 : 1);
    return QDateTime(date, time, Qt::OffsetFromUTC, offset);
}

QString PdfDate::format(const QDateTime& date)
{
    const int offset = date.offsetFromUtc();
    QString text = QStringLiteral("D:") + date.toString(QStringLiteral("yyyyMMddHHmmss"));
    if (offset == 0) return text + QLatin1Char('Z');
    const int minutes = std::abs(offset) / 60;
    return text + QLatin1Char(offset < 0 ? '-' : '+')
           + QStringLiteral("%1'%2'")
                 .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                 .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

// ---------------------------------------------------------------- modification date

ModificationStamp ModificationStamp::write(platform::PdfDocument& document, const QDateTime& date)
{
    ModificationStamp stamp;
    stamp.modDate_ = document.infoString(Key::modificationDate);
    stamp.xmp_ = platform::PdfXmp::read(document);
    document.setInfoString(Key::modificationDate, PdfDate::format(date).toStdString());
    if (stamp.xmp_) {
        const QByteArray stamped = xmpWithDate(*stamp.xmp_, date);
        if (stamped != *stamp.xmp_) platform::PdfXmp::write(document, stamped);
    }
    return stamp;
}

void ModificationStamp::undo(platform::PdfDocument& document) const
{
    document.setInfoString(Key::modificationDate, modDate_);
    if (xmp_) platform::PdfXmp::write(document, *xmp_);
}

QByteArray ModificationStamp::xmpWithDate(const QByteArray& packet, const QDateTime& date)
{
    const QString text = QString::fromUtf8(packet);
    if (text.toUtf8() != packet) return packet; // not UTF-8: left as it is
    // XMP dates: ISO 8601 with the offset from UTC, "Z" for none.
    const QString value = date.toOffsetFromUtc(date.offsetFromUtc()).toString(Qt::ISODate);
    static const QRegularExpression binding(
        QStringLiteral(R"(xmlns:([A-Za-z_][\w.-]*)\s*=\s*["']http://ns\.adobe\.com/xap/1\.0/["'])"));
    QString out = text;
    for (auto bound = binding.globalMatch(text); bound.hasNext();) {
        const QString prefix = QRegularExpression::escape(bound.next().captured(1));
        for (const char* name : {"ModifyDate", "MetadataDate"}) {
            const QString qualified = prefix + QLatin1Char(':') + QLatin1String(name);
            // <xmp:ModifyDate>…</xmp:ModifyDate> and xmp:ModifyDate="…"
            out.replace(QRegularExpression(QStringLiteral("(<%1>)[^<]*(</%1>)").arg(qualified)),
                        QStringLiteral("\\1") + value + QStringLiteral("\\2"));
            out.replace(QRegularExpression(QStringLiteral(R"((\s%1\s*=\s*)(?:"[^"]*"|'[^']*'))").arg(qualified)),
                        QStringLiteral("\\1\"") + value + QLatin1Char('"'));
        }
    }
    return out == text ? packet : out.toUtf8();
}

// ---------------------------------------------------------------- metadata

QString DocumentMetadata::string(const char* key, const DocumentAttributes& attributes)
{
    const auto found = attributes.find(QString::fromLatin1(key));
    if (found == attributes.end()) return {};
    const auto* text = std::get_if<QString>(&found->second);
    return text ? text->trimmed() : QString();
}

DocumentMetadata::DocumentMetadata(const DocumentAttributes& attributes)
    : title(string(Key::title, attributes)), author(string(Key::author, attributes)),
      subject(string(Key::subject, attributes))
{
    const auto found = attributes.find(QString::fromLatin1(Key::keywords));
    if (found == attributes.end()) return;
    if (const auto* list = std::get_if<QStringList>(&found->second)) {
        QStringList kept;
        for (const QString& item : *list) {
            const QString trimmed = trimSpacesAndTabs(item);
            if (!trimmed.isEmpty()) kept.append(trimmed);
        }
        keywords = kept.join(QStringLiteral(", "));
    } else if (const auto* text = std::get_if<QString>(&found->second)) {
        keywords = cutKeywords(*text).join(QStringLiteral(", "));
    }
}

QStringList DocumentMetadata::keywordList() const { return cutKeywords(keywords); }

DocumentAttributes DocumentMetadata::applied(const DocumentAttributes& attributes) const
{
    DocumentAttributes result = attributes;
    const auto put = [&result](const char* key, const QString& value) {
        const QString trimmed = value.trimmed();
        if (trimmed.isEmpty()) result.erase(QString::fromLatin1(key));
        else result[QString::fromLatin1(key)] = trimmed;
    };
    put(Key::title, title);
    put(Key::author, author);
    put(Key::subject, subject);

    const QStringList list = keywordList();
    const QString keywordsKey = QString::fromLatin1(Key::keywords);
    if (list.isEmpty()) result.erase(keywordsKey);
    else if (DocumentMetadata(attributes).keywordList() != list) result[keywordsKey] = list;
    return result;
}

// ---------------------------------------------------------------- info

DocumentInfo::DocumentInfo(const QuarnDocument& document) : DocumentInfo(*pdfOf(document)) {}

DocumentInfo::DocumentInfo(const platform::PdfDocument& document)
{
    const DocumentAttributes attributes = readDocumentAttributes(document);
    const auto date = [&attributes](const char* key) -> std::optional<QDateTime> {
        const auto found = attributes.find(QString::fromLatin1(key));
        if (found == attributes.end()) return std::nullopt;
        const auto* value = std::get_if<QDateTime>(&found->second);
        return value ? std::optional<QDateTime>(*value) : std::nullopt;
    };
    const auto text = [&attributes](const char* key) -> std::optional<QString> {
        const QString value = DocumentMetadata::string(key, attributes);
        return value.isEmpty() ? std::nullopt : std::optional<QString>(value);
    };
    pageCount = document.pageCount();
    pageSize = PaperSize::describe(document);
    version = QString::fromStdString(document.version());
    created = date(Key::creationDate);
    modified = date(Key::modificationDate);
    creator = text(Key::creator);
    producer = text(Key::producer);
    isEncrypted = document.isEncrypted();
    const platform::PdfPermissions permissions = document.permissions();
    allowsPrinting = permissions.print;
    allowsCopying = permissions.copy;
    metadata = DocumentMetadata(attributes);
}

std::optional<qint64> DocumentInfo::fileSize(const std::optional<QString>& path)
{
    if (!path || path->isEmpty()) return std::nullopt;
    const QFileInfo info(*path);
    if (!info.exists()) return std::nullopt;
    return info.size();
}

} // namespace quarnkit
