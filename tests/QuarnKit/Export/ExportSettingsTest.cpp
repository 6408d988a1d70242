#include "QuarnKit/Export/ExportSettings.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

using namespace quarnkit;

namespace {

ExportSettings settingsFor(ExportFormat format, std::vector<int> pages = {0})
{
    ExportSettings s;
    s.format = format;
    s.pages = std::move(pages);
    return s;
}

} // namespace

TEST(ExportSettings, OnlySeveralPngOrJpegPagesWriteAFolder)
{
    struct Case {
        ExportFormat format;
        std::vector<int> pages;
        bool folder;
    };
    const std::vector<Case> cases = {
        {ExportFormat::png, {0}, false},       {ExportFormat::png, {0, 1}, true},
        {ExportFormat::jpeg, {3, 4, 5}, true}, {ExportFormat::tiff, {0, 1, 2}, false},
        {ExportFormat::pdf, {0, 1}, false},    {ExportFormat::text, {0, 1}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ExportFormats::rawValue(c.format).toStdString());
        EXPECT_EQ(settingsFor(c.format, c.pages).writesFolder(), c.folder);
    }
}

TEST(ExportSettings, ScaleHasAFloorOfThirtySixDpi)
{
    struct Case {
        int dpi;
        double scale;
    };
    for (const Case& c : std::vector<Case>{{20, 0.5}, {36, 0.5}, {72, 1.0}, {300, 300.0 / 72}}) {
        ExportSettings s;
        s.dpi = c.dpi;
        EXPECT_DOUBLE_EQ(s.scale(), c.scale) << c.dpi;
    }
}

TEST(ExportSettings, PasswordsBecomeWriterOptionsOnlyForPdfKinds)
{
    ExportSettings s = settingsFor(ExportFormat::flattenedPDF);
    s.openPassword = "open";
    ExportWriteOptions o = s.writeOptions();
    EXPECT_EQ(o.ownerPassword, "open");
    EXPECT_EQ(o.userPassword, "open");
    EXPECT_FALSE(o.permissions);
    EXPECT_TRUE(s.isProtected());

    s.openPassword.clear();
    s.editPassword = "edit";
    o = s.writeOptions();
    EXPECT_EQ(o.ownerPassword, "edit");
    EXPECT_FALSE(o.userPassword);
    ASSERT_TRUE(o.permissions);
    EXPECT_TRUE(o.permissions->print && o.permissions->printHighQuality && o.permissions->copy
                && o.permissions->accessibility);
    EXPECT_FALSE(o.permissions->edit || o.permissions->annotate || o.permissions->fillForms || o.permissions->assemble);

    s.format = ExportFormat::png;
    EXPECT_TRUE(s.writeOptions().isEmpty());
    EXPECT_FALSE(s.isProtected());

    ExportSettings searchable = settingsFor(ExportFormat::text);
    searchable.makeSearchable = true;
    EXPECT_TRUE(searchable.writeOptions().isEmpty());
    searchable.format = ExportFormat::pdf;
    EXPECT_TRUE(searchable.writeOptions().textFromRecognition);
}

TEST(ExportSettings, SaveOptionsEncryptOnlyWithAPassword)
{
    ExportSettings s = settingsFor(ExportFormat::pdf);
    using Encryption = platform::PdfSaveOptions::Encryption;
    EXPECT_EQ(s.writeOptions().saveOptions().encryption, Encryption::none);
    EXPECT_TRUE(s.writeOptions().saveOptions().garbageCollect);
    s.openPassword = "x";
    const auto options = s.writeOptions().saveOptions();
    EXPECT_EQ(options.encryption, Encryption::aes256);
    EXPECT_EQ(options.userPassword, "x");
    EXPECT_EQ(options.ownerPassword, "x");
}

TEST(ExportStep, FirstStepFractionAndLabel)
{
    using Kind = ExportStep::Kind;
    EXPECT_EQ(ExportStep::first(settingsFor(ExportFormat::pdf, {0, 1})), (ExportStep{Kind::saving, 0, 0}));
    EXPECT_EQ(ExportStep::first(settingsFor(ExportFormat::marksSummary, {0, 1})), (ExportStep{Kind::saving, 0, 0}));
    EXPECT_EQ(ExportStep::first(settingsFor(ExportFormat::smallerPDF, {0})), (ExportStep{Kind::compressing, 0, 0}));
    EXPECT_EQ(ExportStep::first(settingsFor(ExportFormat::png, {0, 1, 2})), (ExportStep{Kind::rendering, 0, 3}));

    struct Case {
        ExportStep step;
        std::optional<double> fraction;
        QString label;
    };
    const std::vector<Case> cases = {
        {{Kind::rendering, 0, 4}, 0.0, "Page 1 of 4"},
        {{Kind::rendering, 3, 3}, 1.0, "Page 3 of 3"},
        {{Kind::rendering, 5, 3}, 1.0, "Page 3 of 3"},
        {{Kind::rendering, 0, 0}, std::nullopt, "Page 0 of 0"},
        {{Kind::recognizing, 1, 4}, 0.25, "Reading page 2 of 4"},
        {{Kind::recognizing, 1200, 2400}, 0.5, "Reading page 1201 of 2400"},
        {{Kind::compressing, 1, 4}, std::nullopt, "Compressing images"},
        {{Kind::saving, 0, 0}, std::nullopt, "Saving"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label.toStdString());
        EXPECT_EQ(c.step.fraction(), c.fraction);
        EXPECT_EQ(c.step.label(), c.label);
    }
}

TEST(ExportReport, SummaryOfCompressionAndTextRecognition)
{
    ExportReport r("/tmp/x.pdf");
    EXPECT_FALSE(r.summary());

    r.bytesBefore = 1000;
    r.bytesAfter = 999;
    EXPECT_EQ(r.summary(), "1 KB to 999 bytes, 1% smaller.");
    r.bytesBefore = 4'000'000;
    r.bytesAfter = 1'000'000;
    EXPECT_EQ(r.summary(), "4.0 MB to 1.0 MB, 75% smaller.");
    r.bytesAfter = 5'000'000;
    EXPECT_EQ(r.summary(), "4.0 MB to 5.0 MB, 1% smaller.");
    r.keptOriginal = true;
    r.bytesAfter = 2'500;
    EXPECT_EQ(r.summary(), "This PDF is already compact, so ravlen kept it as is. It's 3 KB.");

    ExportReport text("/tmp/x.txt");
    text.recognizedPages = 2;
    text.unreadablePages = 1;
    EXPECT_EQ(text.summary(), "Read 2 scanned pages with text recognition. Text recognition couldn't read 1 page.");
    text.recognizedPages = 1;
    text.unreadablePages = 0;
    EXPECT_EQ(text.summary(), "Read 1 scanned page with text recognition.");
    text.recognizedPages = 0;
    text.unreadablePages = 3;
    text.redactions = 4;
    EXPECT_EQ(text.summary(), "Text recognition couldn't read 3 pages.");
}

TEST(ExportError, CannotWriteNamesTheFileAndComparesItsReason)
{
    const ExportError a = ExportError::cannotWrite("Report.pdf", "The disk is full.");
    EXPECT_EQ(a.message(), "ravlen couldn't save \"Report.pdf\". The disk is full.");
    EXPECT_EQ(a, ExportError::cannotWrite("Report.pdf", "The disk is full."));
    EXPECT_FALSE(a == ExportError::cannotWrite("Report.pdf", "That disk is read only."));
    EXPECT_FALSE(a == ExportError(ExportError::Kind::writeFailed));
}

TEST(ExportError, SaveFailureReasonsNameTheCommonCauses)
{
    struct Case {
        int code;
        QString reason;
    };
    const std::vector<Case> cases = {
        {EACCES, "You don't have permission to save there."},
        {EPERM, "You don't have permission to save there."},
        {ENOSPC, "The disk is full."},
        {EDQUOT, "The disk is full."},
        {EROFS, "That disk is read only."},
        {ENOENT, "The folder it would go in doesn't exist."},
        {EISDIR, "That name is a folder."},
        {EBUSY, "Device or resource busy."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Exporter::saveFailureReason(FileSystemError(c.code, "write /x")), c.reason) << c.code;

    // A permission error inside another failure still reads as one.
    try {
        try {
            throw FileSystemError(EACCES, "open");
        } catch (...) {
            std::throw_with_nested(std::runtime_error("The file could not be saved"));
        }
    } catch (const std::exception& wrapped) {
        EXPECT_EQ(Exporter::saveFailureReason(wrapped), "You don't have permission to save there.");
    }
    // The standard library's own file-system errors are understood as well.
    const std::filesystem::filesystem_error fs("copy", std::make_error_code(std::errc::read_only_file_system));
    EXPECT_EQ(Exporter::saveFailureReason(fs), "That disk is read only.");
    EXPECT_EQ(Exporter::saveFailureReason(std::runtime_error("Odd failure")), "Odd failure");
}

TEST(ExportFormats, RawValuesRoundTrip)
{
    for (ExportFormat f : allExportFormats) EXPECT_EQ(ExportFormats::fromRaw(ExportFormats::rawValue(f)), f);
    for (ExportScope s : allExportScopes) EXPECT_EQ(ExportScopes::fromRaw(ExportScopes::rawValue(s)), s);
    EXPECT_FALSE(ExportFormats::fromRaw("jpg"));
    EXPECT_EQ(ExportFormats::fileExtension(ExportFormat::jpeg), "jpg");
}
