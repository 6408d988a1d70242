#include "Quarn/Explore/ExplorePanel.h"

#include "Quarn/Design/AccessiblePopover.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/ChromeMenuButton.h"
#include "Quarn/Design/ChoiceGroup.h"
#include "Quarn/Design/ChromeSegmented.h"
#include "Quarn/Design/SmallMarks.h"
#include "Quarn/Design/Spinner.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Explore/ExploreControls.h"
#include "Quarn/Explore/ExploreList.h"
#include "Quarn/History/LibraryThumbnails.h"
#include "Quarn/History/LibraryViews.h"
#include "Quarn/Shell/ShellText.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/Pages/PagesModel.h"
#include "Quarn/Shell/FileManager.h"
#include "QuarnKit/Explore/ExploreEmptyState.h"
#include "QuarnKit/Explore/ExploreModel.h"
#include "QuarnKit/History/HistoryLibrary.h"
#include "QuarnKit/Shell/Design.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QStackedLayout>
#include <QTimer>
#include <QVBoxLayout>

namespace quarn {

namespace D = quarnkit::Design;
using quarnkit::ExploreItem;
using quarnkit::ExploreModel;
using quarnkit::LibraryPanel;

namespace {

// The sort menu's label: the arrows, the current order's title, a chevron.
QFont sortTitleFont() { return uiFont(11, QFont::Medium); }
int sortLabelWidth(const QString& title)
{
    return 6 + 9 + 4 + QFontMetrics(sortTitleFont()).horizontalAdvance(title) + 4 + 8 + 6;
}

void paintSortLabel(QPainter& p, const QRectF& frame, const QString& title, double hover)
{
    p.setRenderHint(QPainter::Antialiasing);
    if (hover > 0) {
        QPainterPath back;
        back.addRoundedRect(frame, 4, 4);
        p.fillPath(back, withOpacity(D::paper(), 0.07 * hover));
    }
    const QColor ink = withOpacity(D::paper(), 0.62 + (0.9 - 0.62) * hover);
    const double mid = frame.center().y();
    double x = frame.left() + 6;
    drawSymbol(p, QStringLiteral("arrow.up.arrow.down"), QRectF(x, mid - 4.5, 9, 9), ink);
    x += 9 + 4;
    const int textWidth = QFontMetrics(sortTitleFont()).horizontalAdvance(title);
    p.setPen(ink);
    p.setFont(sortTitleFont());
    p.drawText(QRectF(x, frame.top(), textWidth + 1, frame.height()), Qt::AlignLeft | Qt::AlignVCenter, title);
    x += textWidth + 4;
    drawSymbol(p, QStringLiteral("chevron.down"), QRectF(x, mid - 4, 8, 8), ink);
}

} // namespace

quarnkit::ExploreModel& windowExplore(ViewerModel& model, const ExploreSourceMaker& source)
{
    if (auto* made = model.findChild<ExploreModel*>(QString(), Qt::FindDirectChildrenOnly)) return *made;
    return *new ExploreModel(source ? source() : nullptr, true, model.defaults(), &model);
}

// ---------------------------------------------------------------- empty state

ExploreEmptyView::ExploreEmptyView(ExploreModel& explore, bool offersContents, QWidget* parent)
    : QWidget(parent), explore_(explore), offersContents_(offersContents)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    for (const auto signal :
         {&ExploreModel::resultsChanged, &ExploreModel::statusChanged, &ExploreModel::indexHasPDFsChanged})
        connect(&explore_, signal, this, &ExploreEmptyView::refresh);
    refresh();
}

void ExploreEmptyView::refresh()
{
    const quarnkit::ExploreEmptyMessage wanted = quarnkit::ExploreEmptyState::message(explore_, offersContents_);
    if (message_ && message_->symbol() == wanted.symbol && message_->title() == wanted.title
        && message_->detail() == wanted.detail)
        return;
    delete message_;
    message_ = new LibraryMessage(wanted.symbol, wanted.title, wanted.detail, nullptr, this);
    layout()->addWidget(message_);
}

// ---------------------------------------------------------------- results

ExploreResults::ExploreResults(ExploreModel& explore, bool showsSort, LibraryThumbnails& thumbnails, QWidget* parent)
    : QWidget(parent), explore_(explore)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    bar_ = new QWidget(this);
    bar_->setFixedHeight(30);
    auto* row = new QHBoxLayout(bar_);
    row->setContentsMargins(14, 0, showsSort ? 14 - 6 : 14, 0);
    row->setSpacing(8);
    const QFont summaryFont = uiFont(11, QFont::Medium);
    summary_ = shelltext::label(QString(), summaryFont, withOpacity(D::paper(), 0.5), bar_);
    row->addWidget(summary_);
    row->addStretch(1);
    if (showsSort) {
        sort_ = new ChromeMenuButton(
            QStringLiteral("Sort by"),
            [this] {
                std::vector<ChromeMenuItem> items;
                for (const quarnkit::ExploreSort sort : quarnkit::allExploreSorts)
                    items.push_back({quarnkit::title(sort), explore_.sort() == sort, true, {}, {}, [this, sort] {
                                         explore_.setSort(sort);
                                     }});
                return items;
            },
            [this](QPainter& p, const QRectF& frame, const ChromeMenuButton::LabelState& state) {
                paintSortLabel(p, frame, quarnkit::title(explore_.sort()), state.hoverAmount);
            },
            bar_);
        row->addWidget(sort_);
    }
    column->addWidget(bar_);

    auto* bodyHost = new QWidget(this);
    body_ = new QStackedLayout(bodyHost);
    list_ = new ExploreList(new ExploreListModel(explore_, this), thumbnails);
    empty_ = new ExploreEmptyView(explore_, true);
    body_->addWidget(list_);
    body_->addWidget(empty_);
    column->addWidget(bodyHost, 1);

    connect(list_, &ExploreList::openRequested, this, &ExploreResults::openRequested);
    connect(list_, &ExploreList::menuRequested, this, &ExploreResults::menuRequested);
    for (const auto signal :
         {&ExploreModel::resultsChanged, &ExploreModel::statusChanged, &ExploreModel::choicesChanged})
        connect(&explore_, signal, this, &ExploreResults::refresh);
    refresh();
}

void ExploreResults::refresh()
{
    summary_->setText(explore_.summaryLine());
    // Unavailable: the bar keeps its place but shows nothing.
    const bool unavailable = explore_.status() == ExploreModel::Status::unavailable;
    summary_->setVisible(!unavailable);
    if (sort_) {
        sort_->setVisible(!unavailable);
        sort_->setFixedSize(sortLabelWidth(quarnkit::title(explore_.sort())), 22);
        sort_->update();
    }
    body_->setCurrentWidget(explore_.items().empty() ? static_cast<QWidget*>(empty_) : list_);
}

// ---------------------------------------------------------------- panel

ExplorePanel::ExplorePanel(ExploreModel& explore, ViewerModel* model, quarnkit::HistoryLibrary& library,
                           QWidget* parent, LibraryThumbnails* thumbnails)
    : QWidget(parent), explore_(explore), viewer_(model), library_(library)
{
    QVBoxLayout* column = makeLibraryColumn(this, columnWidth);
    auto* spinnerFrame = new QWidget;
    spinnerFrame->setFixedSize(16, 16);
    spinner_ = new Spinner(11, QStringLiteral("Searching"), spinnerFrame);
    spinner_->move(2, 2);
    column->addWidget(new LibraryPanelHeader(QStringLiteral("Explore"), spinnerFrame));

    search_ = new LibrarySearchField(QStringLiteral("Search PDFs on this computer"));
    search_->setText(explore_.text());
    column->addWidget(withPadding(search_, {12, 0, 12, 0}));

    mode_ = new ChromeSegmented;
    std::vector<ChromeSegmented::Option> modes;
    for (const quarnkit::ExploreMode mode : quarnkit::allExploreModes) modes.push_back({quarnkit::title(mode), {}, {}});
    mode_->setOptions(std::move(modes));
    column->addWidget(withPadding(mode_, {12, 8, 12, 0}));

    auto* chips = new QWidget;
    auto* flow = new FlowRow(6, 6, chips);
    flow->setContentsMargins(12, 8, 12, 10);
    for (const quarnkit::ExploreLocation location : quarnkit::allExploreLocations) {
        auto* chip = new ChromeChip(quarnkit::title(location), chips);
        flow->addWidget(chip);
        chips_.push_back(chip);
        connect(chip, &QAbstractButton::clicked, this, [this, location] { explore_.setLocation(location); });
    }
    // One stop of Tab, the chosen location; the arrows choose among them.
    new ChoiceGroup(
        {chips_.begin(), chips_.end()},
        [this](int index) { explore_.setLocation(quarnkit::allExploreLocations[size_t(index)]); }, this);
    column->addWidget(chips);

    notice_ = new LibraryNotice;
    noticeRow_ = withPadding(notice_, {12, 0, 12, 8});
    noticeRow_->hide();
    column->addWidget(noticeRow_);
    column->addWidget(new Hairline(false));

    results_ = new ExploreResults(explore_, true, thumbnails ? *thumbnails : LibraryThumbnails::shared());
    results_->list()->setAccessibleName(QStringLiteral("Explore results"));
    column->addWidget(results_, 1);

    connect(search_, &QLineEdit::textChanged, &explore_, &ExploreModel::setText);
    connect(&explore_, &ExploreModel::textChanged, this, [this] {
        if (search_->text() != explore_.text()) search_->setText(explore_.text());
    });
    connect(search_, &QLineEdit::returnPressed, this, [this] {
        if (explore_.items().empty()) return;
        showProblem(std::nullopt);
        openItem(explore_.items().front());
    });
    connect(mode_, &ChromeSegmented::selected, this, [this](int index) {
        if (index >= 0 && index < int(quarnkit::allExploreModes.size()))
            explore_.setMode(quarnkit::allExploreModes[size_t(index)]);
    });
    connect(&explore_, &ExploreModel::choicesChanged, this, &ExplorePanel::showChoices);
    connect(&explore_, &ExploreModel::statusChanged, this,
            [this] { spinner_->setVisible(explore_.status() == ExploreModel::Status::searching); });
    connect(notice_, &LibraryNotice::dismissed, this, [this] { showProblem(std::nullopt); });
    connect(results_, &ExploreResults::openRequested, this, &ExplorePanel::openItem);
    connect(results_, &ExploreResults::menuRequested, this, &ExplorePanel::showMenu);
    results_->list()->rowActions = [this, model = results_->list()->exploreModel()](int row) {
        return std::vector<LibraryRowAction>{
            {QStringLiteral("Show in Folder"), [this, path = model->item(row)->path] { reveal(path); }}};
    };
    if (viewer_)
        connect(&PagesModel::of(*viewer_), &PagesModel::libraryFocusRequestChanged, this, [this] {
            if (isVisible()) takeFocusRequest();
        });
    spinner_->setVisible(explore_.status() == ExploreModel::Status::searching);
    showChoices();
}

ChromeChip* ExplorePanel::chip(quarnkit::ExploreLocation location) const
{
    for (size_t i = 0; i < quarnkit::allExploreLocations.size(); ++i)
        if (quarnkit::allExploreLocations[i] == location) return chips_[i];
    return nullptr;
}

void ExplorePanel::showChoices()
{
    const auto& modes = quarnkit::allExploreModes;
    mode_->setSelection(int(std::find(modes.begin(), modes.end(), explore_.mode()) - modes.begin()));
    mode_->setToolTip(quarnkit::hint(explore_.mode()));
    for (size_t i = 0; i < chips_.size(); ++i)
        chips_[i]->setChosen(quarnkit::allExploreLocations[i] == explore_.location());
}

void ExplorePanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // On screen: the results are searched (a first time, or again after a pause).
    explore_.activate();
    takeFocusRequest();
}

void ExplorePanel::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    explore_.deactivate();
}

void ExplorePanel::takeFocusRequest()
{
    if (!viewer_ || !PagesModel::of(*viewer_).takeLibraryFocusRequest(LibraryPanel::explore)) return;
    QTimer::singleShot(0, search_, [field = QPointer<LibrarySearchField>(search_)] {
        if (field) field->setFocus(Qt::ShortcutFocusReason);
    });
}

void ExplorePanel::showProblem(const std::optional<quarnkit::OpenProblem>& problem)
{
    if (problem) notice_->setProblem(*problem);
    noticeRow_->setVisible(problem.has_value());
}

void ExplorePanel::reveal(const QString& path)
{
    showProblem(std::nullopt);
    revealInFolder(path, [panel = QPointer<ExplorePanel>(this), path](const QString& reason) {
        if (panel) panel->showProblem(quarnkit::OpenProblem::notShownInFolder(path, reason));
    });
}

void ExplorePanel::openItem(const ExploreItem& item)
{
    library_.openFile(item.path, [panel = QPointer<ExplorePanel>(this)](const quarnkit::OpenProblem& problem) {
        if (panel) panel->showProblem(problem);
    });
}

void ExplorePanel::showMenu(const ExploreItem& item, const QPoint& globalPos, MenuAsked asked)
{
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("Open"), this, [this, item] { openItem(item); });
    menu->addAction(QStringLiteral("Show in Folder"), this, [this, path = item.path] { reveal(path); });
    menu->addAction(QStringLiteral("Copy Path"), this,
                    [path = item.path] { QGuiApplication::clipboard()->setText(path); });
    popUpMenu(menu, globalPos, asked);
}

} // namespace quarn
