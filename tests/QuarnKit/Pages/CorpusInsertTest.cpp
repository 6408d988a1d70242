// Every PDF of the corpus, and pictures made from its first pages, inserted
// into a document: each either adds its pages, which survive a save that
// qpdf finds sound, or is refused with the error that says why.
#include "QuarnKit/Pages/PageEditor.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

using namespace quarnkit;
using platform::PdfDocument;

namespace {

// qpdf's verdict on a saved file: 0 sound, 3 warnings only, 2 errors.
int qpdfCheck(const QString& path)
{
    QProcess qpdf;
    qpdf.start("qpdf", {"--check", path});
    if (!qpdf.waitForFinished(60000)) return -1;
    return qpdf.exitCode();
}

} // namespace

TEST(CorpusInsert, EveryFileAddsItsPagesOrSaysWhyNot)
{
    QTemporaryDir dir;
    int added = 0, refused = 0;
    for (const std::string& file : testsupport::corpusPdfs()) {
        const QString path = QString::fromStdString(file);
        const QString name = QFileInfo(path).fileName();
        std::vector<QString> inputs{path};
        // Pictures of the file's first page, where it opens.
        try {
            auto source = PdfDocument::openFile(file);
            if (!source->isLocked() && source->pageCount() > 0) {
                const QImage picture = source->render(0, 0.5);
                for (const char* format : {"png", "jpg"}) {
                    const QString image = dir.filePath(QFileInfo(path).completeBaseName() + "." + format);
                    if (picture.save(image)) inputs.push_back(image);
                }
            }
        } catch (const platform::PdfError&) {}
        for (const QString& input : inputs) {
            SCOPED_TRACE(input.toStdString());
            std::vector<SourcePage> pages;
            try {
                pages = PageEditor::pages(input);
            } catch (const PageEditError& error) {
                ++refused;
                EXPECT_TRUE(error.code() == PageEditError::Code::locked
                            || error.code() == PageEditError::Code::unreadable);
                EXPECT_EQ(error.name(), QFileInfo(input).fileName());
                continue;
            }
            auto target = PdfDocument::openBytes(testsupport::makeTextPdf(2));
            const auto edit = PageEditor::insert(pages, 1, *target);
            ASSERT_TRUE(edit);
            EXPECT_EQ(target->pageCount(), 2 + int(pages.size()));
            const QString saved = dir.filePath("saved.pdf");
            target->saveToFile(testsupport::chosen(saved.toStdString()));
            EXPECT_NE(qpdfCheck(saved), 2);
            EXPECT_EQ(PdfDocument::openFile(saved.toStdString())->pageCount(), 2 + int(pages.size()));
            ++added;
        }
        (void)name;
    }
    EXPECT_GT(added, 40);
    EXPECT_GE(refused, 1); // the password-protected file
}
