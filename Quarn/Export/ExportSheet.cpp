#include "Quarn/Export/ExportSheet.h"
#include "Quarn/Viewer/DocumentActions.h"
#include "Quarn/Pages/PagesModel.h"

#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/ChoiceGroup.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/ChromeSegmented.h"
#include "Quarn/Design/FlatField.h"
#include "Quarn/Export/SheetControls.h"
#include "Quarn/Shell/ShellText.h"
#include "Quarn/Shell/WindowEvents.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Shell/Design.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QSlider>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace quarn {

using namespace quarnkit;
using quarnkit::Design::accent;
using quarnkit::Design::paper;
using quarnkit::Design::record;

// One format of the list: a radio mark, the title and one line of detail.
class FormatCard : public ChromeButton {
public:
    FormatCard(ExportFormat format, QWidget* parent) : ChromeButton(parent), format_(format)
    {
        setFixedHeight(27);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setText(ExportFormats::title(format));
        setKind(Kind::choice);
    }
    ExportFormat format() const { return format_; }
    void show(bool chosen, const std::optional<QString>& reason)
    {
        chosen_ = chosen;
        exposeChosen(chosen);
        line_ = reason.value_or(ExportFormats::detail(format_));
        setEnabled(!reason);
        setToolTip(line_);
        update();
    }
    const QString& line() const { return line_; }
    bool isChosen() const { return chosen_; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (!isEnabled()) p.setOpacity(0.45);
        const double fill = chosen_ ? 0.07 : showsHover() ? 0.035 : 0;
        if (fill > 0) {
            QPainterPath shape;
            shape.addRoundedRect(QRectF(rect()), 4, 4);
            p.fillPath(shape, withOpacity(paper(), fill));
        }
        const QRectF mark(10, (height() - 14) / 2.0, 14, 14);
        p.setPen(QPen(chosen_ ? accent() : shelltext::secondary(), 1.4));
        p.drawEllipse(mark.adjusted(0.7, 0.7, -0.7, -0.7));
        if (chosen_) {
            p.setPen(Qt::NoPen);
            p.setBrush(accent());
            p.drawEllipse(mark.center(), 3.5, 3.5);
        }
        p.setPen(paper());
        p.setFont(uiFont(13, chosen_ ? QFont::DemiBold : QFont::Normal));
        const int column = titleColumn();
        p.drawText(QRectF(34, 0, column, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
        p.setPen(shelltext::secondary());
        p.setFont(uiFont(12));
        const QRectF detail(34 + column + 10, 0, width() - column - 54, height());
        p.drawText(detail, Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(line_, Qt::ElideRight, int(detail.width())));
    }

private:
    // The titles' column: 112 wide, or wider where the interface's font
    // needs more for a title set in bold (chosen), so none is cut short.
    static int titleColumn()
    {
        static const int width = [] {
            const QFontMetrics bold(uiFont(13, QFont::DemiBold));
            int widest = 112;
            for (ExportFormat format : allExportFormats)
                widest = std::max(widest, bold.horizontalAdvance(ExportFormats::title(format)) + 2);
            return widest;
        }();
        return width;
    }

    ExportFormat format_;
    bool chosen_ = false;
    QString line_;
};

namespace {

QLabel* sectionLabel(const QString& text, QWidget* parent)
{
    return shelltext::label(text, uiFont(11, QFont::Medium), shelltext::secondary(), parent);
}

QLabel* wrapping(QLabel* label)
{
    label->setWordWrap(true);
    return label;
}

void setColor(QLabel* label, const QColor& color)
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
}

QWidget* section(QWidget* parent, QVBoxLayout*& layout)
{
    auto* w = new QWidget(parent);
    layout = new QVBoxLayout(w);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    return w;
}

} // namespace

ExportSheet::ExportSheet(ViewerModel& model, platform::UserDefaults& defaults, QWidget* parent)
    : QDialog(parent), model_(model), defaults_(defaults)
{
    setWindowTitle(tr("Export"));
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, quarnkit::Design::window());
    setPalette(p);

    const ExportChoices saved = ExportChoices::saved(defaults_);
    preset_ = DocumentActions::of(model_).exportPreset();
    form_.format = preset_.value_or(saved.format);
    form_.scope = saved.scope;
    if (form_.scope == ExportScope::selectedPages && source().selectedPages.empty())
        form_.scope = ExportScope::allPages;
    form_.dpi = saved.dpi;
    form_.quality = saved.quality;
    form_.searchable = saved.searchable;
    controller_.dialogParent = this;

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);
    // 480 wide with its margins, and as tall as its tallest choice of
    // options (reserveRoom): rows that come and go leave room under them,
    // so the buttons never move under the pointer.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    formArea_ = buildForm();
    formArea_->setFixedWidth(440);
    layout->addWidget(formArea_);
    layout->addStretch(1);
    QWidget* footer = buildFooter();
    footer->setFixedWidth(440);
    layout->addWidget(footer);
    // Return acts through the footer's default button wherever the focus is
    // in the sheet (a card, a scope, a field): Export, or Done once an
    // export has finished.
    WindowEvents::returnRuns(*this, [this] {
        if (controller_.phase().kind == ExportController::Phase::Kind::finished) accept();
        else exportNow();
    });
    connect(&controller_, &ExportController::phaseChanged, this, &ExportSheet::refresh);
    // The scopes and the pages line follow the sidebar and the current page.
    connect(&PagesModel::of(model_), &PagesModel::selectedPagesChanged, this, &ExportSheet::refresh);
    connect(&model_, &ViewerModel::pageIndexChanged, this, &ExportSheet::refresh);
    refresh();
}

ExportSheet::~ExportSheet()
{
    WindowEvents::forget(*this);
    // Closed with its window, the sheet may outlive the model it shows: a
    // cancel says nothing more to it.
    disconnect(&controller_, nullptr, this, nullptr);
    controller_.cancel();
}

void ExportSheet::follow(ViewerModel* model, QWidget* window)
{
    QObject::connect(&DocumentActions::of(*model), &DocumentActions::exportPresentedChanged, window,
                     [model, window](bool presented) {
                         if (!presented || window->findChild<ExportSheet*>()) return;
                         auto* sheet = new ExportSheet(*model, model->defaults(), window);
                         sheet->setAttribute(Qt::WA_DeleteOnClose);
                         QObject::connect(sheet, &QDialog::finished, model,
                                          [model] { DocumentActions::of(*model).setExportPresented(false); });
                         sheet->open();
                     });
}

ExportSource ExportSheet::source() const
{
    ExportSource s;
    s.document = model_.document();
    s.pageIndex = model_.pageIndex();
    s.selectedPages = PagesModel::of(model_).selectedPages();
    if (!model_.filePath().isEmpty()) s.filePath = model_.filePath();
    return s;
}

QWidget* ExportSheet::buildForm()
{
    auto* area = new QWidget(this);
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);

    auto* header = new QVBoxLayout;
    header->setSpacing(4);
    header->addWidget(shelltext::label(tr("Export"), quarnkit::Design::title(), paper(), area));
    header->addWidget(shelltext::label(tr("The open PDF stays as it is. This writes a new file."), uiFont(12),
                                       shelltext::secondary(), area));
    layout->addLayout(header);

    auto* list = new QVBoxLayout;
    list->setSpacing(0);
    for (ExportFormat format : allExportFormats) {
        auto* card = new FormatCard(format, area);
        connect(card, &QAbstractButton::clicked, this, [this, format] { chooseFormat(format); });
        cards_.push_back(card);
        list->addWidget(card);
    }
    // A radio group: the card the keys are on is the format Return exports.
    new ChoiceGroup(
        {cards_.begin(), cards_.end()}, [this](int index) { chooseFormat(cards_[size_t(index)]->format()); }, this);
    layout->addLayout(list);

    auto* options = new QVBoxLayout;
    options->setSpacing(14);
    QVBoxLayout* pages = nullptr;
    options->addWidget(section(area, pages));
    pages->addWidget(sectionLabel(tr("Pages"), area));
    scopeControl_ = new ChromeSegmented(area);
    connect(scopeControl_, &ChromeSegmented::selected, this, [this](int index) {
        if (index >= 0 && index < int(scopes_.size())) chooseScope(scopes_[size_t(index)]);
    });
    pages->addWidget(scopeControl_);
    rangeField_ = new FlatField(area);
    rangeField_->setPlaceholderText(tr("1-3, 5, 8-"));
    rangeField_->setAccessibleName(tr("Page range"));
    QFont mono = quarnkit::Design::mono();
    rangeField_->setFieldFont(mono);
    connect(rangeField_, &QLineEdit::textEdited, this, [this](const QString& text) {
        form_.rangeText = text;
        controller_.clearResult();
        refresh();
    });
    pages->addWidget(rangeField_);
    pagesLine_ = wrapping(shelltext::label({}, uiFont(12), shelltext::secondary(), area));
    pages->addWidget(pagesLine_);

    QVBoxLayout* resolution = nullptr;
    resolutionSection_ = section(area, resolution);
    auto* resolutionRow = new QHBoxLayout;
    resolutionRow->addWidget(sectionLabel(tr("Resolution"), area));
    resolutionRow->addStretch();
    pixelSize_ = shelltext::label({}, quarnkit::Design::mono(), shelltext::secondary(), area);
    resolutionRow->addWidget(pixelSize_);
    resolution->addLayout(resolutionRow);
    QStringList dpiTitles;
    for (int dpi : ExportSettings::resolutions) dpiTitles << tr("%1 dpi").arg(dpi);
    dpiControl_ = new ChromeSegmented(dpiTitles, -1, area);
    connect(dpiControl_, &ChromeSegmented::selected, this, [this](int index) {
        if (index < 0 || index >= int(ExportSettings::resolutions.size())) return;
        form_.dpi = ExportSettings::resolutions[size_t(index)];
        refresh();
    });
    resolution->addWidget(dpiControl_);
    options->addWidget(resolutionSection_);

    QVBoxLayout* qualityLayout = nullptr;
    qualitySection_ = section(area, qualityLayout);
    QLabel* qualityLabel = sectionLabel(tr("Quality"), area);
    qualityLayout->addWidget(qualityLabel);
    auto* qualityRow = new QHBoxLayout;
    qualityRow->setSpacing(8);
    quality_ = new QSlider(Qt::Horizontal, area);
    quality_->setAccessibleName(qualityLabel->text());
    quality_->setRange(30, 100);
    connect(quality_, &QSlider::valueChanged, this, [this](int value) {
        form_.quality = value / 100.0;
        refresh();
    });
    qualityRow->addWidget(quality_);
    qualityText_ = shelltext::label({}, quarnkit::Design::mono(), shelltext::secondary(), area);
    qualityText_->setFixedWidth(40);
    qualityText_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    qualityRow->addWidget(qualityText_);
    qualityLayout->addLayout(qualityRow);
    options->addWidget(qualitySection_);

    QVBoxLayout* passwords = nullptr;
    passwordSection_ = section(area, passwords);
    passwords->addWidget(sectionLabel(tr("Passwords"), area));
    auto* fields = new QHBoxLayout;
    fields->setSpacing(8);
    auto passwordField = [&](const QString& placeholder, QString ExportForm::*member) {
        auto* field = new FlatField(area);
        field->setPlaceholderText(placeholder);
        // The placeholder is the field's only label; a screen reader reads it as its name.
        field->setAccessibleName(placeholder);
        field->setEchoMode(QLineEdit::Password);
        field->setFieldFont(uiFont(12, QFont::Medium));
        connect(field, &QLineEdit::textEdited, this, [this, member](const QString& text) {
            form_.*member = text;
            refresh();
        });
        fields->addWidget(field);
        return field;
    };
    openPassword_ = passwordField(tr("Password to open"), &ExportForm::openPassword);
    editPassword_ = passwordField(tr("Password to edit"), &ExportForm::editPassword);
    passwords->addLayout(fields);
    passwordCaption_ = wrapping(shelltext::label({}, uiFont(11), shelltext::secondary(), area));
    passwords->addWidget(passwordCaption_);
    passwords->addSpacing(2);
    searchable_ = new QCheckBox(tr("Make scanned text searchable"), area);
    searchable_->setFont(uiFont(12));
    connect(searchable_, &QCheckBox::toggled, this, [this](bool on) { form_.searchable = on; });
    passwords->addWidget(searchable_);
    options->addWidget(passwordSection_);

    note_ = wrapping(shelltext::label({}, uiFont(12), shelltext::secondary(), area));
    options->addWidget(note_);
    layout->addLayout(options);
    return area;
}

QWidget* ExportSheet::buildFooter()
{
    auto* area = new QWidget(this);
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    failure_ = wrapping(shelltext::label({}, uiFont(12), record(), area));
    layout->addWidget(failure_);
    footer_ = new QStackedWidget(area);
    layout->addWidget(footer_);

    auto* ready = new QWidget(footer_);
    auto* readyRow = new QHBoxLayout(ready);
    readyRow->setContentsMargins(0, 0, 0, 0);
    readyRow->setSpacing(8);
    validation_ = wrapping(shelltext::label({}, uiFont(12), shelltext::secondary(), ready));
    readyRow->addWidget(validation_, 1);
    readyRow->addSpacing(8);
    auto* close = new SheetButton(tr("Cancel"), ready);
    connect(close, &QAbstractButton::clicked, this, &QDialog::reject);
    readyRow->addWidget(close);
    exportButton_ = new AccentButton(tr("Export"), std::nullopt, ready);
    connect(exportButton_, &QAbstractButton::clicked, this, &ExportSheet::exportNow);
    readyRow->addWidget(exportButton_);
    footer_->addWidget(ready);

    auto* working = new QWidget(footer_);
    working->setMinimumHeight(40);
    auto* workingRow = new QHBoxLayout(working);
    workingRow->setContentsMargins(0, 0, 0, 0);
    workingRow->setSpacing(14);
    auto* stack = new QVBoxLayout;
    stack->setSpacing(6);
    progress_ = new ExportProgressBar(working);
    stack->addWidget(progress_);
    stepLabel_ = shelltext::label({}, quarnkit::Design::mono(), shelltext::secondary(), working);
    stack->addWidget(stepLabel_);
    workingRow->addLayout(stack, 1);
    auto* stop = new SheetButton(tr("Cancel"), working);
    connect(stop, &QAbstractButton::clicked, &controller_, &ExportController::cancel);
    workingRow->addWidget(stop);
    footer_->addWidget(working);

    auto* finished = new QWidget(footer_);
    finished->setMinimumHeight(40);
    auto* finishedRow = new QHBoxLayout(finished);
    finishedRow->setContentsMargins(0, 0, 0, 0);
    finishedRow->setSpacing(10);
    finishedRow->addWidget(shelltext::label(QStringLiteral("\u2714"), uiFont(15), accent(), finished));
    summary_ = wrapping(shelltext::label({}, uiFont(12), paper(), finished));
    finishedRow->addWidget(summary_, 1);
    finishedRow->addSpacing(8);
    auto* done = new AccentButton(tr("Done"), std::nullopt, finished);
    connect(done, &QAbstractButton::clicked, this, &QDialog::accept);
    finishedRow->addWidget(done);
    footer_->addWidget(finished);
    return area;
}

void ExportSheet::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Where the sheet first stands is its place from now on: a choice that
    // changes its height then keeps its top edge and grows or shrinks at
    // the bottom. (Qt leaves the first place implicit, and window managers
    // re-centre a window of implicit place whenever its size changes, moving
    // the cards and buttons under the pointer.)
    move(pos());
    // A preset is used once; the census is taken now and kept while the sheet is open.
    DocumentActions::of(model_).setExportPreset(std::nullopt);
    if (const QuarnDocument* document = model_.document(); document && !document->isLocked())
        form_.census = MarkCensus(*document);
    if (!preset_ && form_.unavailableReason(form_.format)) form_.format = ExportFormat::flattenedPDF;
    reserveRoom();
    refresh();
    // No field starts focused: typing must not land in a password field
    // unasked, and Return exports.
    setFocus(Qt::OtherFocusReason);
}

int ExportSheet::neededHeight() const
{
    // The sections lay themselves out on a later turn: now, level by level.
    for (int level = 0; level < 4; ++level) QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QLayout* column = layout();
    column->activate();
    return column->hasHeightForWidth() ? column->totalHeightForWidth(sheetWidth) : column->totalSizeHint().height();
}

void ExportSheet::reserveRoom()
{
    // Every format and scope the sheet can show, each laid out once.
    const quarnkit::ExportForm chosen = form_;
    int tallest = 0;
    measuring_ = true;
    for (ExportFormat format : allExportFormats)
        for (ExportScope scope : ExportForm::scopes(source())) {
            form_.format = format;
            form_.scope = scope;
            refresh();
            tallest = std::max(tallest, neededHeight());
        }
    measuring_ = false;
    form_ = chosen;
    reserved_ = std::max(reserved_, tallest);
    setFixedSize(sheetWidth, reserved_);
}

void ExportSheet::reject()
{
    // Escape while an export runs stops it instead of closing.
    if (controller_.phase().kind == ExportController::Phase::Kind::working) return controller_.cancel();
    controller_.cancel();
    QDialog::reject();
}

std::vector<QAbstractButton*> ExportSheet::cards() const { return {cards_.begin(), cards_.end()}; }

void ExportSheet::chooseFormat(ExportFormat format)
{
    form_.format = format;
    controller_.clearResult();
    refresh();
}

void ExportSheet::chooseScope(ExportScope scope)
{
    form_.scope = scope;
    controller_.clearResult();
    refresh();
    if (scope == ExportScope::range) rangeField_->setFocus();
}

void ExportSheet::exportNow()
{
    const ExportSource src = source();
    if (!form_.canExport(src, controller_.phase().kind == ExportController::Phase::Kind::working)) return;
    const ExportSettings settings = form_.settings(src);
    form_.choices().save(defaults_);
    controller_.start(settings, model_, [this] { accept(); });
}

void ExportSheet::refresh()
{
    const ExportSource src = source();
    using Kind = ExportController::Phase::Kind;
    const ExportController::Phase& phase = controller_.phase();

    for (FormatCard* card : cards_) card->show(card->format() == form_.format, form_.unavailableReason(card->format()));

    scopes_ = ExportForm::scopes(src);
    std::vector<ChromeSegmented::Option> scopeOptions;
    int chosenScope = -1;
    for (size_t i = 0; i < scopes_.size(); ++i) {
        scopeOptions.push_back({ExportScopes::title(scopes_[i]), {}, {}});
        if (scopes_[i] == form_.scope) chosenScope = int(i);
    }
    if (scopeControl_->count() != int(scopeOptions.size())) scopeControl_->setOptions(scopeOptions);
    scopeControl_->setSelection(chosenScope);
    rangeField_->setVisible(form_.scope == ExportScope::range);
    const ExportForm::Line line = form_.pagesLine(src);
    pagesLine_->setText(line.text);
    setColor(pagesLine_, line.isError ? record() : shelltext::secondary());

    resolutionSection_->setVisible(ExportFormats::isImage(form_.format));
    pixelSize_->setText(form_.pixelSize(src));
    const auto dpiAt = std::find(ExportSettings::resolutions.begin(), ExportSettings::resolutions.end(), form_.dpi);
    dpiControl_->setSelection(int(dpiAt - ExportSettings::resolutions.begin()));
    qualitySection_->setVisible(form_.format == ExportFormat::jpeg);
    {
        const QSignalBlocker block(quality_);
        quality_->setValue(int(std::lround(form_.quality * 100)));
    }
    qualityText_->setText(form_.qualityText());
    passwordSection_->setVisible(ExportFormats::isPDF(form_.format));
    searchable_->setChecked(form_.searchable);
    const auto caption = form_.passwordCaption();
    passwordCaption_->setText(caption.value_or(QString()));
    passwordCaption_->setVisible(caption.has_value());
    const auto note = form_.formatNote(src);
    note_->setText(note.value_or(QString()));
    note_->setVisible(note.has_value());

    const bool working = phase.kind == Kind::working;
    formArea_->setEnabled(!working);
    failure_->setText(phase.kind == Kind::failed ? phase.text : QString());
    failure_->setVisible(phase.kind == Kind::failed);
    const auto message = form_.validationMessage(src);
    validation_->setText(message.value_or(QString()));
    exportButton_->setText(form_.actionTitle(src));
    exportButton_->setEnabled(form_.canExport(src, working));
    exportButton_->updateGeometry();
    if (working) {
        progress_->setFraction(phase.step.fraction());
        stepLabel_->setText(phase.step.label());
    }
    summary_->setText(phase.kind == Kind::finished ? phase.text : QString());
    footer_->setCurrentIndex(working ? 1 : phase.kind == Kind::finished ? 2 : 0);
    // What no choice of options showed (a failure, a long note) may still
    // need more room: the sheet grows for it, and never shrinks.
    if (measuring_) return;
    if (const int needed = neededHeight(); needed > reserved_) {
        reserved_ = needed;
        setFixedSize(sheetWidth, needed);
    }
}

} // namespace quarn
