#include "Quarn/App/DocumentController.h"
#include "Quarn/App/DocumentWindow.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace quarn;

namespace {

// Windows read the standard settings: keep them away from the user's.
const bool privateConfig = testsupport::usePrivateConfigDir();

struct QuietController {
    DocumentController controller;
    QuietController()
    {
        controller.showFailure = [](const QString&, const QString&, QWidget*) {};
        controller.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
    }
    ~QuietController() { controller.closeAll(); }
};

} // namespace

// A file opened through a link and through its target is one document, and
// its window keeps the path the user opened, as the history records it.
TEST(LinkedDocument, OneWindowPerFileWhateverPathLeadsThere)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("papers"));
    const QString target = dir.filePath("papers/paper.pdf");
    ASSERT_TRUE(QFile::copy(QString::fromStdString(testsupport::corpusPath("pdflatex-4-pages.pdf")), target));
    const QString twin = dir.filePath("papers/twin.pdf");
    ASSERT_TRUE(QFile::copy(target, twin));
    const QString link = dir.filePath("shortcut.pdf");
    ASSERT_TRUE(QFile::link(target, link));
    ASSERT_TRUE(QFile::link(dir.filePath("papers"), dir.filePath("linked-folder")));

    QuietController c;
    DocumentWindow* opened = c.controller.openDocument(dir.path() + "/./shortcut.pdf");
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->filePath(), link) << "the link is kept, not resolved";

    EXPECT_EQ(c.controller.openDocument(target), opened);
    EXPECT_EQ(c.controller.openDocument(dir.filePath("linked-folder/paper.pdf")), opened);
    EXPECT_EQ(c.controller.windowFor(target), opened);
    EXPECT_EQ(c.controller.windows().size(), 1u);

    DocumentWindow* other = c.controller.openDocument(twin);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, opened) << "the same bytes in another file are another document";
    EXPECT_EQ(c.controller.windows().size(), 2u);
}
