#include "QuarnKit/History/LibraryTexts.h"

#include <gtest/gtest.h>

using namespace quarnkit;

TEST(DocumentTitle, GenericPathLikeAndFileNameTitlesAreLeftOut)
{
    const std::vector<QString> rejected{
        "Untitled",
        "Microsoft Word",
        "Scan_0012",
        "document 3",
        "img12",
        "IMG-0042",
        "C:\\Reports\\q3.doc",
        "/Users/ann/a.pdf",
        "~/Desktop/x",
        "Quarterly Report.docx",
        "x",
        "-- ... !!",
        QString(201, QChar('a')),
        "  \t ",
        QString::fromUtf8("\xef\xbb\xbf"
                          "Untitled\n"),
        "PowerPoint Presentation",
    };
    for (const QString& title : rejected)
        EXPECT_EQ(DocumentTitle::sensible(title, QStringLiteral("file.pdf")), std::nullopt) << title.toStdString();
    EXPECT_EQ(DocumentTitle::sensible(std::nullopt, QStringLiteral("file.pdf")), std::nullopt);
}

TEST(DocumentTitle, TitlesWorthShowingComeBackTidied)
{
    struct Case {
        QString raw;
        std::optional<QString> fileName;
        QString shown;
    };
    const std::vector<Case> cases{
        {QString::fromUtf8("  Annual\tReport") + QChar(0), QStringLiteral("a.pdf"), "Annual Report"},
        {"Quarterly\n\n  Review 2024", QStringLiteral("q.pdf"), "Quarterly Review 2024"},
        {"Release 1.2 notes", QStringLiteral("r.pdf"), "Release 1.2 notes"},
        {".pdf", QStringLiteral("x.pdf"), ".pdf"},
        {"Budget 2024", std::nullopt, "Budget 2024"},
        {QString(200, QChar('a')), QStringLiteral("x.pdf"), QString(200, QChar('a'))},
        {QString::fromUtf8("Ünïcödé Títle"), QStringLiteral("x.pdf"), QString::fromUtf8("Ünïcödé Títle")},
        {"42", QStringLiteral("x.pdf"), "42"},
        {"Documentary 3", QStringLiteral("x.pdf"), "Documentary 3"},
    };
    for (const Case& c : cases) EXPECT_EQ(DocumentTitle::sensible(c.raw, c.fileName), c.shown) << c.raw.toStdString();
    // The file's own name, in any case, says nothing new.
    EXPECT_EQ(DocumentTitle::sensible(QStringLiteral("Budget 2024"), QStringLiteral("budget 2024.pdf")), std::nullopt);
    // 200 letters with combining accents are still 200 characters.
    QString accented;
    for (int i = 0; i < 200; ++i) accented += QString::fromUtf8("e\xcc\x81");
    EXPECT_EQ(DocumentTitle::sensible(accented, std::nullopt), accented);
}

TEST(FolderLabel, HomeAndNetworkPlacesReadShort)
{
    struct Case {
        QString path, label;
    };
    const std::vector<Case> cases{
        {"/home/ann", "~"},
        {"/home/ann/", "~"},
        {"/home/ann/Documents/Work", "~/Documents/Work"},
        {"/home/annette/x", "/home/annette/x"},
        {"/", "/"},
        {"/media/ann/USB/Scans", "/media/ann/USB/Scans"},
        {"/run/user/1000/gvfs/google-drive:host=gmail.com,user=ann/Books", "google-drive/Books"},
        {"/run/user/1000/gvfs/smb-share:server=nas,share=docs/", "smb-share"},
        {"/run/user/1000/gvfsx/a", "/run/user/1000/gvfsx/a"},
        {"/home/ann/Library/Mobile Documents/com~apple~CloudDocs", "~/Library/Mobile Documents/com~apple~CloudDocs"},
    };
    for (const Case& c : cases) EXPECT_EQ(FolderLabel::display(c.path, "/home/ann"), c.label) << c.path.toStdString();
    EXPECT_EQ(FolderLabel::display("/home/ann/x", "/home/ann/"), "~/x");
}

TEST(LibraryFormat, CountsDetailsAndSizes)
{
    const QLocale us("en_US");
    const QLocale german("de_DE");
    EXPECT_EQ(LibraryFormat::pdfCount(1, us), "1 PDF");
    EXPECT_EQ(LibraryFormat::pdfCount(0, us), "0 PDFs");
    EXPECT_EQ(LibraryFormat::pdfCount(12500, us), "12,500 PDFs");
    EXPECT_EQ(LibraryFormat::pdfCount(12500, german), "12.500 PDFs");
    EXPECT_EQ(LibraryFormat::number(-1234567, us), "-1,234,567");

    struct Size {
        std::int64_t bytes;
        QString text;
    };
    for (const Size& s : std::vector<Size>{{0, "0 bytes"},
                                           {1, "1 byte"},
                                           {999, "999 bytes"},
                                           {1000, "1 KB"},
                                           {1499, "1 KB"},
                                           {999499, "999 KB"},
                                           {999500, "1 MB"},
                                           {1300000, "1.3 MB"},
                                           {4070000000, "4.07 GB"},
                                           {2000000000000, "2 TB"}})
        EXPECT_EQ(LibraryFormat::size(s.bytes, us), s.text) << s.bytes;
    EXPECT_EQ(LibraryFormat::size(1300000, german), "1,3 MB");

    EXPECT_EQ(LibraryFormat::detail(0, 0, us), "");
    EXPECT_EQ(LibraryFormat::detail(1, std::nullopt, us), "1 page");
    EXPECT_EQ(LibraryFormat::detail(12, 1300000, us), QString::fromUtf8("12 pages · 1.3 MB"));
    EXPECT_EQ(LibraryFormat::detail(std::nullopt, 2048, us), "2 KB");
    EXPECT_EQ(LibraryFormat::detail(12500, std::nullopt, us), "12500 pages");
}
