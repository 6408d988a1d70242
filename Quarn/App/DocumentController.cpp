#include "Quarn/App/DocumentController.h"

#include "Quarn/Design/ErrorAlert.h"
#include "Quarn/App/DocumentWindow.h"
#include "Quarn/App/LaunchTimes.h"
#include "QuarnKit/Document/NativePaths.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Document/SaveRefusal.h"
#include "QuarnKit/History/HistoryLibrary.h"
#include "QuarnKit/History/HistoryLocator.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"
#include "QuarnKit/Viewer/ReadingPositions.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QThreadPool>
#include <QWindow>

#include <sys/stat.h>

namespace quarn {

using quarnkit::DocumentError;
using quarnkit::QuarnDocument;

namespace {

DocumentController::CloseAnswer askWithDialog(DocumentWindow& window)
{
    // The question is the dialog's text: window managers cut titles short,
    // and some drop them from attached dialogs.
    QMessageBox box(
        QMessageBox::Warning, QApplication::applicationDisplayName(),
        DocumentController::tr("Do you want to save the changes made to the document “%1”?").arg(window.displayName()),
        QMessageBox::NoButton, &window);
    box.setTextFormat(Qt::PlainText); // it names the file as it is called
    box.setInformativeText(DocumentController::tr("Your changes will be lost if you don't save them."));
    QPushButton* save = box.addButton(DocumentController::tr("Save"), QMessageBox::AcceptRole);
    QPushButton* discard = box.addButton(DocumentController::tr("Don't Save"), QMessageBox::DestructiveRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(save);
    QAbstractButton* chosen = askAndWait(box, &window);
    if (chosen == save) return DocumentController::CloseAnswer::save;
    if (chosen == discard) return DocumentController::CloseAnswer::discard;
    return DocumentController::CloseAnswer::cancel;
}

DocumentController::ChangedFileAnswer askAboutChangeWithDialog(DocumentWindow& window, const QString& written)
{
    using Answer = DocumentController::ChangedFileAnswer;
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(),
                    DocumentController::tr("The file “%1” has been changed by another program since you opened it.")
                        .arg(window.displayName()),
                    QMessageBox::NoButton, &window);
    // The file written over is named when the name leads elsewhere.
    const QString question =
        written.isEmpty()
            ? DocumentController::tr("Do you want to write your version over it, or save your version as a new file?")
            : DocumentController::tr("Its name now leads to “%1”. Do you want to write your version over that file, "
                                     "or save your version as a new file?")
                  .arg(written);
    setPlainTexts(box, box.text(), question); // they name the files as they are called
    QPushButton* overwrite = box.addButton(DocumentController::tr("Overwrite"), QMessageBox::DestructiveRole);
    QPushButton* elsewhere = box.addButton(DocumentController::tr("Save As…"), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(elsewhere);
    QAbstractButton* chosen = askAndWait(box, &window);
    if (chosen == overwrite) return Answer::overwrite;
    if (chosen == elsewhere) return Answer::saveElsewhere;
    return Answer::cancel;
}

void bringForward(DocumentWindow* window)
{
    if (window->isMinimized()) window->showNormal();
    window->raise();
    window->activateWindow();
}

// A warning on the window with one action beside Cancel; true when the user
// took the action.
bool askActionWithDialog(QWidget* window, const QString& text, const QString& reason, const QString& action,
                         QMessageBox::ButtonRole role, bool actionIsDefault)
{
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(), text, QMessageBox::NoButton, window);
    setPlainTexts(box, text, reason); // they name the file as it is called
    QPushButton* button = box.addButton(action, role);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(actionIsDefault ? button : cancel);
    return askAndWait(box, window) == button;
}

bool confirmReplaceWithDialog(DocumentWindow& window, const QString& name, const QString& written)
{
    return DocumentController::askToReplace(&window, name, written);
}

bool confirmLossyCopyWithDialog(DocumentWindow& window, const QString& text, const QString& reason)
{
    return askActionWithDialog(&window, text, reason, DocumentController::tr("Save Anyway"), QMessageBox::AcceptRole,
                               false);
}

} // namespace

bool DocumentController::askToReplace(QWidget* parent, const QString& name, const QString& written)
{
    const QString reason =
        written.isEmpty()
            ? DocumentController::tr("Replacing it overwrites its current contents.")
            : DocumentController::tr("It is a link: replacing it writes over “%1”, where it leads.").arg(written);
    return askActionWithDialog(parent, tr("“%1” already exists. Do you want to replace it?").arg(name), reason,
                               tr("Replace"), QMessageBox::DestructiveRole, false);
}

bool DocumentController::askAboutLoss(QWidget* parent, const QString& name, const QString& action)
{
    return askActionWithDialog(parent, tr("“%1” may show less than the original in other programs.").arg(name),
                               QString::fromUtf8(DocumentError::message(DocumentError::Code::fileWriteCopyShowsLess)),
                               action, QMessageBox::AcceptRole, false);
}

namespace {

const QString refusalAlertName = QStringLiteral("ravlenSaveRefusal");

// The refusal of a save with a button for each thing that still works: the
// first of them is the default, so that Return takes the way out the text
// names first. Revert loses the changes: never the default.
DocumentController::RefusalAnswer offerWhatStillWorksWithDialog(DocumentWindow& window, const QString& text,
                                                                const QString& reason,
                                                                const quarnkit::SaveRemedies& offered)
{
    using Answer = DocumentController::RefusalAnswer;
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(), text, QMessageBox::NoButton, &window);
    box.setObjectName(refusalAlertName);
    setPlainTexts(box, text, reason); // they name the file as it is called
    QPushButton* saveAs =
        offered.saveAs ? box.addButton(DocumentController::tr("Save As…"), QMessageBox::AcceptRole) : nullptr;
    QPushButton* exportCopy = offered.exportPdf || offered.exportImages || offered.exportFlattened
                                  ? box.addButton(DocumentController::tr("Export…"), QMessageBox::ActionRole)
                                  : nullptr;
    QPushButton* revert =
        offered.revert ? box.addButton(DocumentController::tr("Revert"), QMessageBox::DestructiveRole) : nullptr;
    QPushButton* close = box.addButton(offered.any() ? QMessageBox::Cancel : QMessageBox::Ok);
    box.setDefaultButton(saveAs ? saveAs : exportCopy ? exportCopy : close);
    box.setEscapeButton(close);
    QAbstractButton* chosen = askAndWait(box, &window);
    if (saveAs && chosen == saveAs) return Answer::saveAs;
    if (exportCopy && chosen == exportCopy) return Answer::exportCopy;
    if (revert && chosen == revert) return Answer::revert;
    return Answer::dismiss;
}

QString chooseSaveAsPathWithDialog(DocumentWindow& window, const QString& proposed)
{
    // The desktop's own dialog where the platform theme offers one.
    // The question about a file there is ours: it names the file written over.
    return QFileDialog::getSaveFileName(&window, DocumentController::tr("Save As"), proposed,
                                        DocumentController::tr("PDF documents (*.pdf)"), nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

const QString failureAlertName = QStringLiteral("ravlenFailureAlert");

void alertWithDialog(const QString& text, const QString& reason, QWidget* parent)
{
    auto* box =
        new QMessageBox(QMessageBox::Warning, QApplication::applicationDisplayName(), text, QMessageBox::Ok, parent);
    box->setObjectName(failureAlertName);
    setPlainTexts(*box, text, reason); // they name the file as it is called
    openAlert(box, parent);
}

} // namespace

DocumentController::DocumentController(QObject* parent)
    : QObject(parent), askToSaveChanges(askWithDialog), askAboutChangedFile(askAboutChangeWithDialog),
      confirmReplace(confirmReplaceWithDialog), showFailure(alertWithDialog),
      offerWhatStillWorks(offerWhatStillWorksWithDialog), chooseSaveAsPath(chooseSaveAsPathWithDialog),
      confirmLossyCopy(confirmLossyCopyWithDialog), confirmKeptPages(confirmLossyCopyWithDialog)
{}

DocumentController::~DocumentController()
{
    for (const QPointer<DocumentWindow>& window : windows_) delete window.data();
    delete openPanel_.data();
}

DocumentController& DocumentController::shared()
{
    static DocumentController* controller = new DocumentController(qApp);
    return *controller;
}

QString DocumentController::fileKey(const QString& path) { return quarnkit::standardizedPath(path); }

QStringList DocumentController::filesFromArguments(const QStringList& arguments)
{
    QStringList files;
    bool optionsEnded = false;
    for (const QString& argument : arguments) {
        if (!optionsEnded && argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        struct stat info = {};
        if (!optionsEnded && argument.startsWith(QLatin1Char('-'))
            && ::stat(quarnkit::nativePath(argument).constData(), &info) != 0)
            continue;
        files << QFileInfo(argument).absoluteFilePath();
    }
    return files;
}

std::vector<DocumentWindow*> DocumentController::windows() const
{
    std::vector<DocumentWindow*> open;
    for (const QPointer<DocumentWindow>& window : windows_)
        if (window) open.push_back(window);
    return open;
}

bool DocumentController::hasVisibleWindow() const
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && !widget->isMinimized() && widget->windowType() != Qt::ToolTip
            && widget->windowType() != Qt::Popup)
            return true;
    return false;
}

DocumentWindow* DocumentController::windowFor(const QString& path) const
{
    // By device and inode, so that a file opened through a link and through
    // its target is one document, while each window keeps the path it was given.
    for (DocumentWindow* window : windows())
        if (!window->filePath().isEmpty() && quarnkit::sameFile(window->filePath(), path)) return window;
    return nullptr;
}

DocumentWindow* DocumentController::openDocument(const QString& path)
{
    if (DocumentWindow* open = windowFor(path)) {
        bringForward(open);
        return open;
    }
    std::unique_ptr<QuarnDocument> document;
    try {
        document = QuarnDocument::open(path);
    } catch (const DocumentError& error) {
        // The library's own words are for the log; the user reads a plain sentence.
        qWarning("ravlen: cannot open %s: %s", qPrintable(path), error.reason().c_str());
        QWidget* parent = QApplication::activeWindow();
        if (showFailure)
            showFailure(tr("The document “%1” could not be opened.").arg(QFileInfo(path).fileName()),
                        QString::fromUtf8(DocumentError::message(error.code())), parent);
        return nullptr;
    }
    return showNewWindow(std::move(document), path, [this, &path](const QString& reason) {
        if (showFailure)
            showFailure(tr("The document “%1” could not be opened.").arg(QFileInfo(path).fileName()), reason,
                        QApplication::activeWindow());
    });
}

QPoint DocumentController::cascadedPlace(const QRect& previous, const QSize& frameSize, const QRect& available)
{
    QPoint place = previous.topLeft() + QPoint(cascadeStep, cascadeStep);
    if (place.y() + frameSize.height() > available.bottom() + 1) place.setY(available.top());
    if (place.x() + frameSize.width() > available.right() + 1) place.setX(available.left());
    return place;
}

namespace {

// Until the window manager has shown one of the windows, the frame it adds is
// unknown: as much as common title bars and borders take is assumed, so that a
// cascade wraps a little early rather than off the screen.
constexpr QMargins assumedFrame(8, 48, 8, 8);

// Whether the window manager has shown the window: from then on its place and
// its frame are known, before that only what was asked for.
bool isPlaced(const QWidget& window)
{
    const QWindow* handle = window.windowHandle();
    return handle && handle->isExposed();
}

} // namespace

void DocumentController::placeAfterLastWindow(DocumentWindow& window)
{
    DocumentWindow* last = nullptr;
    for (const QPointer<DocumentWindow>& shown : windows_)
        if (shown && shown->isVisible()) last = shown;
    if (!last) return; // the first goes where the window manager puts it
    const QScreen* screen = last->QWidget::screen();
    if (!screen) return;
    std::optional<QMargins> frame;
    for (const QPointer<DocumentWindow>& shown : windows_)
        if (shown && isPlaced(*shown)) frame = shown->windowHandle()->frameMargins();
    const QMargins margins = frame.value_or(assumedFrame);
    QRect lastFrame;
    if (isPlaced(*last)) {
        lastFrame = last->frameGeometry();
    } else {
        // Opened in the same burst and not shown yet: its frame stands where it
        // was put. The first of a burst, left to the window manager, whose
        // place is not known yet, is put in the middle of the screen, where
        // window managers commonly put a first window, so that the next ones
        // step on from it.
        lastFrame = QRect(last->pos(), last->size().grownBy(margins));
        if (!last->testAttribute(Qt::WA_Moved) && last->windowHandle()) {
            lastFrame.moveCenter(screen->availableGeometry().center());
            // Its frame's corner, as for the windows placed before they show.
            last->windowHandle()->setFramePosition(lastFrame.topLeft());
            last->setAttribute(Qt::WA_Moved);
        }
    }
    window.move(cascadedPlace(lastFrame, window.size().grownBy(margins), screen->availableGeometry()));
}

DocumentWindow* DocumentController::showNewWindow(std::unique_ptr<QuarnDocument> document, const QString& path,
                                                  const std::function<void(const QString& reason)>& failed)
{
    DocumentWindow* window = nullptr;
    try {
        window = new DocumentWindow(std::move(document), fileKey(path), *this);
    } catch (const std::exception& error) {
        // A file handed to the running process never ends it, nor its other windows.
        qWarning("ravlen: cannot show %s: %s", qPrintable(path), error.what());
        failed(QString::fromUtf8(DocumentError::message(DocumentError::Code::fileReadCorruptFile)));
        return nullptr;
    }
    placeAfterLastWindow(*window);
    windows_.emplace_back(window);
    window->show();
    launchTimes::mark("window");
    quarnkit::settleInBackground(*window->document());
    window->raise();
    window->activateWindow();
    emit windowsChanged();
    return window;
}

void DocumentController::openDocumentReporting(const QString& path,
                                               std::function<void(const quarnkit::OpenOutcome&)> done)
{
    using quarnkit::OpenOutcome;
    struct Read {
        int openIn = -1; // the window among those looked at that shows the file
        QuarnDocument::Parsed pdf;
        std::optional<DocumentError> error;
    };
    // Whether the file is open already is asked on the worker too: it looks
    // at every window's file on disk.
    const std::vector<DocumentWindow*> open = windows();
    std::vector<QPointer<DocumentWindow>> looked(open.begin(), open.end());
    QStringList openPaths;
    for (DocumentWindow* window : open) openPaths << window->filePath();
    // Only this shared pointer crosses threads; what it holds is used on the UI thread alone.
    auto finish = std::make_shared<std::function<void(const Read&)>>(
        [this, guard = QPointer<DocumentController>(this), path, looked, done = std::move(done)](const Read& read) {
            if (!guard) return;
            if (read.openIn >= 0 && looked[size_t(read.openIn)]) {
                bringForward(looked[size_t(read.openIn)]);
                return done({OpenOutcome::Kind::alreadyOpen, {}});
            }
            // The same file opened meanwhile (a second click), or its window closed meanwhile.
            for (DocumentWindow* window : windows())
                if (window->filePath() == fileKey(path)) {
                    bringForward(window);
                    return done({OpenOutcome::Kind::alreadyOpen, {}});
                }
            if (read.openIn >= 0) return openDocumentReporting(path, done);
            if (read.error) {
                qWarning("ravlen: cannot open %s: %s", qPrintable(path), read.error->reason().c_str());
                return done({OpenOutcome::Kind::failed, QString::fromUtf8(DocumentError::message(read.error->code()))});
            }
            bool failed = false;
            showNewWindow(std::make_unique<QuarnDocument>(read.pdf), path, [&](const QString& reason) {
                failed = true;
                done({OpenOutcome::Kind::failed, reason});
            });
            if (!failed) done({OpenOutcome::Kind::opened, {}});
        });
    quarnkit::HistoryLibrary::userOpens().start([finish, path, openPaths]() mutable {
        Read read;
        for (int i = 0; i < openPaths.size() && read.openIn < 0; ++i)
            if (!openPaths[i].isEmpty() && quarnkit::sameFile(openPaths[i], path)) read.openIn = i;
        if (read.openIn < 0) {
            try {
                read.pdf = QuarnDocument::read(path);
            } catch (const DocumentError& error) {
                read.error = error;
            }
        }
        // Handed over whole, so that the worker keeps no part of it.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [finish = std::move(finish), read] { (*finish)(read); },
            Qt::QueuedConnection);
    });
}

void DocumentController::openDocuments(const QStringList& paths)
{
    for (const QString& path : paths) openDocument(path);
}

void DocumentController::windowClosed(DocumentWindow* window)
{
    std::erase_if(windows_, [window](const QPointer<DocumentWindow>& w) { return !w || w == window; });
    emit windowsChanged();
}

// ---------------------------------------------------------------- Open panel

void DocumentController::runOpenPanel()
{
    if (openPanel_) {
        openPanel_->show();
        openPanel_->raise();
        openPanel_->activateWindow();
        return;
    }
    auto* panel = new QFileDialog(nullptr, tr("Open"), QDir::homePath(), tr("PDF documents (*.pdf *.PDF)"));
    panel->setObjectName(QStringLiteral("ravlenOpenPanel"));
    // The desktop's own dialog where the platform theme offers one (the XDG
    // desktop portal); Qt's otherwise.
    panel->setFileMode(QFileDialog::ExistingFiles);
    panel->setAcceptMode(QFileDialog::AcceptOpen);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    connect(panel, &QFileDialog::filesSelected, this, [this](const QStringList& files) { openDocuments(files); });
    openPanel_ = panel;
    panel->open();
}

bool DocumentController::openPanelVisible() const { return openPanel_ && openPanel_->isVisible(); }

QWidget* DocumentController::openFailureAlert() const
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == failureAlertName && widget->isVisible() && !widget->parentWidget()) return widget;
    return nullptr;
}

void DocumentController::closeOpenPanels()
{
    if (QFileDialog* panel = openPanel_) {
        // The cancelled panel deletes itself later; a panel asked for after
        // this must be a new one, not the one on its way out.
        openPanel_ = nullptr;
        panel->reject();
        panel->close();
    }
}

// ---------------------------------------------------------------- quitting

bool DocumentController::closeAll()
{
    // Every changed window is asked about before any window closes, so that
    // a Cancel anywhere leaves the whole session as it was.
    const std::vector<DocumentWindow*> open = windows();
    std::vector<CloseAnswer> answers;
    for (DocumentWindow* window : open) {
        const CloseAnswer answer = window->askBeforeClosing();
        if (answer == CloseAnswer::cancel) return false;
        answers.push_back(answer);
    }
    for (size_t i = 0; i < open.size(); ++i) {
        if (answers[i] == CloseAnswer::save && !open[i]->save()) return false;
        open[i]->closeAnswered();
    }
    return windows().empty();
}

void DocumentController::quit()
{
    if (!closeAll()) return;
    closeOpenPanels();
    QApplication::quit();
}

void DocumentController::quitWithKey(QWidget& window)
{
    for (const QKeySequence& key : quarnkit::KeyboardShortcuts::keys(quarnkit::ShortcutCommand::quit)) {
        auto* shortcut = new QShortcut(key, &window);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, &window, [] { shared().quit(); });
    }
}

} // namespace quarn
