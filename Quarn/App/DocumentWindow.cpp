#include "Quarn/App/DocumentWindow.h"

#include "Quarn/App/DocumentController.h"
#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Pages/PagesMenu.h"
#include "Quarn/Shell/QuarnCommands.h"
#include "Quarn/Signatures/SignCommands.h"
#include "Quarn/Update/UpdateCommands.h"
#include "Quarn/App/PageViewHost.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/StatusBar.h"
#include "Quarn/App/ViewerScreen.h"
#include "Quarn/Design/ErrorAlert.h"
#include "QuarnKit/Document/DocumentSaver.h"
#include "QuarnKit/Document/NativePaths.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Document/SaveRefusal.h"
#include "Quarn/Viewer/DocumentActions.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QDir>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QCursor>
#include <QGuiApplication>

#include <algorithm>
#include <QUndoStack>

#include <sys/stat.h>

namespace quarn {

using quarnkit::DocumentError;
using quarnkit::QuarnDocument;
using quarnkit::ShortcutCommand;
namespace Keys = quarnkit::KeyboardShortcuts;

namespace {

// The name Save As writes to: the one chosen, ".pdf" added when it has none.
QString withPdfSuffix(const QString& path)
{
    return QFileInfo(path).suffix().toLower() == QLatin1String("pdf") ? path : path + QStringLiteral(".pdf");
}

} // namespace

DocumentWindow::DocumentWindow(std::unique_ptr<QuarnDocument> document, const QString& filePath,
                               DocumentController& controller)
    : controller_(controller), document_(std::move(document)), saver_(new quarnkit::DocumentSaver(this)),
      fileStamp_(stampOf(filePath)), filePath_(filePath)
{
    setAttribute(Qt::WA_DeleteOnClose);
    screen_ = new ViewerScreen(document_.get(), filePath_, this, nullptr, nullptr, controller.history());
    screen_->model().openFileHandler = [&controller](const QString& path) { controller.openDocument(path); };
    setCentralWidget(screen_);
    buildMenus();
    // The application's menus follow the window's File menu and reach this window's model.
    auto* commands = commands_ = new QuarnCommands(menuBar(), &screen_->model(), this);
    commands->insertMenu((new SignCommands(&screen_->model(), commands))->menu());
    connect(commands, &QuarnCommands::slideshowRequested, &screen_->model(), &ViewerModel::startSlideshow);
    new PageCommands(*commands, &screen_->model(), commands);
    new UpdateCommands(*commands, commands);
    followDocument();
    updateTitle();
    fitToScreen();
}

DocumentWindow::~DocumentWindow()
{
    // The document goes after the window's own parts: its last signals must
    // find nobody listening here.
    disconnect(document_.get(), nullptr, this, nullptr);
}

QUndoStack* DocumentWindow::undoStack() const { return &document_->undoStack(); }

void DocumentWindow::followDocument()
{
    // The document says whether the file is up to date.
    connect(document_.get(), &QuarnDocument::editedChanged, this, [this](bool edited) {
        setWindowModified(edited);
        refreshFileActions_();
    });
    commands_->setUndoStack(undoStack());
    connect(document_.get(), &quarnkit::QuarnDocument::stepFailed, this, [this](const QString& step, bool undoing) {
        showErrorAlert(this, (undoing ? tr("“%1” could not be undone.") : tr("“%1” could not be redone.")).arg(step)
                                 + u' ' + tr("The document stays as it is, and its undo history is cleared."));
    });
}

QString DocumentWindow::displayName() const
{
    return filePath_.isEmpty() ? tr("Untitled") : QFileInfo(filePath_).fileName();
}

std::optional<DocumentWindow::FileStamp> DocumentWindow::stampOf(const QString& path)
{
    struct stat info = {};
    if (path.isEmpty() || ::stat(quarnkit::nativePath(path).constData(), &info) != 0) return std::nullopt;
    return FileStamp{info.st_dev, info.st_ino, qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
                     qint64(info.st_size)};
}

bool DocumentWindow::isSaving() const { return saver_->isSaving(); }

bool DocumentWindow::isDocumentEdited() const { return document_->isEdited(); }

void DocumentWindow::updateTitle()
{
    // A running save shows in the title, where it is seen whatever the window shows.
    setWindowTitle(displayName() + QStringLiteral("[*]") + (isSaving() ? tr(" — Saving…") : QString()));
    setWindowFilePath(filePath_);
    setWindowModified(isDocumentEdited());
}

void DocumentWindow::setFilePath(const QString& path)
{
    filePath_ = path;
    screen_->setFilePath(path);
    updateTitle();
}

void DocumentWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* open = file->addAction(tr("Open…"), &controller_, &DocumentController::runOpenPanel);
    open->setShortcut(Keys::menuKey(ShortcutCommand::open));
    file->addSeparator();
    QAction* close = file->addAction(tr("Close"), this, &QWidget::close);
    close->setShortcut(Keys::menuKey(ShortcutCommand::closeWindow));
    QAction* save = file->addAction(tr("Save"), this, &DocumentWindow::save);
    save->setShortcut(Keys::menuKey(ShortcutCommand::save));
    QAction* saveAs = file->addAction(tr("Save As…"), this, [this] { saveAsWithPanel(); });
    saveAs->setShortcut(Keys::menuKey(ShortcutCommand::saveAs));
    QAction* revert = file->addAction(tr("Revert to Saved"), this, &DocumentWindow::revertWithQuestion);
    file->addSeparator();
    QAction* quit = file->addAction(tr("Quit ravlen"), &controller_, &DocumentController::quit);
    quit->setShortcut(Keys::menuKey(ShortcutCommand::quit));

    // Revert needs a file and changes to drop; a locked document has nothing to
    // save; a running save takes no second one, and the document it writes stays.
    auto refresh = [this, save, saveAs, revert, close] {
        const bool locked = document_->isLocked();
        const bool saving = isSaving();
        save->setEnabled(!locked && !saving);
        saveAs->setEnabled(!locked && !saving);
        revert->setEnabled(!filePath_.isEmpty() && isDocumentEdited() && !saving);
        close->setEnabled(!saving);
    };
    connect(file, &QMenu::aboutToShow, this, refresh);
    connect(saver_, &quarnkit::DocumentSaver::finished, this, refresh);
    refreshFileActions_ = refresh;
    refresh();
}

void DocumentWindow::commitPendingTyping()
{
    // Words still in a text box's editor belong in the file and in the
    // unsaved-changes question: they become their undo step first.
    if (QuarnPDFView* view = screen_->pageViewHost() ? screen_->pageViewHost()->view() : nullptr)
        MarkEditor::of(*view).commitEditing();
}

DocumentController::ChangedFileAnswer DocumentWindow::askAboutChange(const QString& path, const QString& shownName,
                                                                     std::optional<quarnkit::ChosenFile>* overwriting)
{
    using Answer = DocumentController::ChangedFileAnswer;
    std::optional<Answer> answer;
    try {
        // Overwrite writes over the file the question names, and only that one.
        std::optional<quarnkit::ChosenFile> chosen =
            quarnkit::chooseFile(path, [&](const QString&, const QString& leadsTo) {
                answer = controller_.askAboutChangedFile(*this, leadsTo);
                return *answer == Answer::overwrite;
            });
        // Nothing there now: nothing may be written over either.
        if (!answer) answer = controller_.askAboutChangedFile(*this, QString());
        if (*answer == Answer::overwrite) *overwriting = std::move(chosen);
    } catch (const DocumentError& error) {
        const QString text = tr("The document “%1” could not be saved.").arg(shownName);
        return refuseSave(text, error) == Written::elsewhere ? Answer::saveElsewhere : Answer::cancel;
    }
    return *overwriting ? Answer::overwrite : *answer == Answer::overwrite ? Answer::cancel : *answer;
}

std::optional<quarnkit::ChosenFile> DocumentWindow::ownFile(bool* elsewhere)
{
    try {
        return quarnkit::documentFile(*document_, filePath_);
    } catch (const DocumentError& error) {
        *elsewhere =
            refuseSave(tr("The document “%1” could not be saved.").arg(displayName()), error) == Written::elsewhere;
        return std::nullopt;
    }
}

DocumentWindow::Written DocumentWindow::writeFile(const quarnkit::ChosenFile& file, const QString& shownName)
{
    const QString path = quarnkit::chosenPath(file);
    // An update keeps the file's earlier version whole, with the pages the
    // user removed: said before the first such save.
    if (document_->saveKeepsRemovedPages()) {
        if (controller_.confirmKeptPages
            && !controller_.confirmKeptPages(
                *this, tr("The earlier version inside “%1” still holds the pages you removed.").arg(shownName),
                tr("Saving adds your changes after that version, which keeps a signature valid, and anyone who has "
                   "the file can still read it. To send the document without those pages, export a copy.")))
            return Written::failed;
        document_->acceptKeptPages();
    }
    const QuarnDocument::SavePoint written = document_->savePoint();
    if (!saver_->start(*document_, file, document_->copyLossAccepted(), unverifiedAccepted_)) return Written::failed;
    updateTitle();
    refreshFileActions_();
    const quarnkit::DocumentSaver::Outcome outcome = saver_->waitForFinished();
    updateTitle();
    if (outcome.error) {
        // The library's own words are for the log; the user reads a plain sentence.
        qWarning("ravlen: cannot save %s: %s", qPrintable(path), outcome.error->reason().c_str());
        const QString text = tr("The document “%1” could not be saved.").arg(shownName);
        const QString reason = outcome.error->sentence();
        // A new file that may show less than the damaged original is the
        // user's choice: asked before it is written, and not again.
        const auto code = outcome.error->code();
        if (code == DocumentError::Code::fileWriteCopyShowsLess) {
            if (!controller_.confirmLossyCopy
                || !controller_.confirmLossyCopy(
                    *this, tr("“%1” may show less than the original in other programs.").arg(shownName), reason))
                return Written::failed;
            document_->acceptCopyLoss();
            return writeFile(file, shownName);
        }
        // Another file than the one the window shows took its name meanwhile.
        if (code == DocumentError::Code::fileWriteFileReplaced && controller_.askAboutChangedFile) {
            std::optional<quarnkit::ChosenFile> over;
            switch (askAboutChange(path, shownName, &over)) {
            case DocumentController::ChangedFileAnswer::overwrite: return writeFile(*over, shownName);
            case DocumentController::ChangedFileAnswer::saveElsewhere: return Written::elsewhere;
            case DocumentController::ChangedFileAnswer::cancel: return Written::failed;
            }
        }
        return refuseSave(text, *outcome.error);
    }
    fileStamp_ = stampOf(path);
    // Edits made while the file was written are not in it: the window stays modified.
    document_->noteSaved(written);
    setWindowModified(isDocumentEdited());
    return Written::yes;
}

DocumentWindow::Written DocumentWindow::refuseSave(const QString& text, const DocumentError& error)
{
    using Code = DocumentError::Code;
    const Code code = error.code();
    return refuseSave(text, error.sentence(), quarnkit::saveRemedies(code), [this, code] {
        // The new file the refusal offered is the user's choice, made knowing
        // what the refusal says it may lose, or that it could not be checked.
        if (code == Code::fileWriteRepairedFile || code == Code::fileWriteUnparsedObjects) document_->acceptCopyLoss();
        if (code == Code::fileWriteUnverifiedCopy) unverifiedAccepted_ = true;
    });
}

DocumentWindow::Written DocumentWindow::refuseSave(const QString& text, const QString& why,
                                                   const quarnkit::SaveRemedies& remedies,
                                                   const std::function<void()>& tookSaveAs)
{
    const QString also = quarnkit::stillWorks(remedies);
    const QString reason = also.isEmpty() ? why : why + QLatin1Char(' ') + also;
    if (!controller_.offerWhatStillWorks) {
        if (controller_.showFailure) controller_.showFailure(text, reason, this);
        return Written::failed;
    }
    using Answer = DocumentController::RefusalAnswer;
    switch (controller_.offerWhatStillWorks(*this, text, reason, remedies)) {
    case Answer::saveAs:
        if (!remedies.saveAs) return Written::failed;
        if (tookSaveAs) tookSaveAs();
        return Written::elsewhere;
    case Answer::exportCopy:
        // The sheet opens on a kind the refusal said still works; the document stays unsaved.
        if (remedies.exportPdf || remedies.exportImages || remedies.exportFlattened)
            DocumentActions::of(screen_->model())
                .presentExport(remedies.exportFlattened ? quarnkit::ExportFormat::flattenedPDF
                               : remedies.exportPdf     ? quarnkit::ExportFormat::pdf
                                                        : quarnkit::ExportFormat::png);
        return Written::failed;
    case Answer::revert:
        if (remedies.revert) revert();
        return Written::failed;
    case Answer::dismiss: return Written::failed;
    }
    return Written::failed;
}

QString DocumentWindow::newNameBeside(const QString& refused)
{
    const QFileInfo file(refused);
    QString folder = file.absolutePath();
    // A folder that takes no new file of ours (read-only, another's) is no place to propose.
    if (!QFileInfo(folder).isWritable()) folder = QDir::homePath();
    const QString base = file.completeBaseName().isEmpty() ? tr("Untitled") : file.completeBaseName();
    for (int n = 1;; ++n) {
        const QString name = n == 1 ? tr("%1 copy.pdf").arg(base) : tr("%1 copy %2.pdf").arg(base).arg(n);
        const QString path = QDir(folder).filePath(name);
        struct stat info = {};
        if (::lstat(quarnkit::nativePath(path).constData(), &info) != 0) return path;
    }
}

bool DocumentWindow::save()
{
    if (isSaving()) return false;
    commitPendingTyping();
    if (filePath_.isEmpty()) return saveAsWithPanel();
    // Nothing changed: the file already holds the document, and is not written again.
    if (!isDocumentEdited() && stampOf(filePath_)) return true;
    // Another program's version of the file is not written over without
    // asking; when it was written in place over the bytes the document still
    // reads, there is no version of ours to write, and the save says so.
    const std::optional<FileStamp> now = stampOf(filePath_);
    // The file written is the window's own, unless the user chose to write over another program's.
    std::optional<quarnkit::ChosenFile> file;
    if (now && fileStamp_ && *now != *fileStamp_ && !document_->sourceChanged() && controller_.askAboutChangedFile) {
        switch (askAboutChange(filePath_, displayName(), &file)) {
        case DocumentController::ChangedFileAnswer::overwrite: break;
        case DocumentController::ChangedFileAnswer::saveElsewhere: return saveAsWithPanel(filePath_);
        case DocumentController::ChangedFileAnswer::cancel: return false;
        }
    } else {
        bool elsewhere = false;
        file = ownFile(&elsewhere);
        if (!file) return elsewhere && saveAsWithPanel(filePath_);
    }
    switch (writeFile(*file, displayName())) {
    case Written::yes: return true;
    case Written::elsewhere: return saveAsWithPanel(filePath_);
    case Written::failed: return false;
    }
    return false;
}

bool DocumentWindow::saveAs(const QString& path) { return saveAs(path, nullptr); }

bool DocumentWindow::saveAs(const QString& path, bool* declined)
{
    if (isSaving()) return false;
    commitPendingTyping();
    const QString name = QFileInfo(path).fileName();
    std::optional<quarnkit::ChosenFile> file;
    try {
        // A file there is replaced once the user said so, and only that file.
        file = quarnkit::chooseFile(path, [&](const QString& shown, const QString& leadsTo) {
            return controller_.confirmReplace && controller_.confirmReplace(*this, shown, leadsTo);
        });
        if (!file) {
            if (declined) *declined = true;
            return false;
        }
    } catch (const DocumentError& error) {
        // A name saving does not write through is refused, saying why.
        return refuseSave(tr("The document “%1” could not be saved.").arg(name), error) == Written::elsewhere
               && saveAsWithPanel(path);
    }
    switch (writeFile(*file, name)) {
    case Written::yes: break;
    case Written::elsewhere: return saveAsWithPanel(path);
    case Written::failed: return false;
    }
    setFilePath(path);
    emit controller_.windowsChanged();
    return true;
}

bool DocumentWindow::saveAsWithPanel() { return saveAsWithPanel(QString()); }

bool DocumentWindow::saveAsWithPanel(const QString& refused)
{
    // After a refusal the panel proposes a new name, never the file refused.
    QString proposed = !refused.isEmpty()    ? newNameBeside(refused)
                       : filePath_.isEmpty() ? QDir::homePath() + "/" + displayName() + ".pdf"
                                             : filePath_;
    for (;;) {
        if (!controller_.chooseSaveAsPath) return false;
        const QString path = controller_.chooseSaveAsPath(*this, proposed);
        if (path.isEmpty()) return false; // a cancel is never reported
        bool declined = false;
        const bool saved = saveAsChosen(path, &declined);
        // Not replacing the file there goes back to the panel on the name
        // chosen, as the desktop's own panels do; Cancel there ends Save As.
        if (!declined) return saved;
        proposed = withPdfSuffix(path);
    }
}

bool DocumentWindow::saveAsChosen(QString path) { return saveAsChosen(std::move(path), nullptr); }

bool DocumentWindow::saveAsChosen(QString path, bool* declined)
{
    path = withPdfSuffix(path);
    // Another window showing that file would be left behind with stale pages.
    if (DocumentWindow* other = controller_.windowFor(path); other && other != this) {
        const Written answer = refuseSave(tr("The document “%1” could not be saved.").arg(QFileInfo(path).fileName()),
                                          tr("That file is open in another window."),
                                          quarnkit::saveRemedies(DocumentError::Code::fileWriteUnknown));
        return answer == Written::elsewhere && saveAsWithPanel(path);
    }
    return saveAs(path, declined);
}

bool DocumentWindow::revert()
{
    if (filePath_.isEmpty() || isSaving()) return false;
    std::unique_ptr<QuarnDocument> fresh;
    try {
        fresh = QuarnDocument::open(filePath_);
        // The password given for this file still opens it (a changed file asks again).
        if (fresh->isLocked() && document_->unlockPassword()) fresh->unlock(*document_->unlockPassword());
    } catch (const DocumentError& error) {
        qWarning("ravlen: cannot revert %s: %s", qPrintable(filePath_), error.reason().c_str());
        if (controller_.showFailure)
            controller_.showFailure(tr("The document “%1” could not be reverted.").arg(displayName()),
                                    QString::fromUtf8(DocumentError::message(error.code())), this);
        return false;
    }
    fileStamp_ = stampOf(filePath_);
    // The screen switches to the fresh document before the old one goes.
    std::unique_ptr<QuarnDocument> old = std::move(document_);
    disconnect(old.get(), nullptr, this, nullptr);
    document_ = std::move(fresh);
    unverifiedAccepted_ = false; // a choice about the document read before
    screen_->setDocument(document_.get());
    // Read whole on a worker, as a file opened in a new window is.
    quarnkit::settleInBackground(*document_);
    followDocument();
    old.reset();
    setWindowModified(isDocumentEdited());
    refreshFileActions_();
    return true;
}

void DocumentWindow::revertWithQuestion()
{
    auto* box = new QMessageBox(
        QMessageBox::Warning, QApplication::applicationDisplayName(),
        tr("Do you want to revert to the most recently saved version of the document “%1”?").arg(displayName()),
        QMessageBox::NoButton, this);
    box->setTextFormat(Qt::PlainText); // it names the file as it is called
    box->setInformativeText(tr("Your current changes will be lost."));
    box->addButton(tr("Revert"), QMessageBox::DestructiveRole);
    box->addButton(QMessageBox::Cancel);
    connect(box, &QMessageBox::buttonClicked, this, [this, box](QAbstractButton* button) {
        if (box->buttonRole(button) == QMessageBox::DestructiveRole) revert();
    });
    openAlert(box, this);
}

DocumentController::CloseAnswer DocumentWindow::askBeforeClosing()
{
    commitPendingTyping();
    if (!isDocumentEdited() || !controller_.askToSaveChanges) return DocumentController::CloseAnswer::discard;
    return controller_.askToSaveChanges(*this);
}

void DocumentWindow::closeAnswered()
{
    closing_ = true;
    close();
}

void DocumentWindow::fitToScreen()
{
    // 1180 × 800 where that fits; on a small or highly scaled screen, its
    // available area (without panels), frame included.
    const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return resize(1180, 800);
    const QRect available = screen->availableGeometry();
    const QSize frame = isVisible() ? frameGeometry().size() - size() : QSize(0, 0);
    const QSize room = available.size() - frame;
    // The content's least size gives way to a screen smaller still.
    screen_->setMinimumSize(QSize(880, 580).boundedTo(room - QSize(0, menuBar()->sizeHint().height())));
    resize(QSize(1180, 800).boundedTo(room));
    if (isVisible() && !available.contains(frameGeometry()))
        move(
            std::clamp(x(), available.left(), std::max(available.left(), available.right() - frameGeometry().width())),
            std::clamp(y(), available.top(), std::max(available.top(), available.bottom() - frameGeometry().height())));
}

void DocumentWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // The frame's size is known once the window is shown.
    if (!fitted_) QTimer::singleShot(0, this, [this] { fitToScreen(); });
    fitted_ = true;
}

void DocumentWindow::closeEvent(QCloseEvent* event)
{
    // The document being written stays until the file is complete.
    if (isSaving()) {
        event->ignore();
        return;
    }
    if (!closing_) {
        const DocumentController::CloseAnswer answer = askBeforeClosing();
        if (answer == DocumentController::CloseAnswer::cancel
            || (answer == DocumentController::CloseAnswer::save && !save())) {
            event->ignore();
            return;
        }
    }
    closing_ = true;
    // Leaving: the reading position is saved and nothing of the window runs later.
    screen_->disappear();
    controller_.windowClosed(this);
    event->accept();
}

} // namespace quarn
