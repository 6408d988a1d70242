#include "Quarn/Find/FindBar.h"

#include "Quarn/Design/AccessibleRoles.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/FlatField.h"
#include "Quarn/Design/Spinner.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Viewer/StatusBar.h"
#include "Quarn/Find/FindModel.h"
#include "QuarnKit/Shell/Design.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

namespace quarn {

namespace D = quarnkit::Design;
namespace Keys = quarnkit::KeyboardShortcuts;
using quarnkit::ShortcutCommand;
using quarnkit::ShortcutContext;

namespace {

QString withKey(const QString& label, ShortcutCommand command)
{
    const QStringList keys = Keys::shownKeys(command);
    return keys.isEmpty() ? label : QStringLiteral("%1 (%2)").arg(label, keys.first());
}

} // namespace

QString FindBar::countText(const QString& query, int index, int count, bool searching)
{
    if (query.trimmed().isEmpty()) return {};
    if (count < 1) return searching ? QString() : tr("No matches");
    // Plain digits, no grouping: "3 of 12".
    return tr("%1 of %2").arg(QString::number(index + 1), QString::number(count));
}

QString FindBar::optionsText(bool matchCase, bool wholeWords)
{
    if (matchCase && wholeWords) return tr("Find options: match case, whole words");
    if (matchCase) return tr("Find options: match case");
    if (wholeWords) return tr("Find options: whole words");
    return tr("Find options");
}

FindBar::FindBar(FindModel* model, QWidget* parent) : QWidget(parent), model_(model)
{
    QHBoxLayout* row = setUpViewerBar(this, 40);

    options_ = new ChromeMenuButton(
        optionsText(false, false), [this] { return optionItems(); },
        [this](QPainter& painter, const QRectF& frame, const ChromeMenuButton::LabelState& state) {
            QPainterPath back;
            back.addRoundedRect(frame, 4, 4);
            if (state.hoverAmount > 0) painter.fillPath(back, withOpacity(D::paper(), 0.07 * state.hoverAmount));
            const bool anyOption = model_ && (model_->matchCase() || model_->wholeWords());
            const QColor ink = anyOption ? D::accent() : withOpacity(D::paper(), 0.7);
            const double width = 12 + 2 + 7;
            const double left = frame.center().x() - width / 2;
            drawSymbol(painter, QStringLiteral("magnifyingglass"), QRectF(left, frame.center().y() - 6, 12, 12), ink);
            drawSymbol(painter, QStringLiteral("chevron.down"), QRectF(left + 14, frame.center().y() - 3.5, 7, 7), ink);
        },
        this);
    options_->setFixedSize(34, 26);
    row->addWidget(options_);

    auto* field = new FlatField(this);
    field_ = field;
    field_->setPlaceholderText(tr("Find in document"));
    field_->setAccessibleName(tr("Find in document"));
    field_->setClearButtonEnabled(false);
    field_->installEventFilter(this);
    row->addWidget(field_, 1);

    auto* countArea = new QWidget(this);
    countArea->setMinimumWidth(92);
    auto* countRow = new QHBoxLayout(countArea);
    countRow->setContentsMargins(0, 0, 0, 0);
    countRow->setSpacing(6);
    countRow->addStretch(1);
    spinner_ = new Spinner(12, tr("Searching"), countArea);
    countRow->addWidget(spinner_);
    count_ = new QLabel(countArea);
    QFont countFont = D::mono();
    countFont.setWeight(QFont::Normal);
    count_->setFont(countFont);
    QPalette cp = count_->palette();
    cp.setColor(QPalette::WindowText, withOpacity(D::paper(), 0.55));
    count_->setPalette(cp);
    countRow->addWidget(count_);
    row->addWidget(countArea);

    steps_ = new QWidget(this);
    auto* stepRow = new QHBoxLayout(steps_);
    stepRow->setContentsMargins(0, 0, 0, 0);
    stepRow->setSpacing(2);
    previous_ = new StatusIconButton(QStringLiteral("chevron.up"),
                                     withKey(tr("Previous match"), ShortcutCommand::findPrevious), steps_);
    next_ = new StatusIconButton(QStringLiteral("chevron.down"), withKey(tr("Next match"), ShortcutCommand::findNext),
                                 steps_);
    stepRow->addWidget(previous_);
    stepRow->addWidget(next_);
    row->addWidget(steps_);
    close_ = new StatusIconButton(QStringLiteral("xmark"), withKey(tr("Close find"), ShortcutCommand::closeFind), this);
    row->addWidget(close_);

    connect(previous_, &QAbstractButton::clicked, this, [this] {
        if (model_) model_->previousMatch();
    });
    connect(next_, &QAbstractButton::clicked, this, [this] {
        if (model_) model_->nextMatch();
    });
    connect(close_, &QAbstractButton::clicked, this, [this] {
        if (model_) model_->close();
    });
    connect(field_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (model_) model_->setQuery(text);
    });

    if (model_) {
        connect(model_, &FindModel::queryChanged, this, [this](const QString& query) {
            if (field_->text() != query) field_->setText(query);
            refresh();
        });
        connect(model_, &FindModel::stateChanged, this, &FindBar::refresh);
        connect(model_, &FindModel::searchingChanged, this, &FindBar::refresh);
        connect(model_, &FindModel::matchCaseChanged, this, &FindBar::refresh);
        connect(model_, &FindModel::wholeWordsChanged, this, &FindBar::refresh);
        connect(model_, &FindModel::presentedChanged, this, [this](bool shown) { setVisible(shown); });
        connect(model_, &FindModel::tokenChanged, this, [this] {
            if (isVisible()) focusField();
        });
        field_->setText(model_->query());
    }
    setVisible(model_ && model_->presented());
    refresh();
}

std::vector<ChromeMenuItem> FindBar::optionItems() const
{
    const QPointer<FindModel> model = model_;
    // The model searches again at once when the bar is shown.
    return {
        {tr("Match Case"),
         model && model->matchCase(),
         true,
         QString(),
         {},
         [model] {
             if (model) model->setMatchCase(!model->matchCase());
         }},
        {tr("Whole Words"),
         model && model->wholeWords(),
         true,
         QString(),
         {},
         [model] {
             if (model) model->setWholeWords(!model->wholeWords());
         }},
    };
}

void FindBar::refresh()
{
    if (!model_) return;
    const QString help = optionsText(model_->matchCase(), model_->wholeWords());
    options_->setToolTip(help);
    setReaderName(options_, help);
    options_->update();
    spinner_->setVisible(model_->searching());
    count_->setText(countText(model_->query(), model_->index(), model_->count(), model_->searching()));
    steps_->setEnabled(model_->count() > 0);
}

void FindBar::focusField()
{
    field_->setFocus(Qt::ShortcutFocusReason);
    // Selected on the next turn, after the focus has settled: typing replaces the query.
    QTimer::singleShot(0, field_, [field = field_] {
        if (field->hasFocus()) field->selectAll();
    });
}

void FindBar::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    focusField();
}

bool FindBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != field_) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::KeyPress: {
        // One step per press: Shift+Return backward, Return forward, never both.
        auto* key = static_cast<QKeyEvent*>(event);
        const std::optional<ShortcutCommand> command = Keys::command(key->keyCombination(), ShortcutContext::findField);
        if (!command || !model_) break;
        if (*command == ShortcutCommand::findFieldPrevious) model_->previousMatch();
        else if (*command == ShortcutCommand::findFieldNext) model_->nextMatch();
        else if (*command == ShortcutCommand::closeFind) model_->close();
        return true;
    }
    default: break;
    }
    return QWidget::eventFilter(watched, event);
}

void FindBar::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter p(this);
    // It stands under the toolbar: the hairline parts it from the pages below.
    p.fillRect(QRect(0, height() - 1, width(), 1), D::hairline());
}

} // namespace quarn
