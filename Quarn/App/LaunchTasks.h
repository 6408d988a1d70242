#pragma once
// What the application does 0.2 s after it has started: the welcome window
// or the Open panel when nothing is open, then, once per run, the notice of
// base folders passed over and the offer to become the default PDF
// application.
#include "Platform/PrivateFiles.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <utility>
#include <vector>

class QMessageBox;

namespace platform {
class UserDefaults;
}

namespace quarn {

class DocumentController;

class LaunchTasks : public QObject {
    Q_OBJECT
public:
    LaunchTasks(DocumentController& controller, platform::UserDefaults& defaults, QObject* parent = nullptr);

    static constexpr int delayMs = 200;
    // Runs perform() once, delayMs from now.
    void schedule();
    void perform();
    // A launch with no file while running: the welcome window when nothing is visible.
    void reopen();
    bool didClaim() const { return didClaim_; }
    // How the welcome window is shown: the application's by default.
    std::function<void()> showWelcome;

    // The base folders this run keeps ravlen's files in place of the
    // user's (replaceForeignBaseFolders): told once, after the first window,
    // in a notice that waits for no answer.
    void setReplacedBaseFolders(std::vector<platform::PrivateFiles::ReplacedBaseFolder> replaced);
    QMessageBox* baseFolderNotice() const;
    // The notice's two lines: what happens, then where and for how long.
    static std::pair<QString, QString>
    baseFolderNoticeText(const std::vector<platform::PrivateFiles::ReplacedBaseFolder>& replaced,
                         const QString& runtimeFolder);

private:
    void askToClaim();
    void claimDefaultHandler();
    void tellReplacedBaseFolders();
    DocumentController& controller_;
    platform::UserDefaults& defaults_;
    bool didClaim_ = false;
    std::vector<platform::PrivateFiles::ReplacedBaseFolder> replaced_;
    bool toldReplaced_ = false;
    QPointer<QMessageBox> notice_;
};

} // namespace quarn
