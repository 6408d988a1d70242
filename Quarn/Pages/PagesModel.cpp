#include "Quarn/Pages/PagesModel.h"
#include "QuarnKit/Shell/DroppableWork.h"

#include "Quarn/App/DocumentController.h"
#include "Quarn/Pages/ThumbnailStore.h"
#include "Quarn/Shell/FileManager.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/OutlineMap.h"
#include "QuarnKit/Export/ExportSettings.h"
#include "QuarnKit/Export/Exporter.h"
#include "QuarnKit/History/HistoryLocator.h"
#include "QuarnKit/History/OpenProblem.h"
#include "QuarnKit/Pages/PageEditor.h"
#include "QuarnKit/Pages/PageEdits.h"

#include <QApplication>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QScopedValueRollback>
#include <QtConcurrent>

namespace quarn {

using quarnkit::PageEditError;
namespace PageEditor = quarnkit::PageEditor;
namespace PageEdits = quarnkit::PageEdits;

PagesModel& PagesModel::of(ViewerModel& viewer)
{
    if (auto* pages = viewer.findChild<PagesModel*>(QString(), Qt::FindDirectChildrenOnly)) return *pages;
    return *new PagesModel(viewer);
}

PagesModel::PagesModel(ViewerModel& viewer)
    : QObject(&viewer), viewer_(viewer), sidebarTab_(quarnkit::loadSidebarTab(viewer.defaults())),
      libraryPanel_(quarnkit::LibraryPanels::saved(viewer.defaults()))
{
    // Until a page list shows the selection, the model keeps it in step itself.
    connect(&viewer, &ViewerModel::pageIndexChanged, this, &PagesModel::syncSelectionToPage);
    connect(&viewer, &ViewerModel::documentReplaced, this, &PagesModel::followDocument);
    followDocument();
}

void PagesModel::followDocument()
{
    // Every page edit, made here or undone and redone from the Edit menu,
    // comes back from the document: the pages it put in are selected.
    disconnect(documentConnection_);
    if (quarnkit::QuarnDocument* doc = document())
        documentConnection_ = connect(doc, &quarnkit::QuarnDocument::pagesEdited, this,
                                      [this](const quarnkit::PagesEdit& edit) { pagesDidChange(edit, revealEdits_); });
}

quarnkit::QuarnDocument* PagesModel::document() const { return viewer_.document(); }

void PagesModel::setSidebar(bool shown)
{
    if (shown == sidebar_) return;
    sidebar_ = shown;
    emit sidebarChanged(shown);
    emit changed();
}

void PagesModel::setLibraryPanel(LibraryPanel panel)
{
    quarnkit::LibraryPanels::save(viewer_.defaults(), panel);
    if (panel == libraryPanel_) return;
    libraryPanel_ = panel;
    emit libraryPanelChanged(panel);
    emit changed();
}

void PagesModel::toggleLibrary(LibraryPanel panel)
{
    if (sidebar_ && libraryPanel_ == panel) {
        setSidebar(false);
        return;
    }
    setLibraryPanel(panel);
    setSidebar(true);
}

void PagesModel::toggleLibraryAndFocus(LibraryPanel panel)
{
    toggleLibrary(panel);
    if (sidebar_ && panel != LibraryPanel::document) setLibraryFocusRequest(panel);
}

bool PagesModel::takeLibraryFocusRequest(LibraryPanel panel)
{
    if (libraryFocusRequest_ != panel) return false;
    setLibraryFocusRequest(std::nullopt);
    return true;
}

void PagesModel::setLibraryFocusRequest(std::optional<LibraryPanel> panel)
{
    if (panel == libraryFocusRequest_) return;
    libraryFocusRequest_ = panel;
    emit libraryFocusRequestChanged(panel);
    emit changed();
}

void PagesModel::setSelectedPages(const std::set<int>& pages)
{
    if (pages == selectedPages_) return;
    selectedPages_ = pages;
    emit selectedPagesChanged(pages);
    emit changed();
}

std::set<int> PagesModel::pageTargets() const
{
    const quarnkit::QuarnDocument* doc = document();
    const int count = doc && !doc->isLocked() ? doc->pageCount() : 0;
    return PageEditor::targets(selectedPages_, viewer_.pageIndex(), count);
}

bool PagesModel::canEditPages() const
{
    const quarnkit::QuarnDocument* doc = document();
    return shownPage && doc && !doc->isLocked() && doc->pageCount() >= 1;
}

bool PagesModel::canDeletePages() const
{
    return canEditPages() && int(pageTargets().size()) < document()->pageCount();
}

int PagesModel::insertionGap() const
{
    const std::set<int> targets = pageTargets();
    // Without pages the files go at the start.
    return targets.empty() ? 0 : *targets.rbegin() + 1;
}

ThumbnailStore& PagesModel::thumbnails()
{
    if (!thumbnails_) thumbnails_ = new ThumbnailStore(this);
    thumbnails_->setDocument(document());
    return *thumbnails_;
}

void PagesModel::showOutlineTarget(std::optional<int> page,
                                   const std::optional<quarnkit::OutlineDestination>& destination)
{
    if (!page || !shownPage) return;
    if (destination) emit pageRequested(destination->pageIndex, destination->point);
    else emit pageRequested(*page, std::nullopt);
}

void PagesModel::pagesDidChange(const quarnkit::PagesEdit& edit, bool reveal)
{
    emit pagesReset();
    const quarnkit::QuarnDocument* doc = document();
    const std::set<int>& inserted = edit.placed;
    if (!inserted.empty()) {
        setSelectedPages(inserted);
        const int first = *inserted.begin();
        // Shown as if the sidebar asked: the new selection survives the page change.
        if (reveal && doc && first < doc->pageCount()) goToPageFromSidebar(first);
    } else if (edit.turned.empty()) {
        setSelectedPages({});
    } else if (reveal && doc) {
        // Undo and redo of a rotation show the first page they turned.
        const auto index = doc->pageIndex(edit.turned.front());
        if (index) emit pageRequested(*index, std::nullopt);
    }
}

void PagesModel::setSidebarTab(quarnkit::SidebarTab tab)
{
    quarnkit::saveSidebarTab(tab, viewer_.defaults()); // every time, as the user chose it
    if (tab == sidebarTab_) return;
    sidebarTab_ = tab;
    emit sidebarTabChanged(tab);
    emit changed();
}

void PagesModel::showSidebarTab(quarnkit::SidebarTab tab)
{
    setSidebarTab(tab);
    setLibraryPanel(LibraryPanel::document);
    setSidebar(true);
}

void PagesModel::chooseSidebarTab(quarnkit::SidebarTab tab)
{
    showSidebarTab(tab);
    emit sidebarKeysRequested();
}

void PagesModel::goToPageFromSidebar(int index)
{
    const quarnkit::QuarnDocument* doc = document();
    // Already there: no page change will come to consume the jump.
    sidebarJump_ = doc && index != viewer_.pageIndex() ? doc->pageId(index) : std::nullopt;
    if (shownPage && doc && index >= 0 && index < doc->pageCount()) emit pageRequested(index, std::nullopt);
}

void PagesModel::syncSelectionToPage()
{
    const quarnkit::QuarnDocument* doc = document();
    const int pageIndex = viewer_.pageIndex();
    const std::optional<quarnkit::PageId> page = doc ? doc->pageId(pageIndex) : std::nullopt;
    if (!page) return;
    if (sidebarJump_) {
        sidebarJump_.reset();
        shownPageId_ = page;
        return;
    }
    if (shownPageId_ == page) return;
    if (!selectedPages_.empty() && !selectedPages_.count(pageIndex)) setSelectedPages({});
    shownPageId_ = page;
}

void PagesModel::rotatePages(int degrees)
{
    if (!canEditPages()) return;
    emit editingFinishRequested();
    const std::set<int> targets = pageTargets();
    const int shown = shownPage();
    const QScopedValueRollback stay(revealEdits_, false);
    try {
        // A page turned in view changes shape: its top stays in sight.
        if (PageEdits::rotate(*document(), targets, degrees) && targets.count(shown))
            emit pageRequested(shown, std::nullopt);
    } catch (const std::exception& error) {
        emit failed(tr("ravlen couldn't change those pages."), QString::fromStdString(error.what()));
    }
}

void PagesModel::insertBlankPage()
{
    const std::set<int> targets = pageTargets();
    insertBlankPageAfter(targets.empty() ? 0 : *targets.rbegin());
}

void PagesModel::insertBlankPageAfter(int index)
{
    // Also into a document without pages: inserting is the only way out of that state.
    quarnkit::QuarnDocument* doc = document();
    if (!doc || doc->isLocked()) return;
    emit editingFinishRequested();
    try {
        PageEdits::insertBlank(*doc, index);
    } catch (const std::exception& error) {
        emit failed(tr("ravlen couldn't change those pages."), QString::fromStdString(error.what()));
    }
}

void PagesModel::duplicatePages()
{
    if (!canEditPages()) return;
    emit editingFinishRequested();
    try {
        PageEdits::duplicate(*document(), pageTargets());
    } catch (const std::exception& error) {
        emit failed(tr("ravlen couldn't change those pages."), QString::fromStdString(error.what()));
    }
}

void PagesModel::deletePages()
{
    quarnkit::QuarnDocument* doc = document();
    if (!doc || doc->isLocked()) return;
    emit editingFinishRequested();
    const QScopedValueRollback stay(revealEdits_, false);
    try {
        PageEdits::deletePages(*doc, pageTargets());
    } catch (const PageEditError& error) {
        emit failed(tr("ravlen didn't delete those pages."), error.description());
    } catch (const std::exception& error) {
        emit failed(tr("ravlen didn't delete those pages."), QString::fromStdString(error.what()));
    }
}

void PagesModel::movePages(const std::set<int>& pages, int gap)
{
    if (!canEditPages()) return;
    emit editingFinishRequested();
    try {
        PageEdits::move(*document(), pages, gap);
    } catch (const std::exception& error) {
        emit failed(tr("ravlen couldn't change those pages."), QString::fromStdString(error.what()));
    }
}

void PagesModel::insertPages(const QStringList& paths, int gap)
{
    quarnkit::QuarnDocument* doc = document();
    if (!doc || doc->isLocked() || paths.isEmpty()) return;
    emit editingFinishRequested();
    // The files are read and their images decoded on a worker (a large photo
    // takes seconds); the pages go in here, into the document as it is then.
    auto* watcher = new QFutureWatcher<PageEditor::FilePages>(this);
    connect(watcher, &QFutureWatcher<PageEditor::FilePages>::finished, this, [this, watcher, paths, gap] {
        watcher->deleteLater();
        insertReadPages(watcher->result(), paths, gap);
    });
    watcher->setFuture(
        QtConcurrent::run(quarnkit::DroppableWork::shared().pool(), [paths] { return PageEditor::pages(paths); }));
}

void PagesModel::insertReadPages(PageEditor::FilePages read, const QStringList& paths, int gap)
{
    quarnkit::QuarnDocument* doc = document();
    if (!doc || doc->isLocked()) return;
    QStringList& failures = read.failures;
    try {
        PageEdits::insert(*doc, read.pages, gap);
    } catch (const std::exception& error) {
        failures << QString::fromStdString(error.what());
    }
    if (failures.isEmpty()) return;
    const bool allFailed = failures.size() >= paths.size();
    const QString message = !allFailed          ? tr("Some files weren't added.")
                            : paths.size() == 1 ? tr("That file wasn't added.")
                                                : tr("Those files weren't added.");
    emit failed(message, failures.join(QLatin1Char('\n')));
}

void PagesModel::finishExtract(const QString& path, const std::set<int>& pages, const quarnkit::QuarnDocument& document)
{
    if (path.isEmpty()) return;
    // Written over, the document's own file would no longer hold what the window shows.
    if (!viewer_.filePath().isEmpty() && quarnkit::sameFile(path, viewer_.filePath())) {
        emit failed(tr("Extract didn't finish."),
                    quarnkit::ExportError(quarnkit::ExportError::Kind::documentFile).message());
        return;
    }
    try {
        const std::optional<quarnkit::ChosenFile> file =
            quarnkit::Exporter::chooseFile(path, [this](const QString& name, const QString& written) {
                return confirmReplace ? confirmReplace(name, written)
                                      : DocumentController::askToReplace(asksFrom, name, written);
            });
        if (file) writeExtract(*file, pages, document); // a cancel is never reported
    } catch (const quarnkit::ExportError& error) {
        emit failed(tr("Extract didn't finish."), error.message());
    }
}

void PagesModel::writeExtract(const quarnkit::ChosenFile& file, const std::set<int>& pages,
                              const quarnkit::QuarnDocument& document)
{
    // A snapshot now; the pages are copied out of it and written off the UI
    // thread, into the file the question saw.
    std::function<bool()> write;
    try {
        write = PageEdits::extractInto(document, pages, file, document.copyLossAccepted());
    } catch (const quarnkit::DocumentError& error) {
        if (error.code() != quarnkit::DocumentError::Code::fileWriteCopyShowsLess) {
            emit failed(tr("Extract didn't finish."), error.sentence());
            return;
        }
        // Asked as Save As and Export ask, once a document; a cancel is never reported.
        if (this->document()
            && DocumentController::askAboutLoss(asksFrom, QFileInfo(quarnkit::chosenPath(file)).fileName(),
                                                tr("Extract Anyway"))
            && this->document()) {
            this->document()->acceptCopyLoss();
            writeExtract(file, pages, *this->document());
        }
        return;
    } catch (const std::exception& error) {
        emit failed(tr("Extract didn't finish."), QString::fromStdString(error.what()));
        return;
    }
    const QString path = quarnkit::chosenPath(file);
    auto* watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcher<QString>::finished, this, [this, watcher, path] {
        const QString failure = watcher->result();
        watcher->deleteLater();
        if (!failure.isEmpty()) {
            emit failed(tr("Extract didn't finish."), failure);
            return;
        }
        if (revealFile) return revealFile(path);
        revealInFolder(path, [self = QPointer<PagesModel>(this), path](const QString& reason) {
            if (self) emit self->failed(quarnkit::OpenProblem::notShownInFolder(path, reason).title, reason);
        });
    });
    watcher->setFuture(QtConcurrent::run([write, path]() -> QString {
        // Told as every other save is: "ravlen couldn't save "name". <reason>".
        const QString name = QFileInfo(path).fileName();
        try {
            // Atomic: a whole file or none.
            if (write()) return {};
            return quarnkit::ExportError::cannotWrite(
                       name, quarnkit::ExportError(quarnkit::ExportError::Kind::writeFailed).message())
                .message();
        } catch (const std::exception& error) {
            return quarnkit::ExportError::cannotWrite(name, quarnkit::Exporter::saveFailureReason(error)).message();
        }
    }));
}

} // namespace quarn
