#pragma once
// What describes a PDF: its document attributes (the Info dictionary), the
// four editable texts of them (`DocumentMetadata`) and the read-only summary
// of the document-info panel (`DocumentInfo`). The value types hold no
// reference to the document.
#include "Platform/PdfDocument.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <string>
#include <variant>

namespace quarnkit {

// The keys of the Info dictionary that the program reads and writes.
namespace DocumentAttributeKey {
inline constexpr char title[] = "Title";
inline constexpr char author[] = "Author";
inline constexpr char subject[] = "Subject";
inline constexpr char keywords[] = "Keywords";
inline constexpr char creationDate[] = "CreationDate";
inline constexpr char modificationDate[] = "ModDate";
inline constexpr char creator[] = "Creator";
inline constexpr char producer[] = "Producer";
} // namespace DocumentAttributeKey

// A text, a list of texts (keywords), or a date.
using DocumentAttributeValue = std::variant<QString, QStringList, QDateTime>;
using DocumentAttributes = std::map<QString, DocumentAttributeValue>;

// The attributes a document holds under the keys above. Dates that parse are
// dates, anything else keeps its text; keywords stored as several strings are
// a list.
DocumentAttributes readDocumentAttributes(const platform::PdfDocument& document);
DocumentAttributes readDocumentAttributes(const QuarnDocument& document);

// Makes the document's attributes under the keys above equal `attributes`: a
// key missing from `attributes` is removed. Only keys whose value differs from
// what the document holds are written, so a value nobody changed keeps its
// stored form. A list is stored as one text joined by ", " (the form readers
// expect), a date as a PDF date. Other keys of the Info dictionary stay.
// Writes nothing when the attributes are already there.
void writeDocumentAttributes(platform::PdfDocument& document, const DocumentAttributes& attributes);

// PDF dates: "D:YYYYMMDDHHmmSSOHH'mm'", every part after the year optional.
namespace PdfDate {
// None when the text is not a valid date. A date without a time zone is local
// time; "Z" is UTC.
std::optional<QDateTime> parse(const QString& text);
QString format(const QDateTime& date);
} // namespace PdfDate

// What a save writes into the document before it makes the file's bytes:
// the time of the save as Info's ModDate and, in a file that keeps XMP
// metadata, as the packet's modification dates too, so that readers of
// either show the same date. The stamp remembers what the document held, for
// a save that fails.
class ModificationStamp {
public:
    // Stamps `date` into an unlocked document. Throws PdfError.
    static ModificationStamp write(platform::PdfDocument& document, const QDateTime& date);
    // Puts back what the document held before the stamp. Throws PdfError.
    void undo(platform::PdfDocument& document) const;

    // The packet with the values of xmp:ModifyDate and xmp:MetadataDate set
    // to `date`, under whatever prefix the packet gives XMP's namespace;
    // unchanged when it holds neither.
    static QByteArray xmpWithDate(const QByteArray& packet, const QDateTime& date);

private:
    std::optional<std::string> modDate_;
    std::optional<QByteArray> xmp_;
};

struct DocumentMetadata {
    QString title;
    QString author;
    QString subject;
    QString keywords; // separated by ", " in what is read

    DocumentMetadata() = default;
    DocumentMetadata(QString title, QString author, QString subject, QString keywords)
        : title(std::move(title)), author(std::move(author)), subject(std::move(subject)), keywords(std::move(keywords))
    {}
    // Title, author and subject trimmed; keywords from a list or a text.
    explicit DocumentMetadata(const DocumentAttributes& attributes);
    static DocumentMetadata read(const platform::PdfDocument& document)
    {
        return DocumentMetadata(readDocumentAttributes(document));
    }

    // The text under `key`, trimmed of white space and line ends; "" when
    // absent or not a text.
    static QString string(const char* key, const DocumentAttributes& attributes);

    // `keywords` cut at commas, semicolons and line ends, each piece trimmed
    // of spaces and tabs, empty pieces dropped; duplicates stay.
    QStringList keywordList() const;

    // `attributes` with this metadata written in: title, author and subject
    // trimmed (empty removes the key); keywords as the list `keywordList`, or
    // removed when it is empty. Keywords that read the same as the stored ones
    // are left in their stored form, so that editing another field never
    // rewrites them. Every other key stays.
    DocumentAttributes applied(const DocumentAttributes& attributes = {}) const;

    friend bool operator==(const DocumentMetadata&, const DocumentMetadata&) = default;
};

struct DocumentInfo {
    int pageCount = 0;
    QString pageSize; // PaperSize::describe of the document
    QString version;  // "1.7"
    std::optional<QDateTime> created;
    std::optional<QDateTime> modified;
    std::optional<QString> creator;  // trimmed; none when empty
    std::optional<QString> producer; // trimmed; none when empty
    bool isEncrypted = false;
    bool allowsPrinting = true;
    bool allowsCopying = true;
    DocumentMetadata metadata;

    DocumentInfo() = default;
    explicit DocumentInfo(const platform::PdfDocument& document);
    explicit DocumentInfo(const QuarnDocument& document);

    // The size of the file at `path` in bytes; none without a path or when it
    // cannot be read.
    static std::optional<qint64> fileSize(const std::optional<QString>& path);
};

} // namespace quarnkit
