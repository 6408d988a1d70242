#include "Quarn/Viewer/ShareMenu.h"
#include "Quarn/App/DocumentController.h"
#include "Quarn/Design/AccessiblePopover.h"

#include "Quarn/Design/ErrorAlert.h"
#include "Quarn/Shell/FileManager.h"
#include "Quarn/Viewer/DocumentActions.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QUrl>

#include <utility>

namespace quarn {

namespace {

// The failure of a share: a sheet on the window when there is one, else an
// application-modal alert. Neither blocks the caller.
void showShareFailure(QWidget* window, const QString& description)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QObject::tr("ravlen couldn't share this PDF."), QString(),
                                QMessageBox::Ok, window);
    setPlainTexts(*box, box->text(), description);
    openAlert(box, window);
}

// Hands the mail program Share's own copy of the document of `actions`.
void mailCopy(const QPointer<DocumentActions>& actions, const QPointer<QWidget>& window,
              const std::function<bool(const QString&, const QStringList&)>& start, const QPointer<ShareMenu>& menu)
{
    const auto fail = [window, menu](const QString& why) {
        if (menu) emit menu->failed(why);
        else showShareFailure(window, why);
    };
    if (!actions) return fail(QObject::tr("The window of this PDF has closed."));
    actions->makeMailFile([=, name = actions->shareName()](const DocumentActions::ShareFile& file) {
        if (file.mayShowLess) {
            // Asked as Share asks, once a document; a cancel is never reported.
            if (window && actions && DocumentController::askAboutLoss(window, name, QObject::tr("Share Anyway"))) {
                actions->acceptCopyLoss();
                mailCopy(actions, window, start, menu);
            }
            return;
        }
        if (!file.failure.isEmpty()) return fail(file.failure);
        const QStringList command = ShareMenu::emailCommand(file.path);
        if (!start || !start(command.first(), command.mid(1)))
            fail(QObject::tr("The mail program could not be started (xdg-email)."));
    });
}

} // namespace

void ShareMenu::offer(DocumentActions& actions, QWidget* anchor, QWidget* fallback)
{
    const QPointer<QWidget> window(fallback ? fallback->window() : anchor ? anchor->window() : nullptr);
    const QPointer<QWidget> under(anchor);
    const QPointer<QWidget> beside(fallback);
    // A second request while a copy is being made waits for that copy's menu.
    actions.makeShareFile([window, under, beside, held = QPointer<DocumentActions>(&actions),
                           name = actions.shareName()](const DocumentActions::ShareFile& file) {
        if (!window) return; // the window closed while the copy was made
        if (file.mayShowLess) {
            // Asked as Save As and Export ask, once a document; a cancel is never reported.
            if (held && DocumentController::askAboutLoss(window, name, tr("Share Anyway"))) {
                held->acceptCopyLoss();
                offer(*held, under, beside);
            }
            return;
        }
        if (!file.failure.isEmpty()) return showShareFailure(window, file.failure);
        // Under the Share button, else under the middle of the page view.
        QPoint at;
        QWidget* owner = nullptr;
        if (under && under->isVisible()) {
            owner = under;
            at = under->mapToGlobal(QPoint(0, under->height()));
        } else if (beside) {
            owner = beside;
            at = beside->mapToGlobal(QPoint(beside->width() / 2, beside->height() + 2));
        } else {
            return;
        }
        auto* menu = new ShareMenu(file.path, held, owner);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        connect(menu, &ShareMenu::failed, menu,
                [window](const QString& description) { showShareFailure(window, description); });
        popUpMenu(menu, at, MenuAsked::choices);
    });
}

ShareMenu::ShareMenu(const QString& filePath, DocumentActions* actions, QWidget* parent)
    : QMenu(parent), filePath_(filePath), actions_(actions)
{
    launch = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
    // Told over the window the menu was shown in: the menu is gone by the
    // time a slow failure comes.
    reveal = [this](const QString& path) { revealInFolder(path, parentWidget() ? parentWidget()->window() : nullptr); };

    email_ = addAction(tr("Email…"));
    copy_ = addAction(tr("Copy"));
    addSeparator();
    reveal_ = addAction(tr("Show in Folder"));

    connect(email_, &QAction::triggered, this, [this] {
        // Share's copy is made on a worker and the mail started back here;
        // a failure is said over the window once the menu is gone.
        mailCopy(actions_, parentWidget() ? parentWidget()->window() : nullptr, launch, this);
    });
    connect(copy_, &QAction::triggered, this,
            [this] { QGuiApplication::clipboard()->setMimeData(fileMimeData(filePath_)); });
    connect(reveal_, &QAction::triggered, this, [this] {
        if (reveal) reveal(filePath_);
    });
}

QStringList ShareMenu::emailCommand(const QString& filePath)
{
    return {QStringLiteral("xdg-email"), QStringLiteral("--attach"), QFileInfo(filePath).absoluteFilePath()};
}

QMimeData* ShareMenu::fileMimeData(const QString& filePath)
{
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(QFileInfo(filePath).absoluteFilePath())});
    return mime;
}

} // namespace quarn
