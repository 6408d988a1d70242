// The page operations of the viewer model: they pick the target pages, ask
// for files, make the edit through PageEditor, record it as one named undo
// step and keep the page view and the page selection in step.
#include "Quarn/Viewer/ViewerModel.h"

#include "QuarnKit/Pages/PageEditCommand.h"
#include "Platform/UserDefaults.h"
#include "QuarnKit/Pages/PageEditor.h"
#include "QuarnKit/History/HistoryLocator.h"

#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/App/ViewerScreen.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QtConcurrent>

namespace quarn {

using quarnkit::PageEdit;
using quarnkit::PageEditError;
namespace PageEditor = quarnkit::PageEditor;

namespace {

QWidget* windowOf(QuarnPDFView* view) { return view ? view->window() : nullptr; }

// The document's name without its extension, "Untitled" for none.
QString baseName(const QString& filePath)
{
    const QString base = QFileInfo(filePath).completeBaseName().trimmed();
    return base.isEmpty() ? QObject::tr("Untitled") : base;
}

QString startFolder(const QString& filePath)
{
    return filePath.isEmpty() ? QDir::homePath() : QFileInfo(filePath).absolutePath();
}

} // namespace

std::set<int> ViewerModel::pageTargets() const
{
    const int count = document_ && !document_->isLocked() ? document_->pageCount() : 0;
    return PageEditor::targets(selectedPages_, pageIndex_, count);
}

bool ViewerModel::canEditPages() const
{
    return pdfView_ && document_ && !document_->isLocked() && document_->pageCount() >= 1;
}

bool ViewerModel::canDeletePages() const
{
    return canEditPages() && int(pageTargets().size()) < document_->pageCount();
}

void ViewerModel::applyPageEdit(const PageEdit& edit, const QString& name, bool reveal)
{
    if (!document_) return;
    auto* command = new quarnkit::PageEditCommand(*document_, edit, name);
    const QPointer<ViewerModel> self(this);
    // Undo and redo select and show the pages they put back.
    command->followUp = [self](const PageEdit& applied) {
        if (self) self->pagesDidChange(applied, true);
    };
    document_->noteEdit(std::nullopt);
    document_->undoStack().push(command); // the edit is made: the push changes nothing more
    pagesDidChange(edit, reveal);
}

void ViewerModel::pagesDidChange(const PageEdit& edit, bool reveal)
{
    if (QuarnPDFView* view = pdfView_.data()) {
        if (view->hasEditor()) view->closeEditor();
        view->select(std::nullopt);
        view->forgetReportedPage();
        view->reportViewChanges();
    }
    const std::set<int> inserted = edit.insertedIndexes();
    if (!inserted.empty()) {
        setSelectedPages(inserted);
        const int first = *inserted.begin();
        // Shown as if the sidebar asked: the new selection survives the page change.
        if (reveal && document_ && first < document_->pageCount()) goToPageFromSidebar(first);
    } else if (edit.rotations.empty()) {
        setSelectedPages({});
    } else if (reveal && document_) {
        // Undo and redo of a rotation show the first page they turned.
        const auto index = document_->pageIndex(edit.rotations.front().page);
        if (index && pdfView_) pdfView_->goToPage(*index);
    }
}

void ViewerModel::setSidebarTab(quarnkit::SidebarTab tab)
{
    quarnkit::saveSidebarTab(tab, defaults_); // every time, as the user chose it
    assign(sidebarTab_, tab, &ViewerModel::sidebarTabChanged);
}

void ViewerModel::showSidebarTab(quarnkit::SidebarTab tab)
{
    setSidebarTab(tab);
    setLibraryPanel(LibraryPanel::document);
    setSidebar(true);
}

void ViewerModel::goToPageFromSidebar(int index)
{
    // Already there: no page change will come to consume the jump.
    sidebarJump_ = document_ && index != pageIndex_ ? document_->pageId(index) : std::nullopt;
    if (pdfView_ && document_ && index >= 0 && index < document_->pageCount()) pdfView_->goToPage(index);
}

void ViewerModel::syncSelectionToPage()
{
    const std::optional<quarnkit::PageId> page = document_ ? document_->pageId(pageIndex_) : std::nullopt;
    if (!page) return;
    if (sidebarJump_) {
        sidebarJump_.reset();
        shownPage_ = page;
        return;
    }
    if (shownPage_ == page) return;
    if (!selectedPages_.empty() && !selectedPages_.count(pageIndex_)) setSelectedPages({});
    shownPage_ = page;
}

void ViewerModel::rotatePages(int degrees)
{
    if (!canEditPages()) return;
    pdfView_->finishEditing();
    const std::set<int> targets = pageTargets();
    const int shown = pdfView_->currentPageIndex();
    try {
        if (const auto edit = PageEditor::rotate(targets, degrees, *document_->pdf())) {
            applyPageEdit(*edit, PageEditor::title(tr("Rotate"), edit->pageCount(), false), false);
            // A page turned in view changes shape: its top stays in sight.
            if (targets.count(shown) && pdfView_) pdfView_->goToPage(shown);
        }
    } catch (const std::exception& error) {
        showAlert(tr("ravlen couldn't change those pages."), QString::fromStdString(error.what()));
    }
}

void ViewerModel::insertBlankPage()
{
    // Also into a document without pages: inserting is the only way out of that state.
    if (!pdfView_ || !document_ || document_->isLocked()) return;
    pdfView_->finishEditing();
    const std::set<int> targets = pageTargets();
    try {
        const PageEdit edit = PageEditor::insertBlank(targets.empty() ? 0 : *targets.rbegin(), *document_->pdf());
        applyPageEdit(edit, tr("Insert Blank Page"), true);
    } catch (const std::exception& error) {
        showAlert(tr("ravlen couldn't change those pages."), QString::fromStdString(error.what()));
    }
}

void ViewerModel::duplicatePages()
{
    if (!canEditPages()) return;
    pdfView_->finishEditing();
    try {
        if (const auto edit = PageEditor::duplicate(pageTargets(), *document_->pdf()))
            applyPageEdit(*edit, PageEditor::title(tr("Duplicate"), edit->pageCount(), false), true);
    } catch (const std::exception& error) {
        showAlert(tr("ravlen couldn't change those pages."), QString::fromStdString(error.what()));
    }
}

void ViewerModel::deletePages()
{
    if (!document_ || document_->isLocked()) return;
    if (pdfView_) pdfView_->finishEditing();
    try {
        if (const auto edit = PageEditor::deletePages(pageTargets(), *document_->pdf()))
            applyPageEdit(*edit, PageEditor::title(tr("Delete"), edit->pageCount(), false), false);
    } catch (const PageEditError& error) {
        showAlert(tr("ravlen didn't delete those pages."), error.description());
    } catch (const std::exception& error) {
        showAlert(tr("ravlen didn't delete those pages."), QString::fromStdString(error.what()));
    }
}

void ViewerModel::movePages(const std::set<int>& pages, int gap)
{
    if (!canEditPages()) return;
    pdfView_->finishEditing();
    try {
        if (const auto edit = PageEditor::move(pages, gap, *document_->pdf()))
            applyPageEdit(*edit, PageEditor::title(tr("Move"), edit->pageCount(), false), true);
    } catch (const std::exception& error) {
        showAlert(tr("ravlen couldn't change those pages."), QString::fromStdString(error.what()));
    }
}

void ViewerModel::insertFiles(std::optional<int> gap)
{
    if (!document_ || document_->isLocked()) return;
    if (!gap) {
        const std::set<int> targets = pageTargets();
        // Without pages the files go at the start.
        gap = targets.empty() ? 0 : *targets.rbegin() + 1;
    }
    QStringList patterns{QStringLiteral("*.pdf")};
    for (const QString& suffix : PageEditor::imageSuffixes()) patterns << QStringLiteral("*.") + suffix;
    auto* panel = new QFileDialog(windowOf(pdfView_), tr("Insert Pages"), startFolder(filePath_));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setOption(QFileDialog::DontUseNativeDialog);
    panel->setFileMode(QFileDialog::ExistingFiles);
    panel->setNameFilter(tr("PDFs and images (%1)").arg(patterns.join(QLatin1Char(' '))));
    panel->setLabelText(QFileDialog::Accept, tr("Insert"));
    auto* message = new QLabel(*gap != 0 ? tr("Choose PDFs or images to add after page %1.").arg(*gap)
                                         : tr("Choose PDFs or images to add at the start."),
                               panel);
    message->setObjectName(QStringLiteral("panelMessage"));
    message->setTextFormat(Qt::PlainText);
    if (auto* grid = qobject_cast<QGridLayout*>(panel->layout())) grid->addWidget(message, grid->rowCount(), 0, 1, -1);
    const QPointer<ViewerModel> self(this);
    connect(panel, &QFileDialog::filesSelected, this, [self, gap = *gap](const QStringList& paths) {
        if (self) self->insertPages(paths, gap);
    });
    panel->open();
}

void ViewerModel::insertPages(const QStringList& paths, int gap)
{
    if (!document_ || document_->isLocked() || paths.isEmpty()) return;
    if (pdfView_) pdfView_->finishEditing();
    // The files are read and their images decoded on a worker (a large photo
    // takes seconds); the pages go in here, into the document as it is then.
    auto* watcher = new QFutureWatcher<PageEditor::FilePages>(this);
    connect(watcher, &QFutureWatcher<PageEditor::FilePages>::finished, this, [this, watcher, paths, gap] {
        watcher->deleteLater();
        insertReadPages(watcher->result(), paths, gap);
    });
    watcher->setFuture(QtConcurrent::run([paths] { return PageEditor::pages(paths); }));
}

void ViewerModel::insertReadPages(PageEditor::FilePages read, const QStringList& paths, int gap)
{
    if (!document_ || document_->isLocked()) return;
    QStringList& failures = read.failures;
    try {
        if (const auto edit = PageEditor::insert(read.pages, gap, *document_->pdf()))
            applyPageEdit(*edit, PageEditor::title(tr("Insert"), edit->pageCount(), false), true);
    } catch (const std::exception& error) {
        failures << QString::fromStdString(error.what());
    }
    if (failures.isEmpty()) return;
    const bool allFailed = failures.size() >= paths.size();
    const QString message = !allFailed ? tr("Some files weren't added.")
                            : paths.size() == 1 ? tr("That file wasn't added.")
                                                : tr("Those files weren't added.");
    showAlert(message, failures.join(QLatin1Char('\n')));
}

void ViewerModel::extractPages()
{
    if (!document_ || document_->isLocked()) return;
    const std::set<int> targets = pageTargets();
    if (targets.empty()) return;
    const QPointer<quarnkit::QuarnDocument> document = document_;
    auto* panel = new QFileDialog(windowOf(pdfView_), PageEditor::title(tr("Extract"), int(targets.size()), false),
                                  startFolder(filePath_));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setOption(QFileDialog::DontUseNativeDialog);
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setNameFilter(tr("PDF documents (*.pdf)"));
    panel->setDefaultSuffix(QStringLiteral("pdf"));
    panel->setLabelText(QFileDialog::Accept, tr("Extract"));
    panel->selectFile(PageEditor::extractFileName(baseName(filePath_), targets));
    const QPointer<ViewerModel> self(this);
    connect(panel, &QFileDialog::fileSelected, this, [self, targets, document](const QString& path) {
        if (self && document) self->finishExtract(path, targets, *document);
    });
    panel->open();
}

void ViewerModel::finishExtract(const QString& path, const std::set<int>& pages, const quarnkit::QuarnDocument& document)
{
    if (path.isEmpty()) return;
    // Written over, the document's own file would no longer hold what the window shows.
    if (!filePath_.isEmpty() && quarnkit::sameFile(path, filePath_)) {
        showAlert(tr("Extract didn't finish."),
                  quarnkit::ExportError(quarnkit::ExportError::Kind::documentFile).message());
        return;
    }
    // A snapshot now; the pages are copied out of it and written off the UI thread.
    std::function<bool()> write;
    try {
        write = PageEditor::extractionJob(document, pages, path);
    } catch (const std::exception& error) {
        showAlert(tr("Extract didn't finish."), QString::fromStdString(error.what()));
        return;
    }
    auto* watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcher<QString>::finished, this, [this, watcher, path] {
        const QString failure = watcher->result();
        watcher->deleteLater();
        if (!failure.isEmpty()) {
            showAlert(tr("Extract didn't finish."), failure);
            return;
        }
        if (revealFile) revealFile(path);
        else revealInFolder(path);
    });
    watcher->setFuture(QtConcurrent::run([write]() -> QString {
        try {
            // Atomic: a whole file or none.
            return write() ? QString() : tr("The file could not be written.");
        } catch (const std::exception& error) {
            return tr("The file could not be written.") + QLatin1Char(' ') + QString::fromStdString(error.what());
        }
    }));
}

void ViewerModel::showAlert(const QString& message, const QString& detail)
{
    QWidget* window = windowOf(pdfView_);
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("ravlen"), message, QMessageBox::Ok, window);
    box->setInformativeText(detail);
    box->setTextFormat(Qt::PlainText);
    box->setObjectName(QStringLiteral("pageAlert"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (window) box->open();
    else box->exec();
}

} // namespace quarn
