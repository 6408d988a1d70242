#include "Quarn/Viewer/DocumentInfoView.h"

#include "Quarn/Viewer/DocumentActions.h"

#include "Quarn/Design/AccessiblePopover.h"
#include "Quarn/Design/AccessibleRoles.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/FlatField.h"
#include "Quarn/Design/SmallMarks.h"
#include "Quarn/Design/TabStop.h"
#include "Quarn/Viewer/ShareMenu.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/Shell/ShellText.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Shell/Design.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QApplication>
#include <QShortcut>
#include <QFileInfo>
#include <QGridLayout>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QScreen>
#include <QUndoStack>
#include <QVBoxLayout>

namespace quarn {

namespace D = quarnkit::Design;
using quarnkit::DocumentInfo;
using quarnkit::DocumentMetadata;

namespace {

constexpr int panelWidth = 340;
constexpr int padding = 16;

QColor secondary() { return withOpacity(D::paper(), 0.55); }

QLabel* gridLabel(const QString& text, QWidget* parent)
{
    QLabel* label = shelltext::label(text, uiFont(11, QFont::Medium), secondary(), parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

} // namespace

DocumentInfoView::DocumentInfoView(ViewerModel* model, quarnkit::QuarnDocument* document, QWidget* parent)
    : QWidget(parent), model_(model), document_(document)
{
    if (document_ && !document_->isLocked()) info_ = DocumentInfo(*document_);
    const QString path = model_ ? model_->filePath() : QString();
    fileSize_ = DocumentInfo::fileSize(path.isEmpty() ? std::nullopt : std::optional<QString>(path));
    if (info_) draft_ = info_->metadata;
    build();

    if (document_) connect(document_, &quarnkit::QuarnDocument::generationChanged, this, &DocumentInfoView::refresh);
    connect(qApp, &QApplication::focusChanged, this, &DocumentInfoView::focusMoved);
}

DocumentInfoView::~DocumentInfoView()
{
    // The widget's own teardown moves the focus and hides the fields; nothing
    // of this view may answer that any more.
    disconnect(qApp, nullptr, this, nullptr);
    if (document_) disconnect(document_, nullptr, this, nullptr);
    commit();
}

void DocumentInfoView::build()
{
    setFixedWidth(panelWidth);
    fillWithChrome(this);

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(padding, padding, padding, padding);
    stack->setSpacing(14);
    stack->addWidget(makeHeader());
    stack->addWidget(new Hairline(false, this));
    if (info_) stack->addWidget(makeFacts());
    stack->addWidget(new Hairline(false, this));
    stack->addWidget(makeFields());
    // 340 wide; as tall as the rows need.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QWidget* DocumentInfoView::makeHeader()
{
    auto* header = new QWidget(this);
    auto* column = new QVBoxLayout(header);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(3);

    name_ = shelltext::label(QString(), uiFont(14, QFont::DemiBold), D::paper(), header);
    name_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const QString full = fileName();
    name_->setText(name_->fontMetrics().elidedText(full, Qt::ElideMiddle, panelWidth - 2 * padding));
    name_->setToolTip(full);
    name_->setAccessibleName(full);
    column->addWidget(name_);

    summary_ = shelltext::label(summary(), uiFont(12), secondary(), header);
    column->addWidget(summary_);
    return header;
}

QWidget* DocumentInfoView::makeFacts()
{
    factsGrid_ = new QWidget(this);
    auto* grid = new QGridLayout(factsGrid_);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(6);
    grid->setColumnStretch(1, 1);
    const QStringList labels{tr("Page size"), tr("Version"),  tr("Created"),  tr("Modified"), tr("Creator"),
                             tr("Producer"),  tr("Security"), tr("Printing"), tr("Copying")};
    int row = 0;
    for (const QString& text : labels) {
        grid->addWidget(gridLabel(text, factsGrid_), row, 0, Qt::AlignRight | Qt::AlignTop);
        QLabel* value = shelltext::label(QString(), uiFont(12), withOpacity(D::paper(), 0.92), factsGrid_);
        value->setWordWrap(true);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        // No alignment in the cell: the value takes the column's whole width
        // and wraps only where that is too narrow.
        grid->addWidget(value, row, 1);
        facts_.emplace_back(text, value);
        ++row;
    }
    fillFacts();
    return factsGrid_;
}

QWidget* DocumentInfoView::makeFields()
{
    auto* box = new QWidget(this);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(8);
    grid->setColumnStretch(1, 1);
    struct Row {
        QString label;
        QString placeholder;
    };
    const std::array<Row, 4> rows{Row{tr("Title"), tr("None")}, Row{tr("Author"), tr("None")},
                                  Row{tr("Subject"), tr("None")},
                                  Row{tr("Keywords"), tr("Add keywords, separated by commas")}};
    for (size_t i = 0; i < rows.size(); ++i) {
        grid->addWidget(gridLabel(rows[i].label, box), int(i), 0, Qt::AlignRight | Qt::AlignVCenter);
        auto* field = new FlatField(box);
        field->setFieldFont(uiFont(12));
        field->setPlaceholderText(rows[i].placeholder);
        QPalette p = field->palette();
        p.setColor(QPalette::PlaceholderText, withOpacity(D::paper(), 0.32));
        field->setPalette(p);
        field->setAccessibleName(rows[i].label);
        fields_[i] = field;
        grid->addWidget(field, int(i), 1);

        const Field which = Field(i);
        connect(field, &QLineEdit::textEdited, this, [this, which](const QString& text) {
            switch (which) {
            case Field::title: draft_.title = text; break;
            case Field::author: draft_.author = text; break;
            case Field::subject: draft_.subject = text; break;
            case Field::keywords: draft_.keywords = text; break;
            }
        });
        connect(field, &QLineEdit::returnPressed, this, &DocumentInfoView::commit);
        field->installEventFilter(this);
    }
    // Tab goes through the four fields in order.
    orderTabStops({fields_.begin(), fields_.end()});
    showDraft();
    return box;
}

QString DocumentInfoView::fileName() const
{
    const QString path = model_ ? model_->filePath() : QString();
    if (!path.isEmpty()) return QFileInfo(path).fileName();
    return ShareFolder::baseName(QString()) + QStringLiteral(".pdf");
}

QString DocumentInfoView::summary() const
{
    return summaryLine(fileSize_, info_ ? std::optional<int>(info_->pageCount) : std::nullopt);
}

QString DocumentInfoView::summaryLine(std::optional<qint64> fileSize, std::optional<int> pageCount)
{
    QString text = fileSize
                       ? QLocale().formattedDataSize(*fileSize, 1, QLocale::DataSizeSIFormat) + QStringLiteral(", ")
                       : tr("Not saved yet, ");
    if (pageCount) text += *pageCount == 1 ? tr("1 page") : tr("%1 pages").arg(*pageCount);
    return text;
}

QString DocumentInfoView::dateText(const std::optional<QDateTime>& date)
{
    if (!date || !date->isValid()) return tr("Unknown");
    const QLocale locale;
    const QDateTime local = date->toLocalTime();
    // The medium date ("Dec 31, 2016"): QLocale names only a short and a long
    // style, so the long one loses its weekday and shortens its month name.
    QString day = locale.dateFormat(QLocale::LongFormat);
    day.remove(QRegularExpression(QStringLiteral("d{4}[,.]?\\s*")));
    day.replace(QRegularExpression(QStringLiteral("M{4}")), QStringLiteral("MMM"));
    // Hours and minutes only, in the locale's order and separators.
    QString time = locale.timeFormat(QLocale::ShortFormat);
    time.remove(QRegularExpression(QStringLiteral("[:.]ss")));
    return locale.toString(local.date(), day.trimmed()) + QStringLiteral(", ") + locale.toString(local.time(), time);
}

QString DocumentInfoView::fact(const QString& label) const
{
    for (const auto& [text, value] : facts_)
        if (text == label) return value->text();
    return {};
}

void DocumentInfoView::fillFacts()
{
    if (!info_ || facts_.size() != 9) return;
    const DocumentInfo& info = *info_;
    const auto orUnknown = [](const std::optional<QString>& text) { return text ? *text : tr("Unknown"); };
    const QStringList values{info.pageSize,
                             QStringLiteral("PDF ") + info.version,
                             dateText(info.created),
                             dateText(info.modified),
                             orUnknown(info.creator),
                             orUnknown(info.producer),
                             info.isEncrypted ? tr("Encrypted") : tr("Not encrypted"),
                             info.allowsPrinting ? tr("Allowed") : tr("Not allowed"),
                             info.allowsCopying ? tr("Allowed") : tr("Not allowed")};
    for (size_t i = 0; i < facts_.size(); ++i) {
        QLabel* label = facts_[i].second;
        label->setText(values[int(i)]);
        // A reader meets the value named with its label ("Created: Unknown"), not by itself.
        setReaderName(label, tr("%1: %2").arg(facts_[i].first, values[int(i)]));
        // At most two lines; the rest is cut off and shown whole as a tooltip.
        label->setMaximumHeight(label->fontMetrics().lineSpacing() * 2 + 2);
        label->setToolTip(values[int(i)]);
    }
}

void DocumentInfoView::showDraft()
{
    const std::array<const QString*, 4> texts{&draft_.title, &draft_.author, &draft_.subject, &draft_.keywords};
    for (size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i] && fields_[i]->text() != *texts[i]) fields_[i]->setText(*texts[i]);
}

std::optional<DocumentInfoView::Field> DocumentInfoView::focusedField() const
{
    const QWidget* focus = QApplication::focusWidget();
    for (size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i] && fields_[i] == focus) return Field(i);
    return std::nullopt;
}

void DocumentInfoView::commit()
{
    if (model_) DocumentActions::of(*model_).updateMetadata(draft_);
}

void DocumentInfoView::focusMoved(QWidget* from, QWidget* to)
{
    // Leaving a field commits it before the next field is edited; arriving
    // from elsewhere commits nothing.
    if (from == to) return;
    for (QLineEdit* field : fields_)
        if (field && field == from) {
            commit();
            // Out of the fields: the draft shows what was stored.
            if (!focusedField()) refresh();
            return;
        }
}

void DocumentInfoView::refresh()
{
    if (!document_ || document_->isLocked()) return;
    info_ = DocumentInfo(*document_);
    fillFacts();
    if (summary_) summary_->setText(summary());
    if (focusedField()) return;
    draft_ = info_->metadata;
    showDraft();
}

bool DocumentInfoView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress) return false;
    auto* field = qobject_cast<QLineEdit*>(watched);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (!field || !document_ || document_->isLocked()) return false;
    // A field takes back its own typing; one with none to take back hands
    // Undo and Redo to the document, as the Edit menu does outside the panel.
    const bool undo = key->matches(QKeySequence::Undo) && !field->isUndoAvailable();
    const bool redo = key->matches(QKeySequence::Redo) && !field->isRedoAvailable();
    if (!undo && !redo) return false;
    event->accept();
    if (event->type() == QEvent::ShortcutOverride) return true;
    QUndoStack& stack = document_->undoStack();
    if (undo ? !stack.canUndo() : !stack.canRedo()) return true;
    undo ? stack.undo() : stack.redo();
    // The draft follows the document even with a field focused: the undone
    // text must not come back when the focus moves on.
    if (info_) draft_ = info_->metadata;
    showDraft();
    return true;
}

void DocumentInfoView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    commit();
}

// ---------------------------------------------------------------- popover

DocumentInfoPopover::DocumentInfoPopover(ViewerModel* model, quarnkit::QuarnDocument* document, QWidget* anchor)
    : QFrame(anchor, Qt::Popup), model_(model), anchor_(anchor)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameShape(QFrame::NoFrame);
    setAccessibleName(tr("Document info"));
    exposeAsPopover(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    view_ = new DocumentInfoView(model, document, this);
    layout->addWidget(view_);
    // The open popover takes the keys: the Document Info key closes it again.
    for (const QKeySequence& key : quarnkit::KeyboardShortcuts::keys(quarnkit::ShortcutCommand::documentInfo))
        connect(new QShortcut(key, this), &QShortcut::activated, this, &QWidget::close);
    // The one-point margin shows as the popover's outline: a hairline over chrome.
    const QColor& chrome = D::chrome();
    const QColor& paper = D::paper();
    const double a = D::hairline().alphaF();
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor::fromRgbF(float(chrome.redF() * (1 - a) + paper.redF() * a),
                                                  float(chrome.greenF() * (1 - a) + paper.greenF() * a),
                                                  float(chrome.blueF() * (1 - a) + paper.blueF() * a)));
    setPalette(p);
}

void DocumentInfoPopover::present()
{
    adjustSize();
    QPoint at(0, 0);
    if (anchor_) {
        const QPoint below = anchor_->mapToGlobal(QPoint(anchor_->width() / 2, anchor_->height() + 4));
        at = QPoint(below.x() - width() / 2, below.y());
        // Kept within the anchor's window, and that on its screen.
        QRect area = anchor_->window()->frameGeometry();
        if (const QScreen* screen = anchor_->screen()) area = area.intersected(screen->availableGeometry());
        if (!area.isEmpty())
            at.setX(std::clamp(at.x(), area.left() + 4, std::max(area.left() + 4, area.right() - width() - 4)));
    }
    move(at);
    // The first field takes the keys as it opens: what is typed goes in the title.
    view_->field(DocumentInfoView::Field::title)->setFocus(Qt::PopupFocusReason);
    show();
}

void DocumentInfoPopover::mousePressEvent(QMouseEvent* event)
{
    // A click on the Document Info button that closes the popover must not
    // reach the button as well, or it would open the popover again.
    if (anchor_ && !rect().contains(event->position().toPoint())) {
        const QPoint inAnchor = anchor_->mapFromGlobal(event->globalPosition().toPoint());
        if (anchor_->rect().contains(inAnchor)) setAttribute(Qt::WA_NoMouseReplay);
    }
    QFrame::mousePressEvent(event);
}

void DocumentInfoPopover::hideEvent(QHideEvent* event)
{
    QFrame::hideEvent(event); // the view commits its draft on this hide
    if (model_) DocumentActions::of(*model_).setInfoPresented(false);
    deleteLater();
}

void DocumentInfoPopover::follow(ViewerModel* model, QWidget* anchor)
{
    if (!model || !anchor) return;
    QObject::connect(&DocumentActions::of(*model), &DocumentActions::infoPresentedChanged, anchor,
                     [model, anchor](bool presented) {
                         DocumentInfoPopover* shown = shownFor(anchor);
                         if (presented && !shown && model->document()) {
                             auto* popover = new DocumentInfoPopover(model, model->document(), anchor);
                             popover->present();
                         } else if (!presented && shown) {
                             shown->close();
                         }
                     });
}

DocumentInfoPopover* DocumentInfoPopover::shownFor(QWidget* anchor)
{
    if (!anchor) return nullptr;
    for (auto* popover : anchor->findChildren<DocumentInfoPopover*>(QString(), Qt::FindDirectChildrenOnly))
        if (popover->isVisible()) return popover;
    return nullptr;
}

} // namespace quarn
