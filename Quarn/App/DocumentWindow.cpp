#include "Quarn/App/DocumentWindow.h"

#include "Quarn/App/DocumentController.h"
#include "Quarn/Shell/QuarnCommands.h"
#include "Quarn/Signatures/SignCommands.h"
#include "Quarn/Viewer/Canvas.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/StatusBar.h"
#include "Quarn/Viewer/ViewerScreen.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QDir>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QUndoStack>

namespace quarn {

using quarnkit::DocumentError;
using quarnkit::QuarnDocument;
using quarnkit::ShortcutCommand;
namespace Keys = quarnkit::KeyboardShortcuts;

DocumentWindow::DocumentWindow(std::unique_ptr<QuarnDocument> document, const QString& filePath,
                               DocumentController& controller)
    : controller_(controller), document_(std::move(document)), filePath_(filePath), undoStack_(new QUndoStack(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    resize(1180, 800);
    screen_ = new ViewerScreen(document_.get(), filePath_, undoStack_, this);
    screen_->model().openFileHandler = [&controller](const QString& path) { controller.openDocument(path); };
    // The find bar and the status bar stand under the viewer screen.
    auto* bars = new ViewerBars(screen_, this);
    setCentralWidget(bars);
    connect(bars->statusBar(), &StatusBar::slideshowRequested, &screen_->model(), &ViewerModel::startSlideshow);
    buildMenus();
    // The application's menus follow the window's File menu and reach this window's model.
    auto* commands = new QuarnCommands(menuBar(), &screen_->model(), this);
    commands->setUndoStack(undoStack_);
    commands->insertMenu((new SignCommands(&screen_->model(), commands))->menu());
    connect(commands, &QuarnCommands::slideshowRequested, &screen_->model(), &ViewerModel::startSlideshow);
    // Every edit registers an undo step; the stack's clean state is whether
    // the file is up to date.
    connect(undoStack_, &QUndoStack::cleanChanged, this, [this](bool clean) { setWindowModified(!clean || unrecordedEdits_); });
    watchUnrecordedEdits();
    updateTitle();
}

DocumentWindow::~DocumentWindow()
{
    // The stack goes with the window's children, after the document and the
    // menus: its last clean-state signal must find nobody listening here.
    disconnect(undoStack_, nullptr, this, nullptr);
}

QString DocumentWindow::displayName() const
{
    return filePath_.isEmpty() ? tr("Untitled") : QFileInfo(filePath_).fileName();
}

void DocumentWindow::watchUnrecordedEdits()
{
    // An edit that reached no undo stack still makes the file out of date.
    unrecordedEdits_ = false;
    connect(document_.get(), &quarnkit::QuarnDocument::unrecordedEdit, this, [this] {
        unrecordedEdits_ = true;
        setWindowModified(true);
    });
}

bool DocumentWindow::isDocumentEdited() const { return !undoStack_->isClean() || unrecordedEdits_; }

void DocumentWindow::updateTitle()
{
    setWindowTitle(displayName() + QStringLiteral("[*]"));
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
    QAction* saveAs = file->addAction(tr("Save As…"), this, &DocumentWindow::saveAsWithPanel);
    saveAs->setShortcut(Keys::menuKey(ShortcutCommand::saveAs));
    QAction* revert = file->addAction(tr("Revert to Saved"), this, &DocumentWindow::revertWithQuestion);
    file->addSeparator();
    QAction* quit = file->addAction(tr("Quit ravlen"), &controller_, &DocumentController::quit);
    quit->setShortcut(Keys::menuKey(ShortcutCommand::quit));

    // Revert needs a file and changes to drop; a locked document has nothing to save.
    auto refresh = [this, save, saveAs, revert] {
        const bool locked = document_->isLocked();
        save->setEnabled(!locked);
        saveAs->setEnabled(!locked);
        revert->setEnabled(!filePath_.isEmpty() && isDocumentEdited());
    };
    connect(file, &QMenu::aboutToShow, this, refresh);
    connect(undoStack_, &QUndoStack::cleanChanged, this, refresh);
    refresh();
}

void DocumentWindow::commitPendingTyping()
{
    // Words still in a text box's editor belong in the file and in the
    // unsaved-changes question: they become their undo step first.
    if (QuarnPDFView* view = screen_->canvas() ? screen_->canvas()->view() : nullptr) view->commitEditing();
}

bool DocumentWindow::save()
{
    commitPendingTyping();
    if (filePath_.isEmpty()) return saveAsWithPanel();
    try {
        document_->writeTo(filePath_);
    } catch (const DocumentError& error) {
        if (controller_.showFailure)
            controller_.showFailure(tr("The document “%1” could not be saved.").arg(displayName()),
                                    QString::fromStdString(error.reason()), this);
        return false;
    }
    unrecordedEdits_ = false;
    undoStack_->setClean();
    setWindowModified(false);
    return true;
}

bool DocumentWindow::saveAs(const QString& path)
{
    commitPendingTyping();
    try {
        document_->writeTo(path);
    } catch (const DocumentError& error) {
        if (controller_.showFailure)
            controller_.showFailure(tr("The document “%1” could not be saved.").arg(QFileInfo(path).fileName()),
                                    QString::fromStdString(error.reason()), this);
        return false;
    }
    setFilePath(path);
    unrecordedEdits_ = false;
    undoStack_->setClean();
    setWindowModified(false);
    emit controller_.windowsChanged();
    return true;
}

bool DocumentWindow::saveAsWithPanel()
{
    const QString start = filePath_.isEmpty() ? QDir::homePath() + "/" + displayName() + ".pdf" : filePath_;
    QString path = QFileDialog::getSaveFileName(this, tr("Save As"), start, tr("PDF documents (*.pdf)"), nullptr,
                                                QFileDialog::DontUseNativeDialog);
    if (path.isEmpty()) return false; // a cancel is never reported
    if (QFileInfo(path).suffix().toLower() != QLatin1String("pdf")) path += QStringLiteral(".pdf");
    // Another window showing that file would be left behind with stale pages.
    if (DocumentWindow* other = controller_.windowFor(path); other && other != this) {
        if (controller_.showFailure)
            controller_.showFailure(tr("The document “%1” could not be saved.").arg(QFileInfo(path).fileName()),
                                    tr("That file is open in another window."), this);
        return false;
    }
    return saveAs(path);
}

bool DocumentWindow::revert()
{
    if (filePath_.isEmpty()) return false;
    std::unique_ptr<QuarnDocument> fresh;
    try {
        fresh = QuarnDocument::open(filePath_);
    } catch (const DocumentError& error) {
        if (controller_.showFailure)
            controller_.showFailure(tr("The document “%1” could not be reverted.").arg(displayName()),
                                    QString::fromStdString(error.reason()), this);
        return false;
    }
    // The screen switches to the fresh document before the old one goes.
    std::unique_ptr<QuarnDocument> old = std::move(document_);
    document_ = std::move(fresh);
    screen_->setDocument(document_.get());
    undoStack_->clear();
    old.reset();
    watchUnrecordedEdits();
    setWindowModified(isDocumentEdited());
    return true;
}

void DocumentWindow::revertWithQuestion()
{
    auto* box = new QMessageBox(QMessageBox::Warning,
                                tr("Do you want to revert to the most recently saved version of the document “%1”?")
                                    .arg(displayName()),
                                tr("Your current changes will be lost."), QMessageBox::NoButton, this);
    box->addButton(tr("Revert"), QMessageBox::DestructiveRole);
    box->addButton(QMessageBox::Cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::buttonClicked, this, [this, box](QAbstractButton* button) {
        if (box->buttonRole(button) == QMessageBox::DestructiveRole) revert();
    });
    box->open();
}

void DocumentWindow::closeEvent(QCloseEvent* event)
{
    if (!closing_) commitPendingTyping();
    if (isDocumentEdited() && !closing_) {
        const DocumentController::CloseAnswer answer =
            controller_.askToSaveChanges ? controller_.askToSaveChanges(*this) : DocumentController::CloseAnswer::discard;
        if (answer == DocumentController::CloseAnswer::cancel ||
            (answer == DocumentController::CloseAnswer::save && !save())) {
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
