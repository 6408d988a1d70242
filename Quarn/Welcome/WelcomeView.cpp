#include "Quarn/Welcome/WelcomeView.h"
#include "QuarnKit/Shell/DroppableWork.h"

#include "Platform/UserDefaults.h"
#include "Quarn/App/DocumentController.h"
#include "Quarn/Design/AccessibleShown.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/SmallMarks.h"
#include "Quarn/Design/Spinner.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Design/TabStop.h"
#include "Quarn/History/HistoryPanel.h"
#include "Quarn/History/LibraryViews.h"
#include "Quarn/Shell/DefaultAppQuestion.h"
#include "Quarn/Shell/ShellText.h"
#include "Quarn/Update/UpdateController.h"
#include "Quarn/Update/UpdateWindow.h"
#include "Quarn/Viewer/DroppedFiles.h"
#include "Quarn/Welcome/RecentCard.h"
#include "Quarn/Welcome/VersionBadge.h"
#include "QuarnKit/Explore/ExploreModel.h"
#include "QuarnKit/History/HistoryLibrary.h"
#include "QuarnKit/Shell/DefaultPDFHandler.h"
#include "QuarnKit/Shell/Design.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace quarn {

namespace D = quarnkit::Design;
namespace Handler = quarnkit::DefaultPDFHandler;
using quarnkit::ExploreModel;

// ---------------------------------------------------------------- services

WelcomeServices WelcomeServices::application()
{
    WelcomeServices services;
    services.library = &quarnkit::HistoryLibrary::shared();
    services.documents = &DocumentController::shared();
    services.thumbnails = &RecentThumbnails::shared();
    services.defaults = &platform::UserDefaults::standard();
    services.updates = &UpdateController::shared();
    services.showUpdates = [] { UpdateWindow::shared().show(true); };
    return services;
}

namespace {

// Runs `work` on a worker and hands its result to `done` on the UI thread,
// unless `owner` is gone by then.
template <typename Work, typename Done>
void inBackground(QObject* owner, Work work, Done done)
{
    quarnkit::DroppableWork::shared().start(
        [guard = QPointer<QObject>(owner), work = std::move(work), done = std::move(done)]() mutable {
            auto result = work();
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, done = std::move(done), result = std::move(result)]() mutable {
                    if (guard) done(std::move(result));
                },
                Qt::QueuedConnection);
        });
}

QFont sectionFont()
{
    QFont font = uiFont(13, QFont::DemiBold);
    font.setFamilies({QStringLiteral("serif")});
    return font;
}

QColor secondary() { return withOpacity(D::paper(), 0.55); }

// A text button in the accent colour, 12 semibold, no fill.
class AccentLink : public ChromeButton {
public:
    explicit AccentLink(const QString& title, QWidget* parent = nullptr) : ChromeButton(parent)
    {
        setText(title);
        setAccessibleName(title);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override { return {QFontMetrics(font()).horizontalAdvance(text()) + 4, 22}; }

protected:
    static QFont font() { return uiFont(12, QFont::DemiBold); }
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        pressStyle().apply(p, rect());
        p.setFont(font());
        p.setPen(withOpacity(D::accent(), 0.85 + 0.15 * hoverAmount()));
        p.drawText(rect(), Qt::AlignCenter, text());
    }
};

} // namespace

// ---------------------------------------------------------------- drop box and overlay

DropBox::DropBox(QWidget* parent)
    : QWidget(parent), lit_(new motion::Ease(
                           150, [this] { showLit(); }, this))
{
    setFixedHeight(176);
    auto* column = new QVBoxLayout(this);
    column->setSpacing(8);
    column->addStretch(1);
    symbol_ = new QLabel(this);
    symbol_->setFixedSize(22, 22);
    column->addWidget(symbol_, 0, Qt::AlignHCenter);
    column->addWidget(shelltext::label(QStringLiteral("Drop a PDF here"), uiFont(13, QFont::Medium),
                                       withOpacity(D::paper(), 0.86), this),
                      0, Qt::AlignHCenter);
    hint_ = shelltext::label(QString(), uiFont(12), secondary(), this);
    column->addWidget(hint_, 0, Qt::AlignHCenter);
    column->addStretch(1);
    setTargeted(false);
    setKeepHistory(true);
}

void DropBox::setTargeted(bool targeted)
{
    targeted_ = targeted;
    lit_->moveTo(targeted ? 1 : 0);
    showLit();
}

void DropBox::showLit()
{
    symbol_->setPixmap(symbolPixmap(QStringLiteral("arrow.down.doc"), {22, 22}, blend(secondary(), D::accent(), lit()),
                                    devicePixelRatioF()));
    update();
}

void DropBox::setKeepHistory(bool on)
{
    hint_->setText(on ? QStringLiteral("PDFs you open show up here.")
                      : QStringLiteral("History is off, so recent PDFs don't show here."));
}

QString DropBox::hint() const { return hint_->text(); }

void DropBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath box;
    box.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    const double lit = this->lit();
    p.fillPath(box, blend(withOpacity(D::paper(), 0.03), withOpacity(D::accent(), 0.1), lit));
    // The dashed border gives way to the solid accent one.
    QPen dashed(withOpacity(D::paper(), 0.16 * (1 - lit)), 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    dashed.setDashPattern({5, 4});
    p.setPen(dashed);
    p.drawPath(box);
    p.setPen(QPen(withOpacity(D::accent(), lit), 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.drawPath(box);
}

// Over the whole view while a drag is over recents or results; it comes and
// goes with its opacity, easing over 0.15 s.
class DropOverlay : public QWidget {
public:
    explicit DropOverlay(QWidget* parent)
        : QWidget(parent), opacity_(new motion::Ease(
                               150, [this] { follow(); }, this))
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
    }
    void setShown(bool shown)
    {
        shown_ = shown;
        if (shown) raise();
        opacity_->moveTo(shown ? 1 : 0);
        follow();
    }
    double opacity() const { return opacity_->value(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setOpacity(opacity());
        const QRectF area = QRectF(rect()).adjusted(10, 10, -10, -10);
        QPainterPath box;
        box.addRoundedRect(area.adjusted(1, 1, -1, -1), 4, 4);
        p.fillPath(box, withOpacity(D::accent(), 0.08));
        p.setPen(QPen(D::accent(), 2));
        p.drawPath(box);
        const QString label = QStringLiteral("Drop to open");
        const QFont font = uiFont(13, QFont::DemiBold);
        const QSizeF pill(QFontMetrics(font).horizontalAdvance(label) + 28, 30);
        const QRectF pillRect(area.center() - QPointF(pill.width() / 2, pill.height() / 2), pill);
        QPainterPath back;
        back.addRoundedRect(pillRect, 4, 4);
        p.fillPath(back, D::accent());
        p.setFont(font);
        p.setPen(D::paper());
        p.drawText(pillRect, Qt::AlignCenter, label);
    }

private:
    // Shown while wanted or still going.
    void follow()
    {
        setVisible(shown_ || opacity() > 0);
        update();
    }

    motion::Ease* opacity_;
    bool shown_ = false;
};

// ---------------------------------------------------------------- view

WelcomeView::WelcomeView(WelcomeServices services, QWidget* parent) : QWidget(parent), services_(std::move(services))
{
    loadLibrarySymbols();
    // The welcome search remembers nothing of its own choices.
    search_ = new ExploreModel(services_.exploreSource ? services_.exploreSource() : nullptr, false,
                               *services_.defaults, this);
    setAcceptDrops(true);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, D::window());
    setPalette(pal);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    // What is put away (an old banner, the other sections, an empty
    // state behind the results) is not read out either.
    exposeShownChildrenOnly(this);

    main_ = new QWidget(this);
    exposeShownChildrenOnly(main_);
    auto* column = new QVBoxLayout(main_);
    column->setContentsMargins(28, 0, 28, 24);
    column->setSpacing(0);
    column->addWidget(makeHeader());

    field_ = new LibrarySearchField(QStringLiteral("Find a PDF on this computer"));
    field_->setToolTip(QStringLiteral("Search every PDF on this computer by name. Return opens the first result."));
    column->addWidget(withPadding(field_, {0, 26, 0, 0}));

    banner_ = new LibraryNotice(nullptr, LibraryNotice::Size::roomy);
    bannerRow_ = withPadding(banner_, {0, 16, 0, 0});
    bannerRow_->hide();
    column->addWidget(bannerRow_);

    auto* sections = new QWidget;
    exposeShownChildrenOnly(sections);
    auto* sectionColumn = new QVBoxLayout(sections);
    sectionColumn->setContentsMargins(0, 20, 0, 0);
    sectionColumn->setSpacing(0);
    resultsSection_ = makeResultsSection();
    dropBox_ = new DropBox;
    recentsSection_ = makeRecentsSection();
    for (QWidget* section : {resultsSection_, static_cast<QWidget*>(dropBox_), recentsSection_})
        sectionColumn->addWidget(section);
    column->addWidget(sections);
    root->addWidget(main_);
    root->addWidget(new Hairline(false, this));
    root->addWidget(makeFooter());
    setFixedWidth(contentWidth);

    overlay_ = new DropOverlay(this);

    connect(field_, &QLineEdit::textChanged, this, [this](const QString& text) {
        search_->setText(text);
        searchTextChanged();
    });
    connect(field_, &QLineEdit::returnPressed, this, &WelcomeView::openFirstResult);
    // A card reached by the keys is scrolled into view.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now && resultsScroll_->isAncestorOf(now)) resultsScroll_->ensureWidgetVisible(now, 0, 8);
    });
    connect(banner_, &LibraryNotice::dismissed, this, [this] { setProblem(std::nullopt); });
    for (const auto signal : {&ExploreModel::resultsChanged, &ExploreModel::statusChanged})
        connect(search_, signal, this, &WelcomeView::showResults);
    // Off screen nothing needs to be current: showing refreshes.
    const auto refreshShown = [this] {
        if (isVisible()) refresh();
    };
    connect(services_.library, &quarnkit::HistoryLibrary::entriesChanged, this, refreshShown);
    connect(services_.library, &quarnkit::HistoryLibrary::keepHistoryChanged, this, [this, refreshShown](bool on) {
        dropBox_->setKeepHistory(on);
        refreshShown();
    });
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [refreshShown](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive) refreshShown();
    });
    showResults();
    showSections();
    orderTabs();
}

WelcomeView::~WelcomeView() = default;

QWidget* WelcomeView::makeHeader()
{
    auto* header = new QWidget;
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 40, 0, 0);
    row->setSpacing(16);
    row->addWidget(new PageMark(46, header));
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->addWidget(shelltext::label(QStringLiteral("ravlen"), uiFont(24, QFont::DemiBold), D::paper(), header));
    texts->addWidget(
        shelltext::label(QStringLiteral("Read a PDF, mark it up, and export it."), uiFont(13), secondary(), header));
    row->addLayout(texts);
    row->setAlignment(texts, Qt::AlignVCenter);
    row->addStretch(1);
    const QKeySequence openKey = quarnkit::KeyboardShortcuts::menuKey(quarnkit::ShortcutCommand::open);
    const QString keyText = openKey.isEmpty() ? QString() : quarnkit::KeyboardShortcuts::keyText(openKey[0]);
    auto* open = new AccentButton(QStringLiteral("Open PDF"), keyText, header);
    open->setToolTip(QStringLiteral("Open a PDF (%1)").arg(keyText));
    connect(open, &QAbstractButton::clicked, this, [this] {
        if (services_.documents) services_.documents->runOpenPanel();
    });
    row->addWidget(open);
    open_ = open;
    return header;
}

QWidget* WelcomeView::makeResultsSection()
{
    auto* section = new QWidget;
    exposeShownChildrenOnly(section);
    auto* column = new QVBoxLayout(section);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);

    auto* header = new QWidget(section);
    exposeShownChildrenOnly(header);
    header->setFixedHeight(22);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addWidget(shelltext::label(QStringLiteral("Results"), sectionFont(), withOpacity(D::paper(), 0.7), header));
    row->addStretch(1);
    spinner_ = new Spinner(11, QStringLiteral("Searching"), header);
    row->addWidget(spinner_);
    summary_ = shelltext::label(QString(), uiFont(12), secondary(), header);
    row->addWidget(summary_);
    column->addWidget(header);

    resultsArea_ = new QStackedWidget(section);
    exposeShownChildrenOnly(resultsArea_);
    resultsArea_->setFixedHeight(resultsHeight);
    resultsEmpty_ = new ExploreEmptyView(*search_, false); // a search by names alone
    resultsArea_->addWidget(resultsEmpty_);
    auto* content = new QWidget;
    exposeShownChildrenOnly(content);
    auto* contentColumn = new QVBoxLayout(content);
    contentColumn->setContentsMargins(0, 0, 0, 0);
    contentColumn->setSpacing(0);
    resultCards_ = new CardGrid(*services_.thumbnails, content);
    contentColumn->addWidget(resultCards_);
    overflow_ = shelltext::label(QString(), uiFont(12), secondary(), content);
    overflow_->setWordWrap(true);
    overflow_->setContentsMargins(0, 16, 0, 0);
    contentColumn->addWidget(overflow_);
    contentColumn->addStretch(1);
    resultsScroll_ = new QScrollArea;
    resultsScroll_->setFocusPolicy(Qt::NoFocus); // the cards take the keys, not the area around them
    resultsScroll_->setFrameShape(QFrame::NoFrame);
    resultsScroll_->setWidgetResizable(true);
    resultsScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    resultsScroll_->setWidget(content);
    resultsScroll_->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    resultsArea_->addWidget(resultsScroll_);
    column->addWidget(resultsArea_);

    connect(resultCards_, &CardGrid::openRequested, this, &WelcomeView::open);
    connect(resultCards_, &CardGrid::revealFailed, this, &WelcomeView::setProblem);
    return section;
}

QWidget* WelcomeView::makeRecentsSection()
{
    auto* section = new QWidget;
    auto* column = new QVBoxLayout(section);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(shelltext::label(QStringLiteral("Recent"), sectionFont(), withOpacity(D::paper(), 0.7), section));
    row->addStretch(1);
    clear_ = new QuietButton(QStringLiteral("Clear"), section);
    clear_->setToolTip(QStringLiteral("Clear your history"));
    clear_->setFixedSize(clear_->sizeHint());
    row->addWidget(clear_);
    column->addLayout(row);
    recentCards_ = new CardGrid(*services_.thumbnails, section);
    column->addWidget(recentCards_);

    connect(clear_, &QAbstractButton::clicked, this, [this] {
        askToClearHistory(window(), [view = QPointer<WelcomeView>(this)] {
            if (view) view->clearHistory();
        });
    });
    connect(recentCards_, &CardGrid::openRequested, this, &WelcomeView::open);
    connect(recentCards_, &CardGrid::revealFailed, this, &WelcomeView::setProblem);
    connect(recentCards_, &CardGrid::removeRequested, this, &WelcomeView::removeRecent);
    return section;
}

QWidget* WelcomeView::makeFooter()
{
    auto* footer = new QWidget(this);
    exposeShownChildrenOnly(footer);
    footer->setFixedHeight(44);
    fillWithChrome(footer);
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(28, 0, 28, 0);
    row->setSpacing(10);
    defaultMark_ = new QLabel(footer);
    defaultMark_->setFixedSize(12, 12);
    row->addWidget(defaultMark_);
    status_ = shelltext::label(QString(), uiFont(12), secondary(), footer);
    row->addWidget(status_);
    row->addStretch(1);
    auto* use = new AccentLink(QStringLiteral("Use ravlen for PDFs"), footer);
    use_ = use;
    connect(use_, &QAbstractButton::clicked, this, &WelcomeView::claimDefault);
    row->addWidget(use_);
    badgeGap_ = new QSpacerItem(0, 0, QSizePolicy::Fixed, QSizePolicy::Minimum);
    row->addSpacerItem(badgeGap_);
    badge_ = new VersionBadge(services_.updates, services_.showUpdates, footer);
    row->addWidget(badge_);
    defaultMark_->hide();
    use_->hide();
    return footer;
}

// ---------------------------------------------------------------- state

void WelcomeView::refresh()
{
    // Answers may come back out of order: only the latest refresh's are shown.
    const int asked = ++refreshes_;
    Handler::query(this, [this, asked](const Handler::HandlerState& state) {
        if (asked != refreshes_) return;
        isDefault_ = state.isDefault;
        defaultMark_->setPixmap(
            symbolPixmap(isDefault_ ? QStringLiteral("checkmark.circle") : QStringLiteral("info.circle"), {12, 12},
                         isDefault_ ? withOpacity(D::paper(), 0.55) : D::accent(), devicePixelRatioF()));
        defaultMark_->show();
        status_->setText(isDefault_ ? QStringLiteral("ravlen opens PDFs on this computer.")
                                    : state.sentenceName() + QStringLiteral(" opens PDFs."));
        use_->setVisible(!isDefault_);
        // After the button the badge stands 6 further off.
        badgeGap_->changeSize(isDefault_ ? 0 : 6, 0, QSizePolicy::Fixed, QSizePolicy::Minimum);
        badge_->parentWidget()->layout()->invalidate();
    });
    dropBox_->setKeepHistory(services_.library->keepHistory());
    services_.library->loadRecents(recentLimit, [view = QPointer<WelcomeView>(this),
                                                 asked](std::vector<std::pair<quarnkit::HistoryEntry, QString>> found) {
        if (!view || asked != view->refreshes_) return;
        // The cards' keys read each file's time: on a worker too.
        inBackground(
            view,
            [found = std::move(found)] {
                std::vector<RecentItem> items;
                for (const auto& [entry, path] : found) items.push_back(RecentItem::fromEntry(entry, path));
                return items;
            },
            [view, asked](std::vector<RecentItem> items) {
                if (view && asked == view->refreshes_) view->setRecents(std::move(items));
            });
    });
}

void WelcomeView::setRecents(std::vector<RecentItem> recents)
{
    if (recents == recents_) return;
    recents_ = std::move(recents);
    recentCards_->setItems(recents_, true);
    showSections();
    orderTabs();
}

void WelcomeView::setProblem(std::optional<quarnkit::OpenProblem> problem)
{
    problem_ = std::move(problem);
    if (problem_) banner_->setProblem(*problem_);
    bannerRow_->setVisible(problem_.has_value());
}

void WelcomeView::searchTextChanged()
{
    const bool searching = !search_->text().trimmed().isEmpty();
    if (searching == searching_) return;
    searching_ = searching;
    if (searching_) search_->activate();
    else search_->deactivate();
    showSections();
}

void WelcomeView::showSections()
{
    resultsSection_->setVisible(searching_);
    dropBox_->setVisible(!searching_ && recents_.empty());
    recentsSection_->setVisible(!searching_ && !recents_.empty());
    main_->layout()->setContentsMargins(28, 0, 28, searching_ ? 32 : 24);
    overlay_->setShown(overlayShown());
}

void WelcomeView::showResults()
{
    spinner_->setVisible(search_->status() == ExploreModel::Status::searching);
    summary_->setText(search_->summaryLine());
    std::vector<RecentItem> cards;
    for (const quarnkit::ExploreItem& item : search_->items()) cards.push_back(RecentItem::fromResult(item));
    resultCards_->setItems(cards, false);
    orderTabs();
    const std::optional<QString> overflow = search_->overflowLine();
    overflow_->setText(overflow.value_or(QString()));
    overflow_->setVisible(overflow.has_value());
    resultsArea_->setCurrentWidget(cards.empty() ? static_cast<QWidget*>(resultsEmpty_) : resultsScroll_);
}

bool WelcomeView::overlayShown() const { return targeted_ && !recents_.empty(); }

bool WelcomeView::dropOverlayShown() const { return overlay_->isVisible(); }

double WelcomeView::dropOverlayOpacity() const { return overlay_->opacity(); }

// ---------------------------------------------------------------- actions

void WelcomeView::open(const RecentItem& item)
{
    // Looked for on a worker: the file may be on a mount that stopped answering.
    inBackground(
        this, [path = item.path, exists = services_.library->exists] { return exists(path); },
        [this, item](bool exists) {
            if (exists) {
                setProblem(std::nullopt);
                services_.library->openFile(item.path,
                                            [view = QPointer<WelcomeView>(this)](const quarnkit::OpenProblem& problem) {
                                                if (view) view->setProblem(problem);
                                            });
                return;
            }
            // A recent card's file is still in History; a search result's need not be.
            setProblem(item.entryID ? quarnkit::OpenProblem::moved(item.path)
                                    : quarnkit::OpenProblem::movedSearchResult(item.path));
            refresh();
        });
}

void WelcomeView::openFirstResult()
{
    if (search_->items().empty()) return;
    open(RecentItem::fromResult(search_->items().front()));
}

bool WelcomeView::openDropped(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls()) return false;
    bool anyFile = false;
    for (const QUrl& url : mime->urls()) anyFile = anyFile || url.isLocalFile();
    if (!anyFile) return false;
    // Other files are ignored without a message, as on a document window.
    for (const QString& path : droppedPdfs(mime))
        services_.library->openFile(path, [view = QPointer<WelcomeView>(this)](const quarnkit::OpenProblem& problem) {
            if (view) view->setProblem(problem);
        });
    return true;
}

void WelcomeView::removeRecent(const RecentItem& item)
{
    if (!item.entryID) return;
    services_.library->remove(*item.entryID);
    refresh();
}

void WelcomeView::clearHistory()
{
    services_.library->clearAll();
    setProblem(std::nullopt);
    refresh();
}

void WelcomeView::claimDefault()
{
    const QPointer<WelcomeView> view(this);
    Handler::claim(
        [view](std::optional<QString> failure) {
            if (!view) return;
            if (failure)
                view->setProblem(
                    quarnkit::OpenProblem{QStringLiteral("ravlen couldn't become the default PDF app."), *failure});
            view->refresh();
        },
        [view](std::function<void(bool)> answer) {
            if (!view) return answer(false);
            askToUseRavlenForPdfs(view->window(), std::move(answer));
        },
        *services_.defaults);
}

void WelcomeView::focusSearch() { field_->setFocus(Qt::ShortcutFocusReason); }

void WelcomeView::focusFirst() { open_->setFocus(Qt::OtherFocusReason); }

void WelcomeView::orderTabs()
{
    std::vector<QWidget*> order{open_, field_, field_->clearButton(), banner_->dismissButton()};
    for (int i = 0; i < resultCards_->count(); ++i) order.push_back(resultCards_->card(i));
    order.push_back(clear_);
    for (int i = 0; i < recentCards_->count(); ++i) order.push_back(recentCards_->card(i));
    order.push_back(use_);
    order.push_back(badge_);
    orderTabStops(order);
}

// ---------------------------------------------------------------- events

void WelcomeView::willShow()
{
    refresh();
    if (searching_) search_->activate();
}

void WelcomeView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    willShow();
}

void WelcomeView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // Off screen: the search stops; its words and results stay.
    search_->deactivate();
    setTargeted(false);
}

void WelcomeView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    overlay_->setGeometry(rect());
}

void WelcomeView::setTargeted(bool targeted)
{
    if (targeted == targeted_) return;
    targeted_ = targeted;
    // Without recents the drop box lights up; with them the whole view does.
    dropBox_->setTargeted(targeted && recents_.empty() && !searching_);
    overlay_->setShown(overlayShown());
}

void WelcomeView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!event->mimeData()->hasUrls()) return event->ignore();
    event->acceptProposedAction();
    setTargeted(true);
}

void WelcomeView::dragMoveEvent(QDragMoveEvent* event)
{
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void WelcomeView::dragLeaveEvent(QDragLeaveEvent* event)
{
    QWidget::dragLeaveEvent(event);
    setTargeted(false);
}

void WelcomeView::dropEvent(QDropEvent* event)
{
    setTargeted(false);
    if (openDropped(event->mimeData())) event->acceptProposedAction();
    else event->ignore();
}

} // namespace quarn
