#include "Quarn/App/ViewerScreen.h"
#include "Quarn/Pages/PagesModel.h"

#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/Motion.h"
#include "Quarn/Design/SmallMarks.h"
#include "Quarn/Design/WindowChrome.h"
#include "Quarn/Export/ExportSheet.h"
#include "Quarn/History/LibraryColumn.h"
#include "Quarn/History/LibraryRail.h"
#include "Quarn/Markup/Inspector.h"
#include "Quarn/Markup/MarkupModel.h"
#include "Quarn/Markup/ToolPalette.h"
#include "Quarn/Shell/FileManager.h"
#include "Quarn/Shell/WindowEvents.h"
#include "Quarn/Signatures/SignToolbarItem.h"
#include "Quarn/App/PageViewHost.h"
#include "Quarn/Pages/SidebarPane.h"
#include "Quarn/Viewer/DocumentActions.h"
#include "Quarn/Viewer/DocumentInfoView.h"
#include "Quarn/Viewer/DroppedFiles.h"
#include "Quarn/Viewer/ShareMenu.h"
#include "Quarn/Find/FindBar.h"
#include "Quarn/Find/FindModel.h"
#include "Quarn/Forms/FormsBanner.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/StateMessages.h"
#include "Quarn/Viewer/StatusBar.h"
#include "Quarn/Viewer/ToolbarItems.h"
#include "QuarnKit/History/HistoryLibrary.h"
#include "QuarnKit/Shell/Design.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QHBoxLayout>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace quarn {

namespace D = quarnkit::Design;

ViewerScreen::Content ViewerScreen::contentFor(bool locked, bool unlocked, int pageCount, bool firstPageReadable)
{
    if (locked && !unlocked) return Content::locked;
    if (pageCount == 0) return Content::noPages;
    if (!firstPageReadable) return Content::unreadable;
    return Content::document;
}

ViewerScreen::ViewerScreen(quarnkit::QuarnDocument* document, const QString& filePath, QWidget* parent,
                           platform::UserDefaults* defaults, quarnkit::ReadingPositionStore* positions,
                           quarnkit::HistoryLibrary* history)
    : QWidget(parent), document_(document), filePath_(filePath), model_(new ViewerModel(defaults, positions, this)),
      history_(history)
{
    setAcceptDrops(true);
    setMinimumSize(880, 580);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, D::window());
    setPalette(p);
    new WindowChrome(this);

    auto* root = new QHBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    // The library rail at the left edge; the column beside it moves into
    // whichever content is shown (rebuildContent).
    rail_ = new LibraryRail(model_, this);
    root->addWidget(rail_);
    root->addWidget(new Hairline(true, this));
    libraryColumn_ = new LibraryColumn(model_, history_, this, true);
    for (const LibraryPanel panel : {LibraryPanel::history, LibraryPanel::explore})
        rail_->setPanelAvailable(panel, libraryColumn_->offers(panel));
    contentHost_ = new QWidget(this);
    auto* hostLayout = new QVBoxLayout(contentHost_);
    hostLayout->setContentsMargins(0, 0, 0, 0);
    hostLayout->setSpacing(0);
    root->addWidget(contentHost_, 1);

    // The watched values; none of them fires for its initial value.
    connect(model_, &ViewerModel::pageIndexChanged, model_, &ViewerModel::scheduleReadingPositionSave);
    connect(model_, &ViewerModel::zoomValueChanged, model_, &ViewerModel::zoomChanged);
    FindModel& find = FindModel::of(*model_);
    connect(&find, &FindModel::queryChanged, &find, [&find] { find.start(160); });
    connect(&PagesModel::of(*model_), &PagesModel::sidebarChanged, this, [this](bool shown) {
        if (sidebarButton_) sidebarButton_->setChosen(shown);
    });
    connect(model_, &ViewerModel::pageCountChanged, this, &ViewerScreen::updatePageTotal);
    connect(&find, &FindModel::presentedChanged, this, [this](bool shown) {
        if (findButton_) findButton_->setChosen(shown);
    });
    if (document_) connect(document_, &quarnkit::QuarnDocument::generationChanged, this, &ViewerScreen::documentEdited);

    // The chrome never keeps the keys: see keepKeysOnThePages.
    WindowEvents::listen(*this, {QEvent::KeyPress, QEvent::FocusIn}, [this](QEvent* event, QObject* receiver) {
        keepKeysOnThePages(receiver, event);
        return event->type() == QEvent::KeyPress && leavePages(static_cast<QKeyEvent*>(event));
    });
    // Whatever the content: a locked or empty document's sheet says why it
    // cannot export.
    ExportSheet::follow(model_, this);

    model_->setDocument(document_);
    model_->setFilePath(filePath_);
    rebuildContent();
}

ViewerScreen::~ViewerScreen()
{
    WindowEvents::forget(*this);
    disappear();
}

bool ViewerScreen::documentReady() const
{
    return document_
           && contentFor(document_->isLocked(), unlocked_, document_->pageCount(), document_->firstPageReadable())
                  == Content::document;
}

void ViewerScreen::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    appear();
}

void ViewerScreen::appear()
{
    if (appeared_) return;
    appeared_ = true;
    model_->setDocument(document_);
    model_->setFilePath(filePath_);
    model_->start();
    if (history_) history_->recordOpen(filePath_, document_);
    // Without a page to wait for (a locked, empty or unreadable document), on
    // the next turn; with one, should its tiles be slow, not much later.
    QTimer::singleShot(content_ == Content::document ? 500 : 0, this, &ViewerScreen::fillIn);
}

void ViewerScreen::fillIn()
{
    if (std::exchange(filledIn_, true)) return;
    libraryColumn_->fillIn();
    if (sidebar_) sidebar_->fillIn();
    if (inspector_) inspector_->fillIn();
}

void ViewerScreen::disappear()
{
    if (disappeared_ || !appeared_) return;
    disappeared_ = true;
    model_->stop();
    if (history_ && documentReady()) history_->updatePageCount(document_->pageCount(), filePath_);
}

void ViewerScreen::setFilePath(const QString& path)
{
    if (path == filePath_) return;
    const QString old = filePath_;
    filePath_ = path;
    model_->setFilePath(path);
    if (history_) history_->documentMoved(old, path);
}

void ViewerScreen::setDocument(quarnkit::QuarnDocument* document)
{
    if (document_) disconnect(document_, nullptr, this, nullptr);
    document_ = document;
    unlocked_ = false;
    if (auto* sidebar = findChild<SidebarPane*>()) sidebar->setDocument(document_);
    if (document_) connect(document_, &quarnkit::QuarnDocument::generationChanged, this, &ViewerScreen::documentEdited);
    model_->setDocument(document_);
    const Content before = content_;
    const Content now =
        document_ ? contentFor(document_->isLocked(), unlocked_, document_->pageCount(), document_->firstPageReadable())
                  : Content::noPages;
    if (pageViewHost_ && before == Content::document && now == Content::document) {
        pageViewHost_->setDocument(document_);
        if (formsBanner_) formsBanner_->setDocument(document_);
    } else rebuildContent();
}

void ViewerScreen::documentEdited()
{
    model_->documentChanged();
    updatePageTotal();
    // Deleting every page, for one, turns the document view into the empty state.
    const Content now =
        contentFor(document_->isLocked(), unlocked_, document_->pageCount(), document_->firstPageReadable());
    if (now != content_) rebuildContent();
}

// ---------------------------------------------------------------- content

void ViewerScreen::rebuildContent()
{
    content_ =
        document_ ? contentFor(document_->isLocked(), unlocked_, document_->pageCount(), document_->firstPageReadable())
                  : Content::noPages;
    // The library column outlives the content it stands in.
    libraryColumn_->hide();
    libraryColumn_->setParent(this);
    if (current_) {
        current_->hide();
        current_->deleteLater();
    }
    pageViewHost_ = nullptr;
    gate_ = nullptr;
    message_ = nullptr;
    sidebarButton_ = findButton_ = nullptr;
    toolbar_ = sideColumn_ = nullptr;
    formsBanner_ = nullptr;
    inspector_ = nullptr;
    sidebar_ = nullptr;
    findBar_ = nullptr;
    statusBar_ = nullptr;

    switch (content_) {
    case Content::locked: {
        const QPointer<quarnkit::QuarnDocument> document(document_);
        gate_ = new LockedGate(
            [this, document](const QString& password, LockedGate::Answer answer) {
                // Tried on a worker: a damaged file is read whole once it opens.
                if (document) document->unlockLater(password, std::move(answer), unlockHook);
                else answer(false);
            },
            [this] {
                unlocked_ = true;
                if (history_ && document_) history_->refreshDetails(filePath_, *document_);
                // The pages came with the unlock's edit (documentEdited), which
                // built them once; otherwise, after the gate's own call.
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        if (content_ == Content::locked) rebuildContent();
                    },
                    Qt::QueuedConnection);
            },
            contentHost_);
        current_ = gate_;
        break;
    }
    case Content::noPages:
        message_ = new StateMessage(QStringLiteral("doc"), tr("This PDF has no pages"),
                                    tr("Add pages from the Pages menu, or open another PDF."), nullptr, contentHost_);
        current_ = message_;
        break;
    case Content::unreadable: {
        QWidget* action = nullptr;
        if (!filePath_.isEmpty()) {
            auto* reveal = new QuietButton(tr("Show in Folder"));
            reveal->setFixedSize(reveal->sizeHint());
            connect(reveal, &QAbstractButton::clicked, this, [this] { revealInFolder(filePath_, window()); });
            action = reveal;
        }
        message_ = new StateMessage(QStringLiteral("exclamationmark.triangle"), tr("ravlen can't read this PDF"),
                                    tr("The file may be damaged or incomplete. Try opening a fresh copy."), action,
                                    contentHost_);
        current_ = message_;
        break;
    }
    case Content::document: current_ = makeDocumentView(); break;
    }
    if (content_ != Content::document) {
        // History stays reachable beside the gate or the message.
        auto* beside = new QWidget(contentHost_);
        auto* row = new QHBoxLayout(beside);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(0);
        row->addWidget(libraryColumn_);
        row->addWidget(current_, 1);
        current_ = beside;
    }
    contentHost_->layout()->addWidget(current_);
    current_->show();
    libraryColumn_->follow();
    rail_->setDocumentReady(documentReady());
}

QWidget* ViewerScreen::makeToolbar()
{
    auto* bar = new QWidget;
    bar->setFixedHeight(48);
    fillWithChrome(bar);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(12, 0, 12, 0);
    row->setSpacing(4);

    const QKeySequence sidebarKey = quarnkit::KeyboardShortcuts::menuKey(quarnkit::ShortcutCommand::toggleSidebar);
    sidebarButton_ = new ChromeToolButton(
        QStringLiteral("sidebar.left"),
        sidebarKey.isEmpty() ? tr("Sidebar")
                             : tr("Sidebar (%1)").arg(quarnkit::KeyboardShortcuts::keyText(sidebarKey[0])),
        bar);
    sidebarButton_->setKind(ChromeButton::Kind::toggle);
    sidebarButton_->setChosen(PagesModel::of(*model_).sidebar());
    connect(sidebarButton_, &QAbstractButton::clicked, model_,
            [this] { PagesModel::of(*model_).setSidebar(!PagesModel::of(*model_).sidebar()); });
    row->addWidget(sidebarButton_);

    auto* divider = new Hairline(true, bar);
    divider->setFixedHeight(18);
    row->addSpacing(6);
    row->addWidget(divider);
    row->addSpacing(6);
    row->addWidget(new ToolPalette(model_, bar));
    row->addStretch(1);
    // At the right, beside Share and Document Info.
    row->addWidget(new SignToolbarItem(model_, bar));

    // Share and Document Info: the Share menu and the info panel open under their buttons.
    auto* documentItems = new DocumentToolbarItems(model_, bar);
    DocumentActions& actions = DocumentActions::of(*model_);
    documentItems->setInfoPresented(actions.infoPresented());
    connect(documentItems, &DocumentToolbarItems::infoPresentedChanged, &actions, &DocumentActions::setInfoPresented);
    connect(&actions, &DocumentActions::infoPresentedChanged, documentItems, &DocumentToolbarItems::setInfoPresented);
    connect(documentItems, &DocumentToolbarItems::shareRequested, &actions, &DocumentActions::shareCopy);
    // The Share menu under its button, else under the pages (Share… of the File menu).
    connect(&actions, &DocumentActions::shareRequested, documentItems, [this, &actions, documentItems] {
        ShareMenu::offer(actions, documentItems->shareButton(), pageViewHost_ ? pageViewHost_->view() : nullptr);
    });
    DocumentInfoPopover::follow(model_, documentItems->infoButton());
    row->addWidget(documentItems);
    row->addSpacing(6);

    findButton_ = new ChromeToolButton(QStringLiteral("magnifyingglass"), tr("Find"), bar);
    FindModel& find = FindModel::of(*model_);
    findButton_->setKind(ChromeButton::Kind::toggle);
    findButton_->setChosen(find.presented());
    connect(findButton_, &QAbstractButton::clicked, &find, [&find] {
        if (find.presented()) find.close();
        else find.show();
    });
    row->addWidget(findButton_);
    row->addSpacing(6);
    auto* exportButton = new AccentButton(tr("Export"), std::nullopt, bar);
    exportButton->setFixedSize(exportButton->sizeHint());
    connect(exportButton, &QAbstractButton::clicked, model_,
            [this] { DocumentActions::of(*model_).setExportPresented(true); });
    row->addWidget(exportButton);
    return bar;
}

QWidget* ViewerScreen::makeSideColumn(QWidget* parent)
{
    // The document sidebar, shown while the side column holds the document
    // panel, then a hairline.
    auto* side = new QWidget(parent);
    auto* row = new QHBoxLayout(side);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    sidebar_ = new SidebarPane(model_, document_, side);
    if (filledIn_) sidebar_->fillIn();
    row->addWidget(sidebar_);
    row->addWidget(new Hairline(true, side));
    // Shown or hidden by the rail, it fades in or out as the library column does.
    auto* fade = new motion::FadeIn(side, LibraryColumn::fadeTime);
    const auto show = [this, side, fade] {
        const bool shown =
            PagesModel::of(*model_).sidebar() && PagesModel::of(*model_).libraryPanel() == LibraryPanel::document;
        if (shown != !side->isHidden() && motion::EasedChange::active()) {
            if (shown) fade->start();
            else motion::fadeOut(side, LibraryColumn::fadeTime);
        }
        side->setVisible(shown);
    };
    show();
    connect(&PagesModel::of(*model_), &PagesModel::sidebarChanged, side, show);
    connect(&PagesModel::of(*model_), &PagesModel::libraryPanelChanged, side, show);
    return side;
}

QWidget* ViewerScreen::makeDocumentView()
{
    auto* view = new QWidget(contentHost_);
    auto* column = new QVBoxLayout(view);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    toolbar_ = makeToolbar();
    column->addWidget(toolbar_);
    column->addWidget(new Hairline(false, view));
    // Find, under the toolbar while it is open; it draws its own hairline below.
    findBar_ = new FindBar(&FindModel::of(*model_), view);
    column->addWidget(findBar_);
    pageViewHost_ = new PageViewHost(document_, model_, view);
    formsBanner_ = new FormBanner(model_, document_, view);
    column->addWidget(formsBanner_);
    // The side column, the pages, and the inspector while it has something to show.
    auto* body = new QHBoxLayout;
    body->setSpacing(0);
    body->addWidget(libraryColumn_);
    sideColumn_ = makeSideColumn(view);
    body->addWidget(sideColumn_);
    body->addWidget(pageViewHost_, 1);
    // The inspector coming or going narrows or widens the page view. A fit
    // follows the new width; at a chosen zoom the pages must not move under
    // the pointer for it. Told before the pane hears the same change, as its
    // layout acts at once.
    const auto holdPlace = [this] {
        if (inspector_ && pageViewHost_ && !model_->zoomFit() && inspector_->wanted() != inspector_->isVisible())
            pageViewHost_->view()->holdPlaceOnNextResize();
    };
    connect(model_, &ViewerModel::changed, view, holdPlace);
    connect(&MarkupModel::of(*model_), &MarkupModel::changed, view, holdPlace);
    inspector_ = new InspectorPane(model_, view);
    if (filledIn_) inspector_->fillIn();
    body->addWidget(inspector_);
    connect(pageViewHost_->view(), &QuarnPDFView::firstPagesPainted, this, &ViewerScreen::fillIn);
    column->addLayout(body, 1);
    // The status bar draws the hairline above it.
    statusBar_ = new StatusBar(model_, view);
    connect(statusBar_, &StatusBar::slideshowRequested, model_, &ViewerModel::startSlideshow);
    column->addWidget(statusBar_);
    updatePageTotal();
    return view;
}

void ViewerScreen::updatePageTotal()
{
    // Not on every change of the model: reading the PDF's count may wait for
    // a search that is reading a page.
    if (!statusBar_) return;
    const int pdfPages = document_ ? document_->pageCount() : 0;
    statusBar_->setPageTotal(std::max(pdfPages, model_->pageCount()));
}

// ---------------------------------------------------------------- focus

void ViewerScreen::keepKeysOnThePages(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        // The focus that Tab moves now is the user's choice, unlike the focus
        // Qt hands on (with the same reason) when the control holding it goes
        // away; so is the focus an arrow moves to the next choice of a group
        // (Names or Contents, a location, a segment).
        const int key = static_cast<QKeyEvent*>(event)->key();
        const bool moves = key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Left || key == Qt::Key_Right
                           || key == Qt::Key_Up || key == Qt::Key_Down;
        if (moves && !tabbing_) {
            tabbing_ = true;
            QTimer::singleShot(0, this, [this] { tabbing_ = false; });
        }
    }
    if (event->type() != QEvent::FocusIn || !pageViewHost_) return;
    auto* widget = static_cast<QWidget*>(watched);
    QuarnPDFView* page = pageViewHost_->view();
    if (widget == page || page->isAncestorOf(widget) || !isAncestorOf(widget)) return;
    // Whatever the user tabbed to keeps the keys, and so does a field or a
    // sidebar list the user clicked or was sent to (Find, Go to Page, the page
    // list's Delete); a button, a slider, a swatch or a scroll area the focus
    // reached otherwise never does, nor a field the focus fell to when the
    // control holding it went away. The focus a closing menu or popover, or
    // the window coming back to the front, hands back is where the keys were
    // left: the menu's opener keeps them.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason) return;
    const bool typing = qobject_cast<QLineEdit*>(widget) || qobject_cast<QAbstractSpinBox*>(widget)
                        || qobject_cast<QTextEdit*>(widget) || qobject_cast<QPlainTextEdit*>(widget)
                        || qobject_cast<QAbstractItemView*>(widget);
    const bool chosen = reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason;
    if (!tabbing_ && !(typing && chosen)) {
        const QPointer<QuarnPDFView> target(page);
        QMetaObject::invokeMethod(
            this,
            [target] {
                if (target && target->isVisible()) target->setFocus(Qt::OtherFocusReason);
            },
            Qt::QueuedConnection);
    }
}

std::vector<QWidget*> ViewerScreen::tabStops() const
{
    std::vector<QWidget*> stops;
    if (content_ != Content::document || !pageViewHost_) return stops;
    // The parts in the order Tab visits them; a stop in none of them goes last.
    const QWidget* parts[] = {toolbar_,    findBar_,      formsBanner_, rail_,     libraryColumn_,
                              sideColumn_, pageViewHost_, inspector_,   statusBar_};
    const auto partOf = [&parts](const QWidget* widget) {
        const auto at = std::find_if(std::begin(parts), std::end(parts), [widget](const QWidget* part) {
            return part && (part == widget || part->isAncestorOf(widget));
        });
        return int(at - std::begin(parts));
    };
    // Within a part, the order the widgets were made in (left to right, top to bottom).
    QWidget* top = window();
    for (QWidget* w = top->nextInFocusChain(); w && w != top; w = w->nextInFocusChain())
        if (isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && w->isVisibleTo(top)
            && w->isEnabled() && !w->focusProxy())
            stops.push_back(w);
    std::stable_sort(stops.begin(), stops.end(),
                     [&partOf](const QWidget* a, const QWidget* b) { return partOf(a) < partOf(b); });
    return stops;
}

bool ViewerScreen::leavePages(const QKeyEvent* event)
{
    const bool tab = event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab;
    const Qt::KeyboardModifiers mods = event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    if (!tab || mods != Qt::ControlModifier || !pageViewHost_) return false;
    QWidget* focus = QApplication::focusWidget();
    if (!focus || !isAncestorOf(focus)) return false;
    const bool back = event->key() == Qt::Key_Backtab || (event->modifiers() & Qt::ShiftModifier);
    const auto inPages = [this](const QWidget* w) { return w == pageViewHost_ || pageViewHost_->isAncestorOf(w); };
    // Elsewhere in the window it goes on as Tab does, so that it also leads back to the pages.
    if (!inPages(focus)) return focusNextPrevChild(!back);
    const std::vector<QWidget*> stops = tabStops();
    const auto first = std::find_if(stops.begin(), stops.end(), inPages);
    if (first == stops.end()) return false;
    const auto last = std::find_if(stops.rbegin(), stops.rend(), inPages).base() - 1;
    const std::size_t count = stops.size();
    const auto index = std::size_t((back ? first : last) - stops.begin());
    QWidget* to = stops[back ? (index + count - 1) % count : (index + 1) % count];
    if (inPages(to)) return false; // nothing but the pages to go to
    to->setFocus(back ? Qt::BacktabFocusReason : Qt::TabFocusReason);
    return true;
}

bool ViewerScreen::focusNextPrevChild(bool next)
{
    const std::vector<QWidget*> stops = tabStops();
    const auto at = std::find(stops.begin(), stops.end(), QApplication::focusWidget());
    if (at == stops.end()) return QWidget::focusNextPrevChild(next);
    const auto index = std::size_t(at - stops.begin());
    const std::size_t count = stops.size();
    QWidget* to = stops[next ? (index + 1) % count : (index + count - 1) % count];
    to->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

// ---------------------------------------------------------------- dropping files

bool ViewerScreen::openDroppedPdfs(const QMimeData* mime)
{
    // Other files are ignored without a message; each PDF opens in its own
    // window, and one that fails is reported by the opener.
    const QStringList files = droppedPdfs(mime);
    for (const QString& path : files) model_->openFile(path);
    return !files.isEmpty();
}

// A drag that holds no PDF is offered no drop, over the pages (which refuse
// it themselves and leave it to the window) and the chrome alike.
void ViewerScreen::dragEnterEvent(QDragEnterEvent* event)
{
    if (droppedPdfs(event->mimeData()).isEmpty()) event->ignore();
    else event->acceptProposedAction();
}

void ViewerScreen::dragMoveEvent(QDragMoveEvent* event)
{
    if (droppedPdfs(event->mimeData()).isEmpty()) event->ignore();
    else event->acceptProposedAction();
}

void ViewerScreen::dropEvent(QDropEvent* event)
{
    if (openDroppedPdfs(event->mimeData())) event->acceptProposedAction();
    else event->ignore();
}

} // namespace quarn
