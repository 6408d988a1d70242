// ravlen: opens the PDF files it is given, each in a window of its own, in
// the one ravlen process of the user.
#include "Platform/FontConfiguration.h"
#include "Platform/PrivateFiles.h"
#include "Platform/UserDefaults.h"
#include "Quarn/App/DocumentController.h"
#include "Quarn/App/LaunchTimes.h"
#include "Quarn/App/LaunchTasks.h"
#include "Quarn/App/SingleInstance.h"
#include "Quarn/Crash/CrashReporter.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/Motion.h"
#include "Quarn/History/HistoryHooks.h"
#include "Quarn/Shell/WindowEvents.h"
#include "Quarn/Update/UpdateCommands.h"
#include "QuarnKit/Crash/CrashIdentity.h"
#include "QuarnKit/History/HistoryLibrary.h"
#include "QuarnKit/History/PageThumbnail.h"
#include "QuarnKit/Document/DocumentSaver.h"
#include "QuarnKit/Document/NativePaths.h"
#include "QuarnKit/Explore/ExploreIndex.h"
#include "QuarnKit/Shell/DroppableWork.h"
#include "QuarnKit/Viewer/TileRenderer.h"

#include <QApplication>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <utility>
#include <vector>

#include <unistd.h>

int main(int argc, char** argv)
{
    // Before anything reads them, starts a program or a thread: neither
    // ravlen nor a library or helper of ours keeps files in, or reads them
    // from, a temporary, runtime, home or base folder (configuration, data,
    // state, cache) that another user holds. Each one passed over is said
    // once, here.
    if (const auto problem = platform::PrivateFiles::replaceForeignTemporaryFolder())
        qWarning("ravlen: not using the temporary folder: %s. This run uses %s instead.", qUtf8Printable(*problem),
                 qgetenv("TMPDIR").isEmpty() ? "none" : qgetenv("TMPDIR").constData());
    if (const auto problem = platform::PrivateFiles::replaceForeignRuntimeFolder())
        qWarning("ravlen: not using the runtime folder: %s. This run uses %s instead.", qUtf8Printable(*problem),
                 qgetenv("XDG_RUNTIME_DIR").isEmpty() ? "none" : qgetenv("XDG_RUNTIME_DIR").constData());
    std::vector<platform::PrivateFiles::ReplacedBaseFolder> replacedBases;
    if (auto home = platform::PrivateFiles::replaceForeignHome()) replacedBases.push_back(std::move(*home));
    for (auto& base : platform::PrivateFiles::replaceForeignBaseFolders()) replacedBases.push_back(std::move(base));
    for (const auto& base : replacedBases)
        qWarning("ravlen: not keeping files in %s (%s): %s. %s", qUtf8Printable(base.refused),
                 qUtf8Printable(base.variable), qUtf8Printable(base.problem),
                 base.replacement.isEmpty()
                     ? "This run keeps none of them."
                     : qUtf8Printable(QStringLiteral("This run keeps them in %1.").arg(base.replacement)));
    // Then at once, so that a crash anywhere after this leaves a report.
    platform::CrashHandler::install(quarnkit::crashIdentity());
    // A file that would grow past the file-size limit is a write that fails,
    // told as a full disk is, not the end of the program with the file cut short.
    std::signal(SIGXFSZ, SIG_IGN);
    quarn::launchTimes::mark("main");
    // Read while Qt starts: the first window's text needs it.
    platform::FontConfiguration::loadInBackground();
    // Open and Save As through the desktop's own dialogs (GNOME's, KDE's), by
    // way of the XDG desktop portal, unless a platform theme was chosen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORMTHEME")) qputenv("QT_QPA_PLATFORMTHEME", "xdgdesktopportal");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ravlen"));
    QApplication::setApplicationDisplayName(QStringLiteral("ravlen"));
    QApplication::setDesktopFileName(QStringLiteral("ravlen"));
    // Before any file dialog remembers a folder the user visited.
    platform::PrivateFiles::makeDialogStatePrivate();
    // Dark before any window exists.
    quarn::applyDarkAppearance(app);
    // Read once, off the UI thread, before any window could animate.
    quarn::motion::readAtStart();
    quarn::launchTimes::mark("application");
    quarn::WindowEvents::offerMenusOnShiftF10();

    // From the bytes themselves (Qt has taken its own options out of argv):
    // arguments() would turn a name that is not UTF-8 into another name.
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << quarnkit::pathFromNative(argv[i]);
    const QStringList files = quarn::DocumentController::filesFromArguments(arguments);

    quarn::SingleInstance instance;
    if (!instance.claim() && instance.handOver(files)) return 0;

    // Before any document: the reader every saved file is read back with
    // starts now, not at the first save, where memory may be short and a
    // library that fails to start ends the program.
    if (!quarnkit::DocumentSaver::loadReadBack())
        qWarning("ravlen: the reader that checks saved files cannot be loaded; this run refuses saves as "
                 "unverified.");

    quarn::DocumentController& controller = quarn::DocumentController::shared();
    quarn::attachHistory(controller, quarnkit::HistoryLibrary::shared());
    quarn::LaunchTasks launch(controller, platform::UserDefaults::standard());
    // Said in the window too: where this session's settings are, and that they go at logout.
    launch.setReplacedBaseFolders(replacedBases);
    QObject::connect(&instance, &quarn::SingleInstance::filesReceived, &launch, [&](const QStringList& received) {
        if (received.isEmpty()) launch.reopen();
        else controller.openDocuments(received);
    });

    controller.openDocuments(files);
    launch.schedule();
    quarn::startUpdater();
    // Work folders of earlier runs that no running copy holds, once a day has
    // passed over them (what they shared with other programs stays that long).
    quarnkit::DroppableWork::shared().start([] {
        platform::PrivateFiles::PrivateWorkFolder::standard().removeLeftovers(std::chrono::system_clock::now()
                                                                              - std::chrono::hours(24));
    });
    // Crash reports of earlier runs: looked for a few seconds from now.
    quarn::CrashReporter::shared().start();
    // The file index keeps up with the user's PDFs at idle priority, from
    // once the first windows are up.
    QTimer::singleShot(std::chrono::seconds(10), &app, [] { quarnkit::ExploreIndex::indexer().start(); });
    const int result = app.exec();
    // What was only for the screen is called off first: its workers stop
    // while the rest below is written.
    quarnkit::PageThumbnail::abandonAll();
    quarnkit::DroppableWork::shared().drop(0);
    quarnkit::TileRenderer::workerPool().clear();
    quarnkit::ExploreIndex::indexer().stop();
    // The windows have recorded their page counts as they closed: on disk now.
    quarnkit::HistoryLibrary::flushShared();
    platform::UserDefaults::standard().synchronize();
    // A file being written (pages extracted, a print's spool, an export
    // finishing its cancel) is finished, however long it takes.
    QThreadPool::globalInstance()->waitForDone();
    // Screen work still running is abandoned after a moment, not waited for:
    // a crafted page can keep a decoder busy for long after its window
    // stopped it (a single huge image cannot be called off halfway).
    if (!quarnkit::DroppableWork::shared().drop(200) || !quarnkit::TileRenderer::workerPool().waitForDone(200)) {
        std::fflush(nullptr);
        ::_exit(result);
    }
    return result;
}
