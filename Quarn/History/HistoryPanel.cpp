#include "Quarn/History/HistoryPanel.h"
#include "QuarnKit/Shell/DroppableWork.h"
#include "Quarn/Design/ErrorAlert.h"

#include "Quarn/Design/AccessiblePopover.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/SmallMarks.h"
#include "Quarn/History/HistoryList.h"
#include "Quarn/History/LibraryThumbnails.h"
#include "Quarn/History/LibraryViews.h"
#include "Quarn/Shell/ShellText.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/Pages/PagesModel.h"
#include "Quarn/Shell/FileManager.h"
#include "QuarnKit/History/LibraryTexts.h"
#include "QuarnKit/Shell/Design.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace quarn {

namespace D = quarnkit::Design;
using quarnkit::HistoryEntry;
using quarnkit::LibraryPanel;

HistoryPanel::HistoryPanel(quarnkit::HistoryLibrary& library, ViewerModel* model, QWidget* parent,
                           LibraryThumbnails* thumbnails)
    : QWidget(parent),
      locate([&library](const HistoryEntry& entry, QWidget* window) { locateWithOpenPanel(library, entry, window); }),
      library_(library), viewer_(model), thumbnails_(thumbnails ? *thumbnails : LibraryThumbnails::shared()),
      clock_([] { return QDateTime::currentDateTimeUtc(); }), calendar_(quarnkit::LibraryCalendar::current())
{
    QVBoxLayout* column = makeLibraryColumn(this, columnWidth);
    column->addWidget(new LibraryPanelHeader(QStringLiteral("History")));

    search_ = new LibrarySearchField(QStringLiteral("Search history"));
    searchRow_ = withPadding(search_, {12, 0, 12, 10});
    column->addWidget(searchRow_);
    notice_ = new LibraryNotice;
    noticeRow_ = withPadding(notice_, {12, 0, 12, 8});
    noticeRow_->hide();
    column->addWidget(noticeRow_);
    column->addWidget(new Hairline(false));

    model_ = new HistoryListModel(library_, this);
    model_->currentPath = [viewer = viewer_] { return viewer ? viewer->filePath() : QString(); };
    list_ = new HistoryList(model_, thumbnails_);
    list_->setAccessibleName(QStringLiteral("History"));
    auto* contentHost = new QWidget;
    content_ = new QStackedLayout(contentHost);
    content_->addWidget(list_);
    column->addWidget(contentHost, 1);

    footer_ = new QWidget;
    auto* footerColumn = new QVBoxLayout(footer_);
    footerColumn->setContentsMargins(0, 0, 0, 0);
    footerColumn->setSpacing(0);
    footerColumn->addWidget(new Hairline(false));
    auto* footerRow = new QWidget;
    footerRow->setFixedHeight(34);
    auto* row = new QHBoxLayout(footerRow);
    row->setContentsMargins(14, 0, 14 - 6, 0);
    row->setSpacing(8);
    footerCount_ = shelltext::label(QString(), uiFont(11), withOpacity(D::paper(), 0.5));
    row->addWidget(footerCount_);
    row->addStretch(1);
    clear_ = new QuietButton(QStringLiteral("Clear History…"));
    clear_->setFixedSize(clear_->sizeHint());
    row->addWidget(clear_);
    footerColumn->addWidget(footerRow);
    column->addWidget(footer_);

    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
        model_->setQuery(text);
        refresh();
    });
    connect(search_, &QLineEdit::returnPressed, this, [this] {
        // The top row of the list.
        if (const HistoryEntry* first = model_->firstEntry()) openEntry(*first);
    });
    connect(notice_, &LibraryNotice::dismissed, this, [this] { showProblem(std::nullopt); });
    connect(clear_, &QAbstractButton::clicked, this, &HistoryPanel::askToClear);
    connect(list_, &HistoryList::openRequested, this, &HistoryPanel::openEntry);
    connect(list_, &HistoryList::rowShown, &library_, &quarnkit::HistoryLibrary::check);
    connect(list_, &HistoryList::menuRequested, this, &HistoryPanel::showMenu);
    // A screen reader's actions on a row: what its menu offers besides Open and Copy Path.
    list_->rowActions = [this](int row) {
        const HistoryEntry entry = *model_->row(row).entry;
        std::vector<LibraryRowAction> actions;
        if (model_->missing(entry))
            actions.push_back({QStringLiteral("Locate"), [this, entry] { locateEntry(entry); }});
        else
            actions.push_back(
                {QStringLiteral("Show in Folder"), [this, location = model_->location(entry)] { reveal(location); }});
        actions.push_back({QStringLiteral("Remove from History"), [this, id = entry.id] { library_.remove(id); }});
        return actions;
    };
    connect(list_, &HistoryList::linkActivated, this, [this](const HistoryEntry& entry, int link) {
        if (link == 0) locateEntry(entry);
        else library_.remove(entry.id);
    });
    connect(&library_, &quarnkit::HistoryLibrary::entriesChanged, this, &HistoryPanel::refresh);
    connect(&library_, &quarnkit::HistoryLibrary::keepHistoryChanged, this, &HistoryPanel::refresh);
    if (viewer_)
        connect(&PagesModel::of(*viewer_), &PagesModel::libraryFocusRequestChanged, this, [this] {
            if (isVisible()) takeFocusRequest();
        });
    dayChange_.setSingleShot(true);
    connect(&dayChange_, &QTimer::timeout, this, [this] {
        if (calendar_.day(clock_()) != calendar_.day(model_->now())) regroup();
        scheduleDayChange();
    });
    refresh();
}

HistoryPanel::~HistoryPanel() = default;

void HistoryPanel::setClock(std::function<QDateTime()> clock, const quarnkit::LibraryCalendar& calendar)
{
    clock_ = std::move(clock);
    calendar_ = calendar;
    regroup();
    if (isVisible()) scheduleDayChange();
}

void HistoryPanel::regroup()
{
    model_->setNow(clock_(), calendar_);
    refresh();
}

void HistoryPanel::scheduleDayChange()
{
    // Rearmed at least hourly, so that a clock moved or a sleep through
    // midnight is noticed soon after.
    const QDateTime now = clock_();
    const QDateTime midnight = calendar_.startOfDay(calendar_.day(now).addDays(1));
    const qint64 wait = midnight.isValid() ? now.msecsTo(midnight) + 20 : 3600000;
    dayChange_.start(int(std::clamp<qint64>(wait, 0, 3600000)));
}

void HistoryPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Each time the panel comes on screen: today's groups, every shown file
    // looked at again, and a History focus request taken.
    library_.recheck();
    thumbnails_.retryFailed();
    regroup();
    scheduleDayChange();
    takeFocusRequest();
}

void HistoryPanel::takeFocusRequest()
{
    if (!viewer_ || !PagesModel::of(*viewer_).takeLibraryFocusRequest(LibraryPanel::history)) return;
    QTimer::singleShot(0, search_, [field = QPointer<LibrarySearchField>(search_)] {
        if (field) field->setFocus(Qt::ShortcutFocusReason);
    });
}

void HistoryPanel::refresh()
{
    const bool keep = library_.keepHistory();
    model_->setKeepHistory(keep);
    const bool hasEntries = !library_.entries().empty();
    searchRow_->setVisible(hasEntries);
    footer_->setVisible(hasEntries);
    footerCount_->setText(quarnkit::LibraryFormat::pdfCount(std::int64_t(library_.entries().size()), QLocale()));

    struct Message {
        QString symbol, title, detail;
        bool turnOn = false;
    };
    std::optional<Message> wanted;
    if (hasEntries && model_->sections().empty())
        wanted = Message{QStringLiteral("magnifyingglass"), QStringLiteral("No matches"),
                         QStringLiteral("Nothing in your history matches “%1”.").arg(search_->text().trimmed())};
    else if (!hasEntries && !keep)
        wanted = Message{QStringLiteral("clock.badge.xmark"), QStringLiteral("History is off"),
                         QStringLiteral("ravlen isn't keeping a list of the PDFs you open."), true};
    else if (!hasEntries)
        wanted = Message{QStringLiteral("clock"), QStringLiteral("No history yet"),
                         QStringLiteral("PDFs you open show up here, newest first.")};

    if (!wanted) {
        content_->setCurrentWidget(list_);
        if (message_) {
            message_->deleteLater();
            message_ = nullptr;
        }
        return;
    }
    if (message_ && message_->symbol() == wanted->symbol && message_->title() == wanted->title
        && message_->detail() == wanted->detail)
        return;
    if (message_) message_->deleteLater();
    QWidget* action = nullptr;
    if (wanted->turnOn) {
        auto* turnOn = new LinkButton(QStringLiteral("Turn On History"), D::accent());
        connect(turnOn, &QAbstractButton::clicked, this, [this] { library_.setKeepHistory(true); });
        action = turnOn;
    }
    message_ = new LibraryMessage(wanted->symbol, wanted->title, wanted->detail, action);
    content_->addWidget(message_);
    content_->setCurrentWidget(message_);
}

void HistoryPanel::showProblem(const std::optional<quarnkit::OpenProblem>& problem)
{
    if (problem) notice_->setProblem(*problem);
    noticeRow_->setVisible(problem.has_value());
}

void HistoryPanel::openEntry(const HistoryEntry& entry)
{
    showProblem(std::nullopt);
    library_.open(entry, [panel = QPointer<HistoryPanel>(this)](const quarnkit::OpenProblem& problem) {
        if (panel) panel->showProblem(problem);
    });
}

void HistoryPanel::reveal(const QString& path)
{
    showProblem(std::nullopt);
    revealInFolder(path, [panel = QPointer<HistoryPanel>(this), path](const QString& reason) {
        if (panel) panel->showProblem(quarnkit::OpenProblem::notShownInFolder(path, reason));
    });
}

void HistoryPanel::locateEntry(const HistoryEntry& entry)
{
    showProblem(std::nullopt);
    // The window of the pages, else whichever window is active.
    QWidget* window = viewer_ && viewer_->pdfView() ? viewer_->pdfView()->window() : QApplication::activeWindow();
    if (!window) window = this->window();
    if (locate) locate(entry, window);
}

void HistoryPanel::showMenu(const HistoryEntry& entry, const QPoint& globalPos, MenuAsked asked)
{
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const bool missing = model_->missing(entry);
    const QString location = model_->location(entry);
    if (missing) {
        menu->addAction(QStringLiteral("Locate…"), this, [this, entry] { locateEntry(entry); });
    } else {
        menu->addAction(QStringLiteral("Open"), this, [this, entry] { openEntry(entry); });
        menu->addAction(QStringLiteral("Show in Folder"), this, [this, location] { reveal(location); });
    }
    // A missing file's recorded path.
    menu->addAction(QStringLiteral("Copy Path"), this, [location] { QGuiApplication::clipboard()->setText(location); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Remove from History"), this, [this, id = entry.id] { library_.remove(id); });
    popUpMenu(menu, globalPos, asked);
}

void HistoryPanel::askToClear()
{
    askToClearHistory(window(), [this] { library_.clearAll(); });
}

void askToClearHistory(QWidget* window, std::function<void()> clear)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Clear your history?"),
                                QStringLiteral("Clear your history?"), QMessageBox::NoButton, window);
    box->setInformativeText(QStringLiteral("ravlen forgets the PDFs you opened. The files stay where they are."));
    QPushButton* clearButton = box->addButton(QStringLiteral("Clear History"), QMessageBox::DestructiveRole);
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(qobject_cast<QPushButton*>(box->button(QMessageBox::Cancel)));
    makeRoomForTitle(*box);
    QObject::connect(box, &QMessageBox::buttonClicked, box,
                     [clearButton, clear = std::move(clear)](QAbstractButton* button) {
                         if (button == clearButton) clear();
                     });
    openAlert(box, window);
}

// ---------------------------------------------------------------- Locate

void locateWithOpenPanel(quarnkit::HistoryLibrary& library, const HistoryEntry& entry, QWidget* window)
{
    // The folder the file was in, or the nearest one above it that still
    // exists: looked for on a worker, as the old folder may be on a mount
    // that no longer answers.
    auto* finder = new QFutureWatcher<QString>(qApp);
    QObject::connect(
        finder, &QFutureWatcher<QString>::finished, qApp,
        [finder, library = QPointer<quarnkit::HistoryLibrary>(&library), entry, parent = QPointer<QWidget>(window)] {
            finder->deleteLater();
            if (!library) return;
            auto* panel = new QFileDialog(parent, QStringLiteral("Find “%1”.").arg(entry.displayTitle()),
                                          finder->result(), QStringLiteral("PDF documents (*.pdf *.PDF)"));
            panel->setFileMode(QFileDialog::ExistingFile);
            panel->setAcceptMode(QFileDialog::AcceptOpen);
            panel->setLabelText(QFileDialog::Accept, QStringLiteral("Choose"));
            panel->setAttribute(Qt::WA_DeleteOnClose);
            if (parent) panel->setWindowModality(Qt::WindowModal);
            QObject::connect(panel, &QFileDialog::fileSelected, qApp, [library, entry](const QString& file) {
                if (library && !file.isEmpty()) library->relocate(entry, file);
            });
            panel->open();
        });
    finder->setFuture(
        QtConcurrent::run(quarnkit::DroppableWork::shared().pool(), [folder = entry.folderPath()]() mutable {
            while (!QFileInfo::exists(folder) && folder.count(QLatin1Char('/')) >= 1 && folder != QLatin1String("/"))
                folder = QFileInfo(folder).path();
            return folder;
        }));
}

} // namespace quarn
