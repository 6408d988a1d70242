#include "QuarnKit/Document/DocumentMetadata.h"

#include "DocumentMetadataTestPdf.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using platform::PdfDocument;
using quarnkit::DocumentAttributes;
using quarnkit::DocumentInfo;
using quarnkit::DocumentMetadata;
namespace PdfDate = quarnkit::PdfDate;

namespace quarnkit {
void PrintTo(const DocumentMetadata& m, std::ostream* os)
{
    *os << "{" << m.title.toStdString() << " | " << m.author.toStdString() << " | " << m.subject.toStdString() << " | "
        << m.keywords.toStdString() << "}";
}
} // namespace quarnkit

namespace {

const QString titleKey = QStringLiteral("Title");
const QString keywordsKey = QStringLiteral("Keywords");
const QString creatorKey = QStringLiteral("Creator");

std::shared_ptr<PdfDocument> withInfo(const std::string& info)
{
    return PdfDocument::openBytes(handmade::makePdf(handmade::blankPages(1), info));
}

// Writes, saves and opens the saved bytes again.
std::shared_ptr<PdfDocument> reopened(const PdfDocument& doc) { return PdfDocument::openBytes(doc.save()); }

void edit(PdfDocument& doc, const DocumentMetadata& metadata)
{
    quarnkit::writeDocumentAttributes(doc, metadata.applied(quarnkit::readDocumentAttributes(doc)));
}

} // namespace

// ---------------------------------------------------------------- attribute rules

TEST(DocumentMetadataAttributes, TitlesAreTrimmedAndEmptyTitlesRemoved)
{
    const DocumentMetadata report(DocumentAttributes{{titleKey, QStringLiteral("  Report \n")}});
    EXPECT_EQ(report.title, "Report");

    const DocumentAttributes spaces{{titleKey, QStringLiteral("   ")}, {creatorKey, QStringLiteral("Maker")}};
    const DocumentMetadata blank(spaces);
    EXPECT_EQ(blank.title, "");
    const DocumentAttributes written = blank.applied(spaces);
    EXPECT_EQ(written.count(titleKey), 0u);
    // Keys it does not manage stay as they are.
    ASSERT_EQ(written.count(creatorKey), 1u);
    EXPECT_EQ(std::get<QString>(written.at(creatorKey)), "Maker");
}

TEST(DocumentMetadataAttributes, KeywordsReadFromAListOrAText)
{
    const DocumentMetadata fromList(
        DocumentAttributes{{keywordsKey, QStringList{QStringLiteral("a"), QStringLiteral(" b "), QString()}}});
    EXPECT_EQ(fromList.keywords, "a, b");
    const DocumentMetadata fromText(DocumentAttributes{{keywordsKey, QStringLiteral("a; b,\nc")}});
    EXPECT_EQ(fromText.keywords, "a, b, c");
    // A date under a text key reads as nothing.
    const DocumentMetadata dated(DocumentAttributes{{titleKey, QDateTime::currentDateTime()}});
    EXPECT_EQ(dated.title, "");
}

TEST(DocumentMetadataAttributes, KeywordListCutsAtEverySeparator)
{
    EXPECT_EQ(DocumentMetadata({}, {}, {}, "a,, b ;c").keywordList(), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(DocumentMetadata({}, {}, {}, QStringLiteral("a\r\nb\u2028c\u2029d\u0085e\vf\fg")).keywordList(),
              (QStringList{"a", "b", "c", "d", "e", "f", "g"}));
    EXPECT_EQ(DocumentMetadata({}, {}, {}, "b, a, b").keywordList(), (QStringList{"b", "a", "b"}));
    EXPECT_TRUE(DocumentMetadata({}, {}, {}, "").keywordList().isEmpty());

    const DocumentAttributes stored{{keywordsKey, QStringLiteral("x")}};
    EXPECT_EQ(DocumentMetadata({}, {}, {}, " ; ").applied(stored).count(keywordsKey), 0u);
}

TEST(DocumentMetadataAttributes, UnchangedKeywordsKeepTheirStoredForm)
{
    const DocumentAttributes stored{{keywordsKey, QStringLiteral("x; y")}};
    DocumentMetadata metadata(stored);
    metadata.title = QStringLiteral("New");
    const DocumentAttributes written = metadata.applied(stored);
    EXPECT_EQ(std::get<QString>(written.at(keywordsKey)), "x; y");
    EXPECT_EQ(std::get<QString>(written.at(titleKey)), "New");

    metadata.keywords = QStringLiteral("x; z");
    EXPECT_EQ(std::get<QStringList>(metadata.applied(stored).at(keywordsKey)), (QStringList{"x", "z"}));
}

// ---------------------------------------------------------------- dates

TEST(DocumentMetadataDates, ParsesPdfDatesWithTimeZones)
{
    const auto plus = PdfDate::parse("D:20220406201541+02'00'");
    ASSERT_TRUE(plus);
    EXPECT_EQ(plus->offsetFromUtc(), 7200);
    EXPECT_EQ(plus->toUTC(), QDateTime(QDate(2022, 4, 6), QTime(18, 15, 41), Qt::UTC));

    const auto minus = PdfDate::parse("D:20220716172303-05'00'");
    ASSERT_TRUE(minus);
    EXPECT_EQ(minus->offsetFromUtc(), -5 * 3600);
    EXPECT_EQ(minus->toUTC(), QDateTime(QDate(2022, 7, 16), QTime(22, 23, 3), Qt::UTC));

    const auto half = PdfDate::parse("D:20220101120000+05:30");
    ASSERT_TRUE(half);
    EXPECT_EQ(half->offsetFromUtc(), 5 * 3600 + 30 * 60);

    const auto zulu = PdfDate::parse("D:20230410074654Z07'46'");
    ASSERT_TRUE(zulu);
    EXPECT_EQ(zulu->offsetFromUtc(), 0);
    EXPECT_EQ(zulu->time(), QTime(7, 46, 54));

    const auto local = PdfDate::parse("D:20220415120134");
    ASSERT_TRUE(local);
    EXPECT_EQ(local->timeSpec(), Qt::LocalTime);
    EXPECT_EQ(local->date(), QDate(2022, 4, 15));

    const auto yearOnly = PdfDate::parse("D:2023");
    ASSERT_TRUE(yearOnly);
    EXPECT_EQ(yearOnly->date(), QDate(2023, 1, 1));
    EXPECT_TRUE(PdfDate::parse("19990102"));
}

TEST(DocumentMetadataDates, RefusesDamagedDates)
{
    for (const char* text : {"", "D:", "garbage", "D:20221301", "D:20220230", "D:202201011", "D:20220101256000",
                             "D:2022010112+0", "D:20220101120000+25'00'", "D:20220101120000 nonsense", "D:0000"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(PdfDate::parse(QString::fromLatin1(text)).has_value());
    }
}

TEST(DocumentMetadataDates, FormatsWhatItParses)
{
    for (const char* text : {"D:20220406201541+02'00'", "D:20220716172303-05'00'", "D:20230410074654Z"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(PdfDate::format(*PdfDate::parse(QString::fromLatin1(text))).toStdString(), text);
    }
}

// ---------------------------------------------------------------- documents

TEST(DocumentMetadataPdf, EditSaveAndReopen)
{
    auto doc = withInfo("/Title (  Old ) /Keywords (x; y) /Creator (Maker) /Custom (kept)");
    DocumentMetadata metadata = DocumentMetadata::read(*doc);
    EXPECT_EQ(metadata, DocumentMetadata("Old", "", "", "x, y"));

    metadata.title = QStringLiteral("  New Title \n");
    metadata.author = QStringLiteral("Ada");
    metadata.keywords = QStringLiteral("a; b\nc");
    edit(*doc, metadata);

    QTemporaryDir dir;
    const std::string path = dir.filePath("edited.pdf").toStdString();
    doc->saveToFile(testsupport::chosen(path));
    auto again = PdfDocument::openFile(path);
    EXPECT_EQ(DocumentMetadata::read(*again), DocumentMetadata("New Title", "Ada", "", "a, b, c"));
    // Stored as one text, which every reader understands.
    EXPECT_EQ(again->infoString("Keywords"), "a, b, c");
    EXPECT_EQ(again->infoString("Title"), "New Title");
    EXPECT_EQ(again->infoString("Creator"), "Maker");
    EXPECT_EQ(again->infoString("Custom"), "kept");
}

TEST(DocumentMetadataPdf, EditingAnotherFieldKeepsKeywordsAsStored)
{
    auto doc = withInfo("/Keywords (x; y) /Title (T)");
    DocumentMetadata metadata = DocumentMetadata::read(*doc);
    metadata.author = QStringLiteral("Someone");
    edit(*doc, metadata);
    auto again = reopened(*doc);
    EXPECT_EQ(again->infoString("Keywords"), "x; y");
    EXPECT_EQ(again->infoString("Author"), "Someone");

    // Keywords stored as an array stay an array too.
    auto listed = withInfo("/Keywords [(a) ( b ) ()]");
    DocumentMetadata fromList = DocumentMetadata::read(*listed);
    EXPECT_EQ(fromList.keywords, "a, b");
    fromList.title = QStringLiteral("Listed");
    edit(*listed, fromList);
    auto listedAgain = reopened(*listed);
    EXPECT_EQ(listedAgain->infoStringList("Keywords").size(), 3u);
    EXPECT_EQ(DocumentMetadata::read(*listedAgain), DocumentMetadata("Listed", "", "", "a, b"));
}

TEST(DocumentMetadataPdf, ClearingFieldsRemovesTheirKeys)
{
    auto doc = withInfo("/Title (T) /Subject (S) /Keywords (k)");
    edit(*doc, DocumentMetadata(" ", "", "\n", ""));
    auto again = reopened(*doc);
    EXPECT_FALSE(again->infoString("Title").has_value());
    EXPECT_FALSE(again->infoString("Subject").has_value());
    EXPECT_FALSE(again->infoString("Keywords").has_value());
}

TEST(DocumentMetadataPdf, WritesIntoADocumentWithoutInfo)
{
    auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(1));
    EXPECT_EQ(DocumentMetadata::read(*doc), DocumentMetadata());
    edit(*doc, DocumentMetadata("Fresh", "", "", "one, two"));
    EXPECT_EQ(DocumentMetadata::read(*doc), DocumentMetadata("Fresh", "", "", "one, two"));
    EXPECT_EQ(DocumentMetadata::read(*reopened(*doc)), DocumentMetadata("Fresh", "", "", "one, two"));
}

TEST(DocumentMetadataPdf, RestoringEarlierAttributesBringsBackTheStoredTexts)
{
    auto doc = withInfo("/Title ( Spaced ) /Keywords (x;y) /CreationDate (D:20220406201541+02'00')");
    const DocumentAttributes earlier = quarnkit::readDocumentAttributes(*doc);
    edit(*doc, DocumentMetadata("Changed", "A", "S", "p, q"));
    quarnkit::writeDocumentAttributes(*doc, earlier);
    auto again = reopened(*doc);
    EXPECT_EQ(again->infoString("Title"), " Spaced ");
    EXPECT_EQ(again->infoString("Keywords"), "x;y");
    EXPECT_FALSE(again->infoString("Author").has_value());
    EXPECT_EQ(again->infoString("CreationDate"), "D:20220406201541+02'00'");

    // Writing what is already there writes nothing.
    const QByteArray settled = doc->save();
    quarnkit::writeDocumentAttributes(*doc, quarnkit::readDocumentAttributes(*doc));
    EXPECT_EQ(doc->save(), settled);
}

TEST(DocumentMetadataPdf, KeywordsOfARealFile)
{
    auto doc = PdfDocument::openFile(testsupport::corpusPath("GeoTopo-komprimiert.pdf"));
    const DocumentMetadata metadata = DocumentMetadata::read(*doc);
    EXPECT_EQ(metadata.title, "Geometrie und Topologie");
    EXPECT_EQ(metadata.author, "Martin Thoma");
    EXPECT_EQ(metadata.keywords, "Geometrie, Topologie");
    EXPECT_EQ(metadata.keywordList(), (QStringList{"Geometrie", "Topologie"}));
}

// ---------------------------------------------------------------- document info

TEST(DocumentInfoPdf, SummaryOfACorpusFile)
{
    auto doc = PdfDocument::openFile(testsupport::corpusPath("pdflatex-outline.pdf"));
    const DocumentInfo info(*doc);
    EXPECT_EQ(info.pageCount, 4);
    EXPECT_EQ(info.pageSize, QStringLiteral("A4, 210 \u00D7 297 mm"));
    EXPECT_EQ(info.version, "1.5");
    ASSERT_TRUE(info.created);
    EXPECT_EQ(info.created->toUTC(), QDateTime(QDate(2022, 4, 6), QTime(18, 15, 41), Qt::UTC));
    ASSERT_TRUE(info.modified);
    EXPECT_EQ(info.creator, "LaTeX with hyperref");
    EXPECT_EQ(info.producer, "pdfTeX-1.40.23");
    EXPECT_FALSE(info.isEncrypted);
    EXPECT_TRUE(info.allowsPrinting);
    EXPECT_TRUE(info.allowsCopying);
    EXPECT_EQ(info.metadata, DocumentMetadata());
}

TEST(DocumentInfoPdf, BlankProducerAndBadDatesAreAbsent)
{
    auto doc = withInfo("/Producer (   ) /Creator (\n Writer \t) /CreationDate (yesterday) /ModDate (D:20221345)");
    const DocumentInfo info(*doc);
    EXPECT_EQ(info.version, "1.4");
    EXPECT_FALSE(info.producer.has_value());
    EXPECT_EQ(info.creator, "Writer");
    EXPECT_FALSE(info.created.has_value());
    EXPECT_FALSE(info.modified.has_value());
    EXPECT_EQ(info.pageCount, 1);
    EXPECT_EQ(info.pageSize, QStringLiteral("Letter, 8.5 \u00D7 11 in"));
}

TEST(DocumentInfoPdf, EncryptedFileAfterUnlocking)
{
    auto doc = PdfDocument::openFile(testsupport::corpusPath("libreoffice-writer-password.pdf"));
    ASSERT_TRUE(doc->unlock("openpassword"));
    const DocumentInfo info(*doc);
    EXPECT_TRUE(info.isEncrypted);
    EXPECT_GE(info.pageCount, 1);
    // Encrypted strings come out decrypted.
    EXPECT_EQ(info.creator, "Writer");
    ASSERT_TRUE(info.created);
}

TEST(DocumentInfoPdf, DamagedMetadataReadsAsNothing)
{
    // Keys of the wrong types, and an Info entry that names no dictionary.
    auto wrongTypes = withInfo("/Title 42 /Author << /A 1 >> /Keywords 7 /CreationDate [1 2] /Producer /Name");
    const DocumentInfo info(*wrongTypes);
    EXPECT_EQ(info.metadata, DocumentMetadata());
    EXPECT_FALSE(info.created.has_value());
    EXPECT_FALSE(info.producer.has_value());
    edit(*wrongTypes, DocumentMetadata("Mended", "", "", "k"));
    EXPECT_EQ(DocumentMetadata::read(*reopened(*wrongTypes)), DocumentMetadata("Mended", "", "", "k"));

    for (const char* target : {"/Info 2 0 R", "/Info 99 0 R"}) {
        SCOPED_TRACE(target);
        QByteArray bytes = handmade::makePdf(handmade::blankPages(1), "/Title (x)");
        bytes.replace("/Info 4 0 R", target);
        auto doc = PdfDocument::openBytes(bytes);
        EXPECT_EQ(DocumentInfo(*doc).metadata, DocumentMetadata());
    }

    // The corpus file with broken metadata opens repaired, or not at all.
    std::shared_ptr<PdfDocument> unreadable;
    try {
        unreadable = PdfDocument::openFile(testsupport::corpusPath("unreadablemetadata.pdf"));
    } catch (const platform::PdfError&) {}
    if (unreadable) {
        const DocumentInfo damaged(*unreadable);
        EXPECT_GE(damaged.pageCount, 0);
        EXPECT_FALSE(damaged.pageSize.isEmpty());
    }
}

TEST(DocumentInfoFile, FileSize)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("five.bin");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("12345");
    file.close();
    EXPECT_EQ(DocumentInfo::fileSize(path), 5);
    EXPECT_FALSE(DocumentInfo::fileSize(std::nullopt).has_value());
    EXPECT_FALSE(DocumentInfo::fileSize(dir.filePath("missing.pdf")).has_value());
}
