// The forms banner: shown for a PDF with fields, taking no room without;
// hidden for good by its close button; "Fill fields" starts the filling.
#include "Quarn/Forms/FormWatcherHarness.h"
#include "Quarn/Markup/MarkupModel.h"
#include "Quarn/App/ViewerScreen.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>

using namespace quarn;
using quarn::testing::FormWindow;

namespace {

QStringList texts(const QWidget* banner)
{
    QStringList result;
    for (const QLabel* label : banner->findChildren<QLabel*>())
        if (!label->text().isEmpty()) result << label->text();
    return result;
}

} // namespace

TEST(FormsBannerTest, ShownForADocumentWithFields)
{
    FormWindow w("pdflatex-forms.pdf");
    EXPECT_TRUE(w.banner->isShown());
    EXPECT_FALSE(w.banner->isDismissed());
    EXPECT_EQ(w.banner->height(), 37); // the row and the hairline under it
    EXPECT_TRUE(w.banner->fillButton()->isVisible());
    EXPECT_EQ(w.banner->fillButton()->text(), QStringLiteral("Fill fields"));
    EXPECT_EQ(w.banner->fillButton()->toolTip(), QStringLiteral("Switch to Select and start in the first empty field"));
    EXPECT_EQ(w.banner->closeButton()->toolTip(), QStringLiteral("Hide this note"));
    const QStringList shown = texts(w.banner);
    EXPECT_TRUE(shown.contains(QStringLiteral("This PDF has fields you can fill.")));
    EXPECT_TRUE(shown.contains(QStringLiteral("Tab moves to the next one.")));
}

TEST(FormsBannerTest, NotShownForADocumentWithoutFields)
{
    FormWindow w(quarnkit::QuarnDocument::fromData(testsupport::makeTextPdf(2)));
    EXPECT_FALSE(w.banner->isShown());
    EXPECT_EQ(w.banner->height(), 0); // no room and no hairline
    EXPECT_FALSE(w.banner->fillButton()->isVisible());
    // The watcher runs all the same.
    EXPECT_EQ(FormWatcher::of(*w.model).fieldCount(), 0);
    EXPECT_TRUE(w.forms().editor());
}

TEST(FormsBannerTest, HidingLastsForTheWindow)
{
    FormWindow w("pdflatex-forms.pdf");
    QTest::mouseClick(w.banner->closeButton(), Qt::LeftButton);
    EXPECT_TRUE(w.banner->isDismissed());
    EXPECT_FALSE(w.banner->isShown());
    // It fades out, then gives its room back.
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.banner->height() == 0; }, 5000));
    EXPECT_FALSE(w.banner->fillButton()->isVisible());

    // An edit rescans and finds the fields again; the banner stays hidden.
    w.click("Check");
    w.document->noteEditOfPage(0);
    QApplication::processEvents();
    EXPECT_EQ(FormWatcher::of(*w.model).fieldCount(), 2);
    EXPECT_FALSE(w.banner->fillButton()->isVisible());

    // Another window of the same file shows it again.
    FormWindow again("pdflatex-forms.pdf");
    EXPECT_TRUE(again.banner->isShown());
}

TEST(FormsBannerTest, FillFieldsChoosesSelectAndStartsInTheFirstEmptyField)
{
    FormWindow w("libreoffice-form.pdf");
    MarkupModel::of(*w.model).setTool(quarnkit::MarkupTool::pen);
    QApplication::processEvents();
    QTest::mouseClick(w.banner->fillButton(), Qt::LeftButton);
    EXPECT_EQ(MarkupModel::of(*w.model).tool(), quarnkit::MarkupTool::select);
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.editor().editingField().has_value(); }, 5000));
    EXPECT_EQ(w.editing(), "Last Name"); // "First Name" is filled in the sample
    // "Fill fields" leaves the banner up.
    EXPECT_TRUE(w.banner->isShown());
}

// ---------------------------------------------------------------- in the document window's content

namespace {

struct ScreenWindow {
    QTemporaryDir dir;
    platform::UserDefaults defaults{dir.filePath(QStringLiteral("defaults.json"))};
    quarnkit::ReadingPositionStore positions{defaults};
    std::unique_ptr<quarnkit::QuarnDocument> document;
    std::unique_ptr<ViewerScreen> screen;

    explicit ScreenWindow(std::unique_ptr<quarnkit::QuarnDocument> opened) : document(std::move(opened))
    {
        screen = std::make_unique<ViewerScreen>(document.get(), QString(), nullptr, &defaults, &positions);
        screen->resize(1000, 760);
        screen->show();
        QApplication::processEvents();
    }
};

} // namespace

TEST(FormsBannerTest, TheViewerScreenShowsItAboveThePagesOnlyForForms)
{
    ScreenWindow form(
        quarnkit::QuarnDocument::open(QString::fromStdString(testsupport::corpusPath("pdflatex-forms.pdf"))));
    FormBanner* banner = form.screen->formsBanner();
    ASSERT_TRUE(banner);
    // Once a worker has read the fields.
    EXPECT_TRUE(testsupport::waitFor([&] { return banner->isShown(); }));
    EXPECT_EQ(FormWatcher::of(form.screen->model()).fieldCount(), 2);
    ASSERT_TRUE(form.screen->pageViewHost());
    const QPoint bannerAt = banner->mapTo(form.screen.get(), QPoint(0, 0));
    const QPoint canvasAt = form.screen->pageViewHost()->mapTo(form.screen.get(), QPoint(0, 0));
    EXPECT_EQ(bannerAt.y() + banner->height(), canvasAt.y());

    ScreenWindow plain(quarnkit::QuarnDocument::fromData(testsupport::makeTextPdf(1)));
    ASSERT_TRUE(plain.screen->formsBanner());
    EXPECT_FALSE(plain.screen->formsBanner()->isShown());
    EXPECT_EQ(plain.screen->formsBanner()->height(), 0);
}
