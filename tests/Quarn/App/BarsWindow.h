#pragma once
// A document window in small for the bar and menu tests: a page view of a
// generated document, the find bar and the status bar under it, and the
// application's menus, all on one viewer model with its own settings file.
#include "Platform/UserDefaults.h"
#include "Quarn/Viewer/ViewerOnPages.h"
#include "Quarn/Find/FindModel.h"
#include "Quarn/Find/FindOnPages.h"
#include "Quarn/Markup/MarkupModel.h"
#include "Quarn/Markup/MarkupOnPages.h"
#include "Quarn/Shell/QuarnCommands.h"
#include "Quarn/Find/FindBar.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/StatusBar.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "support/PageViewSupport.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace quarn::testing {

class BarsWindow {
public:
    explicit BarsWindow(int pages = 12, const std::string& words = "Cat cat concat cats")
    {
        auto* content = new QWidget;
        auto* column = new QVBoxLayout(content);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        view = new QuarnPDFView;
        column->addWidget(view, 1);
        findBar = new FindBar(&FindModel::of(model), content);
        column->addWidget(findBar);
        statusBar = new StatusBar(&model, content);
        column->addWidget(statusBar);
        window.setCentralWidget(content);
        commands = new QuarnCommands(window.menuBar(), &model, &window);
        // As the viewer screen does: typing searches after a short pause.
        QObject::connect(&FindModel::of(model), &FindModel::queryChanged, &model,
                         [this] { FindModel::of(model).start(160); });

        testsupport::showPdf(*view, platform::PdfDocument::openBytes(testsupport::makeTextPdf(pages, words)));
        showViewerOnPages(model, *view);
        showFindOnPages(FindModel::of(model), *view);
        showMarkupOnPages(MarkupModel::of(model), *view);
        statusBar->setPageTotal(pages);
        window.resize(900, 700);
        window.show();
        QApplication::setActiveWindow(&window);
        (void)QTest::qWaitForWindowActive(&window);
        QApplication::processEvents();
        model.start();
        attachViewerToPages(model, *view);
        (void)waitForReports();
    }
    ~BarsWindow() { model.stop(); }

    // Runs the event loop until the search asked for has begun and ended.
    bool waitForSearch()
    {
        const FindModel& find = FindModel::of(model);
        return QTest::qWaitFor([&find] { return !find.searchPending() && !find.searching(); }, 10000);
    }
    // Runs the event loop until the model (and so the status bar) has heard the
    // page and the zoom of the view, which reports them on the next turn.
    bool waitForReports()
    {
        return testsupport::waitFor([this] {
            return model.isReading() && model.pageIndex() == std::max(0, view->currentPageIndex())
                   && std::abs(model.zoom() - view->scaleFactor()) < 0.001;
        });
    }
    // Waits until a search has run for the current query and ended.
    bool waitForMatches()
    {
        return QTest::qWaitFor([this] { return FindModel::of(model).count() > 0 && !FindModel::of(model).searching(); },
                               10000);
    }

    QTemporaryDir folder;
    platform::UserDefaults defaults{folder.filePath(QStringLiteral("defaults.json"))};
    quarnkit::ReadingPositionStore positions{defaults};
    ViewerModel model{&defaults, &positions};
    QMainWindow window;
    QuarnPDFView* view = nullptr;
    FindBar* findBar = nullptr;
    StatusBar* statusBar = nullptr;
    QuarnCommands* commands = nullptr;
};

} // namespace quarn::testing
