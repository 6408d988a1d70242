#pragma once
// Shared by the tests that show a whole viewer screen: private settings, files
// written for a test, and a shown screen.
#include "Platform/UserDefaults.h"
#include "Quarn/App/ViewerScreen.h"
#include "Quarn/App/PageViewHost.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Viewer/ReadingPositions.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <memory>

namespace viewertest {

using testsupport::writeFile;

// A private settings file and position store per test.
struct Settings {
    QTemporaryDir dir;
    platform::UserDefaults defaults{dir.filePath("defaults.json")};
    quarnkit::ReadingPositionStore positions{defaults};
};

inline QString corpus(const char* name) { return QString::fromStdString(testsupport::corpusPath(name)); }

inline std::unique_ptr<quarn::ViewerScreen> showScreen(quarnkit::QuarnDocument* document, const QString& path,
                                                       Settings& settings)
{
    auto screen =
        std::make_unique<quarn::ViewerScreen>(document, path, nullptr, &settings.defaults, &settings.positions);
    screen->resize(1000, 760);
    screen->show();
    return screen;
}

// Runs the event loop until the screen has restored its reading position and
// its model has heard the page and the zoom of the view: the pages stand where they stay.
inline bool waitForPages(quarn::ViewerScreen& screen)
{
    return testsupport::waitFor([&screen] {
        const quarn::QuarnPDFView* view = screen.pageViewHost()->view();
        const quarn::ViewerModel& model = screen.model();
        return model.isReading() && model.pageIndex() == std::max(0, view->currentPageIndex())
               && std::abs(model.zoom() - view->scaleFactor()) < 0.001;
    });
}

} // namespace viewertest
