// A long document's marks list and form fields come from workers: every mark
// and field is listed, and the UI thread keeps handling its events meanwhile
// (how long its longest turn takes is ravlen-sidebar-bench's to measure).
#include "Platform/UserDefaults.h"
#include "Quarn/Viewer/ViewerOnPages.h"
#include <QUndoStack> // before the view header, which keeps a QPointer to one
#include "Quarn/Markup/MarksList.h"
#include "Quarn/Forms/FormEditor.h"
#include "Quarn/Forms/FormWatcher.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Shell/DroppableWork.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <QTreeWidget>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace quarn;

namespace {

constexpr int pageCount = 300;
constexpr int fieldsPerPage = 8;

// Each page carries a column of text, a highlight over its first line (the
// list quotes the words under it) and a row of text fields; the catalog lists the fields.
QByteArray markedForm()
{
    std::string text = "BT /F1 10 Tf 72 740 Td 14 TL";
    for (int line = 0; line < 48; ++line)
        text += " (Line " + std::to_string(line + 1) + " of a long report on the quarterly figures) '";
    text += " ET";
    std::vector<std::string> objects(4);
    objects[2] = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";
    objects[3] = "<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream";
    std::string kids, fields;
    for (int i = 0; i < pageCount; ++i) {
        const int page = 5 + (2 + fieldsPerPage) * i, mark = page + 1;
        kids += std::to_string(page) + " 0 R ";
        std::string annots = std::to_string(mark) + " 0 R ";
        for (int f = 0; f < fieldsPerPage; ++f) {
            annots += std::to_string(mark + 1 + f) + " 0 R ";
            fields += std::to_string(mark + 1 + f) + " 0 R ";
        }
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /Font "
                          "<< /F1 3 0 R >> >> /Annots ["
                          + annots + "] >>");
        objects.push_back("<< /Type /Annot /Subtype /Highlight /Rect [70 720 300 740] /QuadPoints [70 740 300 740 70 "
                          "720 300 720] /C [1 1 0] >>");
        for (int f = 0; f < fieldsPerPage; ++f) {
            const std::string rect = std::to_string(40 + 70 * f) + " 40 " + std::to_string(100 + 70 * f) + " 60";
            objects.push_back("<< /Type /Annot /Subtype /Widget /FT /Tx /T (field " + std::to_string(i + 1) + "."
                              + std::to_string(f + 1) + ") /Rect [" + rect + "] /F 4 /DA (/Helv 12 Tf 0 g) >>");
        }
    }
    objects[0] = "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [" + fields + "] /DA (/Helv 12 Tf 0 g) >> >>";
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pageCount) + " >>";
    return testsupport::writePdf(objects, "1.7");
}

// Holds every worker of the pool the lists are read on until released, so
// that what the window does while they read shows on any machine, however fast.
class HeldWorkers {
public:
    HeldWorkers()
    {
        QThreadPool* pool = quarnkit::DroppableWork::shared().pool();
        const int count = pool->maxThreadCount();
        for (int i = 0; i < count; ++i)
            pool->start([state = state_] {
                std::unique_lock lock(state->mutex);
                ++state->held;
                state->changed.wait(lock, [&] { return state->released; });
            });
        // The window's events go on meanwhile: work queued before may need them to end.
        EXPECT_TRUE(testsupport::waitFor([&] {
            const std::lock_guard lock(state_->mutex);
            return state_->held == count;
        }));
    }
    ~HeldWorkers() { release(); }
    void release()
    {
        const std::lock_guard lock(state_->mutex);
        state_->released = true;
        state_->changed.notify_all();
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        int held = 0;
        bool released = false;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// The window's event loop turns a few times over; true once it has.
bool windowTurns()
{
    int turns = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++turns; });
    timer.start(0);
    return testsupport::waitFor([&] { return turns >= 20; });
}

struct LongWindow {
    QTemporaryDir folder;
    platform::UserDefaults defaults{folder.filePath(QStringLiteral("defaults.json"))};
    quarnkit::ReadingPositionStore positions{defaults};
    quarnkit::QuarnDocument document{platform::PdfDocument::openBytes(markedForm())};
    ViewerModel model{&defaults, &positions};
    QuarnPDFView view;

    LongWindow()
    {
        view.resize(700, 800);
        view.load(&document);
        model.setDocument(&document);
        showViewerOnPages(model, view);
        view.show();
        QApplication::processEvents();
        // Mapped on a worker; the lists read after it.
        EXPECT_TRUE(testsupport::waitFor([&] { return document.pageMapReady(); }));
        QApplication::processEvents();
    }
};

} // namespace

TEST(LongDocument, TheMarksListShowsEveryMarkReadByAWorkerWhileTheWindowAnswers)
{
    LongWindow w;
    MarksList list(&w.model, &w.document);
    list.resize(260, 600);
    HeldWorkers held;
    list.show();
    ASSERT_TRUE(windowTurns());
    EXPECT_TRUE(list.reading());
    EXPECT_FALSE(list.loaded()) << "read on the window's thread";
    held.release();
    ASSERT_TRUE(testsupport::waitFor([&] { return list.loaded() && !list.reading(); }));
    ASSERT_EQ(int(list.groups().size()), pageCount);
    EXPECT_EQ(list.summary(), QStringLiteral("300 marks on 300 pages"));
    EXPECT_EQ(list.tree()->topLevelItemCount(), pageCount);
    EXPECT_EQ(list.groups().back().pageIndex, pageCount - 1);
    EXPECT_TRUE(list.groups().back().entries.front().snippet.contains(QStringLiteral("Line 1 of a long report")))
        << list.groups().back().entries.front().snippet.toStdString();
}

TEST(LongDocument, TheFormWatcherFindsEveryFieldByAWorkerWhileTheWindowAnswers)
{
    LongWindow w;
    HeldWorkers held;
    FormWatcher::of(w.model).start(&w.model, &w.document);
    ASSERT_TRUE(windowTurns());
    EXPECT_TRUE(FormWatcher::of(w.model).reading());
    EXPECT_EQ(FormWatcher::of(w.model).fieldCount(), 0) << "read on the window's thread";
    held.release();
    ASSERT_TRUE(
        testsupport::waitFor([&] { return FormWatcher::of(w.model).fieldCount() == pageCount * fieldsPerPage; }));
    // Page by page, each page's row from the left.
    const auto& fields = FormWatcher::of(w.model).fields();
    ASSERT_EQ(int(fields.size()), pageCount * fieldsPerPage);
    for (int i = 0; i < int(fields.size()); ++i) {
        EXPECT_EQ(fields[i].page, i / fieldsPerPage);
        EXPECT_EQ(fields[i].name,
                  "field " + std::to_string(i / fieldsPerPage + 1) + "." + std::to_string(i % fieldsPerPage + 1));
    }
}

TEST(LongDocument, FillFieldsAskedForWhileTheFieldsAreReadStartsOnTheFirstField)
{
    LongWindow w;
    FormWatcher::of(w.model).start(&w.model, &w.document);
    ASSERT_TRUE(FormWatcher::of(w.model).reading());
    FormWatcher::of(w.model).focusFirstEmptyField();
    ASSERT_TRUE(testsupport::waitFor([&] { return FormWatcher::of(w.model).editor()->editingField().has_value(); }));
    EXPECT_EQ(*FormWatcher::of(w.model).editor()->editingField(),
              FormWatcher::of(w.model).fields().front().objectNumber);
}

TEST(LongDocument, EveryPageTakesItsOwnSizeOnceReadAndThePageAtTheTopStays)
{
    // 2,000 letter pages, page 1,500 landscape: the first screen is laid out
    // with every later page the size of page 1, until a worker reads them all.
    quarnkit::QuarnDocument document{platform::PdfDocument::openBytes(testsupport::makeBlankPagesPdf(2000, 1499))};
    ASSERT_FALSE(document.pageMapReady());
    document.holdPageMap(); // however slow the first screen, the pages are read after it
    bool read = false;
    QObject::connect(&document, &quarnkit::QuarnDocument::pageMapBuilt, [&] { read = true; });
    QuarnPDFView view;
    view.resize(700, 800);
    view.load(&document);
    view.show();
    QApplication::processEvents();
    ASSERT_EQ(view.pageCount(), 2000);
    const QRectF provisional = view.placement().pageRect(1499);
    EXPECT_LT(provisional.width(), provisional.height());
    // A page below the landscape one, which then moves in the layout.
    view.goToPage(1700);
    QApplication::processEvents();
    const int top = view.currentPageIndex();
    ASSERT_EQ(top, 1700);
    const double topY = view.placement().pageRect(top).top();

    document.releasePageMap();
    ASSERT_TRUE(testsupport::waitFor([&] { return read; }));
    EXPECT_TRUE(document.pageMapReady());
    const QRectF landscape = view.placement().pageRect(1499);
    EXPECT_NEAR(landscape.width() / landscape.height(), 792.0 / 612.0, 0.01);
    EXPECT_NEAR(landscape.width(), provisional.height(), 1.0);
    EXPECT_EQ(view.currentPageIndex(), top);
    EXPECT_NEAR(view.placement().pageRect(top).top(), topY, 1.0);
    const QRectF portrait = view.placement().pageRect(1498);
    EXPECT_NEAR(portrait.width() / portrait.height(), 612.0 / 792.0, 0.01);
}
