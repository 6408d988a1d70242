#pragma once
// Shared by the tests that show a whole viewer screen: private settings, files
// written for a test, and a shown screen.
#include "Platform/UserDefaults.h"
#include "Quarn/App/ViewerScreen.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Viewer/ReadingPositions.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <memory>

namespace viewertest {

// A private settings file and position store per test.
struct Settings {
    QTemporaryDir dir;
    platform::UserDefaults defaults{dir.filePath("defaults.json")};
    quarnkit::ReadingPositionStore positions{defaults};
};

inline QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return path;
}

inline QString corpus(const char* name) { return QString::fromStdString(testsupport::corpusPath(name)); }

inline std::unique_ptr<quarn::ViewerScreen> showScreen(quarnkit::QuarnDocument* document, const QString& path,
                                                       Settings& settings)
{
    auto screen = std::make_unique<quarn::ViewerScreen>(document, path, nullptr, &settings.defaults,
                                                        &settings.positions);
    screen->resize(1000, 760);
    screen->show();
    return screen;
}

} // namespace viewertest
