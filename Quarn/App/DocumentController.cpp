#include "Quarn/App/DocumentController.h"

#include "Quarn/App/DocumentWindow.h"
#include "QuarnKit/Document/NativePaths.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/History/HistoryLocator.h"
#include "QuarnKit/Viewer/ReadingPositions.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <sys/stat.h>

namespace quarn {

using quarnkit::DocumentError;
using quarnkit::QuarnDocument;

namespace {

DocumentController::CloseAnswer askWithDialog(DocumentWindow& window)
{
    // The question is the dialog's text: window managers cut titles short,
    // and some drop them from attached dialogs.
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(),
                    DocumentController::tr("Do you want to save the changes made to the document “%1”?")
                        .arg(window.displayName()),
                    QMessageBox::NoButton, &window);
    box.setTextFormat(Qt::PlainText); // it names the file as it is called
    box.setInformativeText(DocumentController::tr("Your changes will be lost if you don't save them."));
    QPushButton* save = box.addButton(DocumentController::tr("Save"), QMessageBox::AcceptRole);
    QPushButton* discard = box.addButton(DocumentController::tr("Don't Save"), QMessageBox::DestructiveRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(save);
    box.setWindowModality(Qt::WindowModal);
    box.exec();
    if (box.clickedButton() == save) return DocumentController::CloseAnswer::save;
    if (box.clickedButton() == discard) return DocumentController::CloseAnswer::discard;
    return DocumentController::CloseAnswer::cancel;
}

DocumentController::ChangedFileAnswer askAboutChangeWithDialog(DocumentWindow& window)
{
    using Answer = DocumentController::ChangedFileAnswer;
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(),
                    DocumentController::tr("The file “%1” has been changed by another program since you opened it.")
                        .arg(window.displayName()),
                    QMessageBox::NoButton, &window);
    box.setInformativeText(DocumentController::tr("Do you want to write your version over it, or save your version as a new file?"));
    QPushButton* overwrite = box.addButton(DocumentController::tr("Overwrite"), QMessageBox::DestructiveRole);
    QPushButton* elsewhere = box.addButton(DocumentController::tr("Save As…"), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(elsewhere);
    box.setWindowModality(Qt::WindowModal);
    box.exec();
    if (box.clickedButton() == overwrite) return Answer::overwrite;
    if (box.clickedButton() == elsewhere) return Answer::saveElsewhere;
    return Answer::cancel;
}

void alertWithDialog(const QString& text, const QString& reason, QWidget* parent)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QApplication::applicationDisplayName(), text, QMessageBox::Ok, parent);
    box->setTextFormat(Qt::PlainText); // it names the file as it is called
    box->setInformativeText(reason);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (parent) box->setWindowModality(Qt::WindowModal);
    box->open();
}

} // namespace

DocumentController::DocumentController(QObject* parent)
    : QObject(parent), askToSaveChanges(askWithDialog), askAboutChangedFile(askAboutChangeWithDialog),
      showFailure(alertWithDialog)
{
}

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

QString DocumentController::fileKey(const QString& path)
{
    return quarnkit::standardizedPath(path);
}

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
        if (!optionsEnded && argument.startsWith(QLatin1Char('-')) && ::stat(quarnkit::nativePath(argument).constData(), &info) != 0)
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
        if (widget->isVisible() && !widget->isMinimized() && widget->windowType() != Qt::ToolTip &&
            widget->windowType() != Qt::Popup)
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
        if (open->isMinimized()) open->showNormal();
        open->raise();
        open->activateWindow();
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
    DocumentWindow* window = nullptr;
    try {
        window = new DocumentWindow(std::move(document), fileKey(path), *this);
    } catch (const std::exception& error) {
        // A file handed to the running process never ends it, nor its other windows.
        qWarning("ravlen: cannot show %s: %s", qPrintable(path), error.what());
        if (showFailure)
            showFailure(tr("The document “%1” could not be opened.").arg(QFileInfo(path).fileName()),
                        QString::fromUtf8(DocumentError::message(DocumentError::Code::fileReadCorruptFile)),
                        QApplication::activeWindow());
        return nullptr;
    }
    windows_.emplace_back(window);
    window->show();
    quarnkit::settleInBackground(window->document()->pdf());
    window->raise();
    window->activateWindow();
    emit windowsChanged();
    return window;
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

bool DocumentController::openPanelVisible() const
{
    return openPanel_ && openPanel_->isVisible();
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

} // namespace quarn
