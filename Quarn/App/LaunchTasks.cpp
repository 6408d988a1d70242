#include "Quarn/App/LaunchTasks.h"

#include "Platform/UserDefaults.h"
#include "Quarn/App/DocumentController.h"
#include "Quarn/App/DocumentWindow.h"
#include "Quarn/Design/ErrorAlert.h"
#include "Quarn/Welcome/WelcomeController.h"
#include "QuarnKit/Shell/DefaultPDFHandler.h"
#include "QuarnKit/Viewer/ReadingPositions.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

namespace quarn {

namespace Handler = quarnkit::DefaultPDFHandler;

LaunchTasks::LaunchTasks(DocumentController& controller, platform::UserDefaults& defaults, QObject* parent)
    : QObject(parent), showWelcome([] { WelcomeController::shared().show(); }), controller_(controller),
      defaults_(defaults)
{}

void LaunchTasks::schedule() { QTimer::singleShot(delayMs, this, &LaunchTasks::perform); }

void LaunchTasks::perform()
{
    // A file named at launch that could not be opened: its alert is read
    // first, and the greeting follows once it is dismissed, never over it.
    if (QWidget* alert = controller_.openFailureAlert(); alert && !controller_.hasOpenDocuments()) {
        connect(alert, &QObject::destroyed, this, &LaunchTasks::perform, Qt::UniqueConnection);
        return;
    }
    if (quarnkit::ReaderPreferences::showWelcome(defaults_)) {
        controller_.closeOpenPanels();
        if (!controller_.hasOpenDocuments() && showWelcome) showWelcome();
    } else if (!controller_.hasOpenDocuments() && !controller_.openPanelVisible()) {
        controller_.runOpenPanel();
    }
    tellReplacedBaseFolders();
    claimDefaultHandler();
}

void LaunchTasks::setReplacedBaseFolders(std::vector<platform::PrivateFiles::ReplacedBaseFolder> replaced)
{
    replaced_ = std::move(replaced);
}

std::pair<QString, QString>
LaunchTasks::baseFolderNoticeText(const std::vector<platform::PrivateFiles::ReplacedBaseFolder>& replaced,
                                  const QString& runtimeFolder)
{
    const QString title = QApplication::translate("LaunchTasks", "ravlen is keeping its files for this session only.");
    QStringList folders, why;
    bool home = false;
    for (const auto& base : replaced) {
        folders << base.refused;
        why << base.problem;
        home = home || base.variable == QLatin1String("HOME");
    }
    why.removeDuplicates();
    QString detail =
        QApplication::translate("LaunchTasks", "Another user could change %1 (%2), so ravlen doesn't keep your "
                                               "settings, history or signatures there.")
            .arg(folders.join(QStringLiteral(", ")), why.join(QStringLiteral("; ")));
    // Explore then searches none of the user's folders: its empty list is no verdict on them.
    if (home)
        detail += u' '
                  + QApplication::translate("LaunchTasks", "Explore doesn't search your folders for PDFs this "
                                                           "session; File ▸ Open still opens any of them.");
    const QString kept = replaced.empty() ? QString() : replaced.front().replacement;
    if (kept.isEmpty()) {
        detail += u' '
                  + QApplication::translate("LaunchTasks",
                                            "This session keeps none of them: what you change now is not kept.");
        return {title, detail};
    }
    const QString folder = QFileInfo(kept).path();
    const bool runtime = !runtimeFolder.isEmpty() && folder.startsWith(QDir(runtimeFolder).absolutePath() + u'/');
    detail += u' '
              + (runtime ? QApplication::translate("LaunchTasks",
                                                   "This session keeps them in %1, which is emptied when you log "
                                                   "out: they will be gone then.")
                         : QApplication::translate("LaunchTasks",
                                                   "This session keeps them in %1, a temporary folder: they will be "
                                                   "gone once you log out or it is cleared."))
                    .arg(folder);
    return {title, detail};
}

QMessageBox* LaunchTasks::baseFolderNotice() const { return notice_; }

void LaunchTasks::tellReplacedBaseFolders()
{
    if (toldReplaced_ || replaced_.empty()) return;
    toldReplaced_ = true;
    const auto [title, detail] = baseFolderNoticeText(replaced_, QFile::decodeName(qgetenv("XDG_RUNTIME_DIR")));
    // Beside the first window, not over it: the window stays usable.
    QWidget* over = QApplication::activeWindow();
    if (!over && !controller_.windows().empty()) over = controller_.windows().back();
    auto* box =
        new QMessageBox(QMessageBox::Information, QApplication::applicationDisplayName(), {}, QMessageBox::Ok, over);
    setPlainTexts(*box, title, detail);
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    makeRoomForTitle(*box);
    notice_ = box;
    box->show();
}

void LaunchTasks::reopen()
{
    // Launched again: the newest document window comes forward, out of the
    // Dock or the taskbar if it was minimised; with none, the welcome.
    const std::vector<DocumentWindow*> windows = controller_.windows();
    if (windows.empty()) {
        if (!controller_.hasVisibleWindow() && showWelcome) showWelcome();
        return;
    }
    DocumentWindow* window = windows.back();
    if (window->isMinimized()) window->showNormal();
    window->raise();
    window->activateWindow();
}

void LaunchTasks::claimDefaultHandler()
{
    if (didClaim_) return;
    didClaim_ = true;
    // A copy run from a build folder never asks.
    const QString installFolder = QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/..")).absolutePath();
    if (!Handler::isInstalledCopy(installFolder) || Handler::declined(defaults_)) return;
    // The desktop is asked off the UI thread; the question follows its answer.
    Handler::query(this, [this](const Handler::HandlerState& state) {
        if (!state.isDefault) askToClaim();
    });
}

void LaunchTasks::askToClaim()
{
    Handler::claim([](std::optional<QString>) {},
                   [](std::function<void(bool)> answer) {
                       auto* box = new QMessageBox(
                           QMessageBox::Question, QApplication::applicationDisplayName(),
                           QApplication::translate("LaunchTasks", "Make ravlen the default app for PDF files?"),
                           QMessageBox::Yes | QMessageBox::No);
                       QObject::connect(box, &QMessageBox::finished, box,
                                        [answer](int result) { answer(result == QMessageBox::Yes); });
                       openAlert(box, nullptr);
                   },
                   defaults_);
}

} // namespace quarn
