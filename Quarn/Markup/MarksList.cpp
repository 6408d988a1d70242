#include "Quarn/Markup/MarksList.h"

#include "Quarn/Design/Symbols.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Shell/Design.h"

#include <QFontDatabase>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace quarn {

namespace D = quarnkit::Design;
using quarnkit::MarkEntry;
using quarnkit::MarkGroup;

namespace {

constexpr int pageRole = Qt::UserRole;
constexpr int objectRole = Qt::UserRole + 1;

QColor withOpacity(QColor color, double opacity)
{
    color.setAlphaF(float(opacity));
    return color;
}

// The kind's symbol and, 8 points further, a dot of the mark's colour.
QIcon rowIcon(quarnkit::MarkKind kind, const QColor& color)
{
    QPixmap icon(32, 16);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    drawSymbol(painter, quarnkit::symbol(kind), QRectF(2, 2.5, 11, 11), withOpacity(D::paper(), 0.6));
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(20, 4, 8, 8));
    return QIcon(icon);
}

} // namespace

MarksList::MarksList(ViewerModel* model, quarnkit::QuarnDocument* document, QWidget* parent)
    : QWidget(parent), model_(model)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 8, 0, 12);
    column->setSpacing(2);

    summary_ = new QLabel(this);
    QFont small = font();
    small.setPointSizeF(11);
    summary_->setFont(small);
    summary_->setContentsMargins(14, 0, 14, 2);
    QPalette dim = summary_->palette();
    dim.setColor(QPalette::WindowText, withOpacity(D::paper(), 0.45));
    summary_->setPalette(dim);
    column->addWidget(summary_);

    tree_ = new QTreeWidget(this);
    tree_->setColumnCount(2);
    tree_->header()->hide();
    tree_->header()->setStretchLastSection(false);
    tree_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    tree_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    tree_->setRootIsDecorated(false);
    tree_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree_->setTextElideMode(Qt::ElideRight);
    tree_->setFrameShape(QFrame::NoFrame);
    tree_->setMouseTracking(true);
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    tree_->setIconSize(QSize(32, 16));
    tree_->installEventFilter(this);
    column->addWidget(tree_, 1);

    empty_ = new QLabel(tr("No marks yet. Pick a tool and draw on the page."), this);
    empty_->setWordWrap(true);
    empty_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    empty_->setContentsMargins(14, 24, 14, 0);
    QPalette faint = empty_->palette();
    faint.setColor(QPalette::WindowText, withOpacity(D::paper(), 0.6));
    empty_->setPalette(faint);
    column->addWidget(empty_, 1);

    connect(tree_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
        const auto mark = markOf(item);
        if (mark && model_) model_->reveal(*mark);
    });
    connect(tree_, &QWidget::customContextMenuRequested, this, &MarksList::showMenu);
    // A row stays lit only while the page view has a mark selected.
    if (model_)
        connect(model_, &ViewerModel::hasSelectionChanged, this, [this](bool selected) {
            if (!selected) tree_->clearSelection();
        });

    setDocument(document);
    rebuildRows(); // nothing shows until the list has been on screen
}

void MarksList::setDocument(quarnkit::QuarnDocument* document)
{
    disconnect(watch_);
    document_ = document;
    if (document)
        watch_ = connect(document, &quarnkit::QuarnDocument::generationChanged, this, &MarksList::documentEdited);
    if (isVisible()) reload();
}

void MarksList::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    reload();
}

void MarksList::documentEdited()
{
    // A hidden list catches up when it comes on screen.
    if (isVisible()) refresh();
}

void MarksList::reload()
{
    groups_.clear();
    builtPageCount_ = -1;
    if (document_ && document_->pdf()) {
        groups_ = quarnkit::MarkCatalog::groups(*document_->pdf());
        builtPageCount_ = document_->pdf()->pageCount();
    }
    loaded_ = true;
    rebuildRows();
}

void MarksList::refresh()
{
    const auto pdf = document_ ? document_->pdf() : nullptr;
    const std::optional<int> edited = document_ ? document_->editedPageIndex() : std::nullopt;
    // An edit of the whole document, or one that added or took away pages.
    if (!pdf || !edited || builtPageCount_ != pdf->pageCount() || *edited < 0 || *edited >= pdf->pageCount()) {
        reload();
        return;
    }
    const int page = *edited;
    std::vector<MarkEntry> entries;
    try {
        entries = quarnkit::MarkCatalog::entries(*pdf, page);
    } catch (const std::exception&) {
        entries.clear(); // a page that cannot be read shows no marks
    }
    std::erase_if(groups_, [page](const MarkGroup& g) { return g.pageIndex == page; });
    if (!entries.empty()) {
        const auto at = std::find_if(groups_.begin(), groups_.end(), [page](const MarkGroup& g) { return g.pageIndex > page; });
        groups_.insert(at, MarkGroup{page, std::move(entries)});
    }
    rebuildRows();
}

QString MarksList::summaryText(const std::vector<MarkGroup>& groups)
{
    std::size_t marks = 0;
    for (const auto& g : groups) marks += g.entries.size();
    const QString m = marks == 1 ? tr("1 mark") : tr("%1 marks").arg(marks);
    const QString p = groups.size() == 1 ? tr("1 page") : tr("%1 pages").arg(groups.size());
    return tr("%1 on %2").arg(m, p);
}

QString MarksList::summary() const { return summaryText(groups_); }

QString MarksList::accessibilityText(const MarkEntry& entry)
{
    const QString title = quarnkit::title(entry.kind);
    const QString place = tr("page %1").arg(entry.pageIndex + 1);
    if (entry.snippet == title) return title + QStringLiteral(", ") + place;
    return title + QStringLiteral(", ") + entry.snippet + QStringLiteral(", ") + place;
}

std::optional<MarkRef> MarksList::markOf(const QTreeWidgetItem* item)
{
    if (!item || !item->data(0, objectRole).isValid()) return std::nullopt;
    return MarkRef{item->data(0, pageRole).toInt(), item->data(0, objectRole).toInt()};
}

void MarksList::rebuildRows()
{
    // The rows that were chosen stay chosen when their marks are still listed.
    const std::vector<MarkRef> wasChosen = chosen();
    const QTreeWidgetItem* current = tree_->currentItem();
    const auto wasCurrent = markOf(current);

    tree_->clear();
    QFont headerFont = font();
    headerFont.setPointSizeF(11);
    headerFont.setWeight(QFont::DemiBold);
    QFont countFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    countFont.setPointSizeF(10);
    QFont rowFont = font();
    rowFont.setPointSizeF(12);
    for (const MarkGroup& group : groups_) {
        auto* header = new QTreeWidgetItem(tree_);
        header->setText(0, tr("Page %1").arg(group.pageIndex + 1));
        header->setText(1, QString::number(group.entries.size()));
        header->setFont(0, headerFont);
        header->setFont(1, countFont);
        header->setForeground(0, withOpacity(D::paper(), 0.72));
        header->setForeground(1, withOpacity(D::paper(), 0.4));
        header->setBackground(0, D::chrome());
        header->setBackground(1, D::chrome());
        header->setFlags(Qt::ItemIsEnabled);
        header->setData(0, Qt::AccessibleTextRole, header->text(0));
        for (const MarkEntry& entry : group.entries) {
            auto* row = new QTreeWidgetItem(header);
            row->setText(0, entry.snippet);
            row->setIcon(0, rowIcon(entry.kind, entry.color.toQColor()));
            row->setFont(0, rowFont);
            row->setToolTip(0, entry.snippet);
            row->setData(0, Qt::AccessibleTextRole, accessibilityText(entry));
            row->setData(0, pageRole, entry.pageIndex);
            row->setData(0, objectRole, entry.annotation.objectNumber);
            const MarkRef mark{entry.pageIndex, entry.annotation.objectNumber};
            if (std::find(wasChosen.begin(), wasChosen.end(), mark) != wasChosen.end()) row->setSelected(true);
            if (wasCurrent == mark) tree_->setCurrentItem(row, 0, QItemSelectionModel::NoUpdate);
        }
        header->setExpanded(true);
    }
    summary_->setText(summary());
    summary_->setVisible(!groups_.empty());
    tree_->setVisible(!groups_.empty());
    empty_->setVisible(groups_.empty() && loaded_);
}

std::vector<MarkRef> MarksList::chosen() const
{
    std::vector<MarkRef> marks;
    for (QTreeWidgetItem* item : tree_->selectedItems())
        if (const auto mark = markOf(item)) marks.push_back(*mark);
    return marks;
}

void MarksList::deleteChosen()
{
    const std::vector<MarkRef> marks = chosen();
    if (marks.empty() || !model_) return;
    model_->deleteMarks(marks);
}

void MarksList::showMenu(const QPoint& at)
{
    QTreeWidgetItem* item = tree_->itemAt(at);
    const auto mark = markOf(item);
    if (!mark) return;
    if (!item->isSelected()) {
        // A right-click outside the chosen rows acts on its own row.
        tree_->clearSelection();
        item->setSelected(true);
    }
    const std::size_t count = chosen().size();
    QMenu menu(this);
    menu.addAction(count == 1 ? tr("Delete Mark") : tr("Delete %1 Marks").arg(count), this, &MarksList::deleteChosen);
    menu.exec(tree_->viewport()->mapToGlobal(at));
}

bool MarksList::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == tree_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace) && !chosen().empty()) {
            deleteChosen();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------- the model's side

void ViewerModel::reveal(const MarkRef& mark)
{
    QuarnPDFView* view = pdfView();
    if (!view || !view->document() || mark.page < 0 || mark.page >= view->pageCount()) return;
    const auto annotation = platform::PdfAnnotations::find(*view->document(), mark.page, mark.object);
    if (!annotation) return; // gone since the list was built
    chooseTool(quarnkit::MarkupTool::select);
    view->setTool(quarnkit::MarkupTool::select, toolStyle());
    // The mark with 40 points of room above and to the left.
    view->goToPage(mark.page, platform::PdfPoint{annotation->rect.minX() - 40, annotation->rect.maxY() + 40});
    view->select(mark);
}

void ViewerModel::deleteMarks(const std::vector<MarkRef>& marks)
{
    QuarnPDFView* view = pdfView();
    if (!view || marks.empty()) return;
    view->removeMarks(marks, marks.size() == 1 ? tr("Delete Mark") : tr("Delete %1 Marks").arg(marks.size()));
}

} // namespace quarn
