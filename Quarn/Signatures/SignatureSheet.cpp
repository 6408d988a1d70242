#include "Quarn/Signatures/SignatureSheet.h"

#include "Platform/UserAccount.h"
#include "Quarn/Design/AccessibleRoles.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/ChoiceGroup.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/ChromeSegmented.h"
#include "Quarn/Design/FlatField.h"
#include "Quarn/Shell/ShellText.h"
#include "Quarn/Shell/WindowEvents.h"
#include "Quarn/Signatures/SignControls.h"
#include "Quarn/Signatures/SignaturePad.h"
#include "QuarnKit/Shell/Design.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"
#include "QuarnKit/Signatures/SignatureInk.h"
#include "QuarnKit/Signatures/SignatureStore.h"

#include <QAction>
#include <QFontDatabase>
#include <QGraphicsOpacityEffect>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHash>
#include <QPainter>
#include <QStackedWidget>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>

namespace quarn {

using quarnkit::Signature;
using quarnkit::SignatureFont;
namespace D = quarnkit::Design;
namespace SignatureInk = quarnkit::SignatureInk;

namespace {

constexpr int sheetWidth = 540;
constexpr int padHeight = 190;

QString signatureHint(Signature::Kind kind)
{
    return kind == Signature::Kind::signature ? SignatureSheet::tr("Sign above the line with your trackpad or mouse")
                                              : SignatureSheet::tr("Write your initials above the line");
}

QString namePlaceholder(Signature::Kind kind)
{
    return kind == Signature::Kind::signature ? SignatureSheet::tr("Your name") : SignatureSheet::tr("Your initials");
}

// The paper behind the pad: the signing line, and the hint while nothing is drawn.
class PadPaper : public QWidget {
public:
    PadPaper(const SignatureSheet& sheet, QWidget* parent) : QWidget(parent), sheet_(sheet) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        signview::fillRounded(p, rect(), 4, D::paper());
        const QColor line = QColor::fromRgbF(0, 0, 0, 0.28f);
        // "×" and the rule sit on one baseline, 46 above the bottom, 24 in from the sides.
        const QFont mark = uiFont(18, QFont::Light);
        const QFontMetricsF metrics(mark);
        const double baseline = height() - 46;
        p.setFont(mark);
        p.setPen(line);
        const QString times = QStringLiteral("\u00D7");
        p.drawText(QPointF(24, baseline), times);
        const double ruleStart = 24 + metrics.horizontalAdvance(times) + 8;
        p.fillRect(QRectF(ruleStart, baseline - 1, width() - 24 - ruleStart, 1), line);
        if (sheet_.strokes().empty()) {
            p.setFont(uiFont(13));
            p.setPen(QColor::fromRgbF(0, 0, 0, 0.32f));
            p.drawText(rect(), Qt::AlignCenter, signatureHint(sheet_.kind()));
        }
    }

private:
    const SignatureSheet& sheet_;
};

// The family Qt knows a signature font by, loading its file once when the
// desktop does not list it.
QString familyOf(const SignatureFont& font)
{
    static QHash<QString, QString> known;
    const QString id = QString::fromStdString(font.id());
    if (const auto it = known.constFind(id); it != known.constEnd()) return *it;
    QString family = QString::fromStdString(font.name);
    if (!QFontDatabase::families().contains(family)) {
        const std::string path = font.path();
        const int loaded = path.empty() ? -1 : QFontDatabase::addApplicationFont(QString::fromStdString(path));
        const QStringList families = loaded >= 0 ? QFontDatabase::applicationFontFamilies(loaded) : QStringList();
        if (!families.isEmpty()) family = families.front();
    }
    known.insert(id, family);
    return family;
}

} // namespace

// ---------------------------------------------------------------- names

QString SignatureSheet::defaultFullName() { return platform::fullUserName(); }

QString SignatureSheet::defaultName(Signature::Kind kind, const QString& fullName)
{
    const QString name = fullName.trimmed();
    if (kind == Signature::Kind::signature) return name;
    QString initials;
    int taken = 0;
    for (const QString& word : name.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (taken == 3) break;
        // A whole user-perceived character, accents and all.
        QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, word);
        const qsizetype end = graphemes.toNextBoundary();
        initials += word.left(end > 0 ? end : 1);
        ++taken;
    }
    return initials.toUpper();
}

// ---------------------------------------------------------------- the sheet

SignatureSheet::SignatureSheet(Signature::Kind kind, SaveHandler onSave, QWidget* parent,
                               std::vector<SignatureFont> fonts, QString fullName)
    : QDialog(parent), onSave_(std::move(onSave)), kind_(kind), fonts_(std::move(fonts)), fullName_(std::move(fullName))
{
    signview::useSymbols();
    setWindowModality(Qt::WindowModal);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, D::window());
    setPalette(p);
    setFixedWidth(sheetWidth);
    if (!fonts_.empty()) fontId_ = fonts_.front().id();

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    column->setSizeConstraint(QLayout::SetFixedSize);

    // Header.
    auto* header = new QVBoxLayout;
    header->setSpacing(4);
    title_ = shelltext::label(QString(), D::title(), D::paper());
    header->addWidget(title_);
    header->addWidget(shelltext::label(tr("ravlen keeps it on this computer, ready for any PDF."), uiFont(12),
                                       shelltext::secondary()));
    column->addLayout(header);

    // The kind and the mode.
    auto* switches = new QHBoxLayout;
    kindSwitch_ = new ChromeSegmented(
        {quarnkit::title(Signature::Kind::signature), quarnkit::title(Signature::Kind::initials)}, 0, this);
    modeSwitch_ = new ChromeSegmented({tr("Draw"), tr("Type")}, 0, this);
    kindSwitch_->setFixedSize(kindSwitch_->sizeHint());
    modeSwitch_->setFixedSize(modeSwitch_->sizeHint());
    connect(kindSwitch_, &ChromeSegmented::selected, this, [this](int index) {
        if (index >= 0 && index < int(Signature::allKinds.size())) setKind(Signature::allKinds[size_t(index)]);
    });
    connect(modeSwitch_, &ChromeSegmented::selected, this,
            [this](int index) { setMode(index == 1 ? Mode::type : Mode::draw); });
    switches->addWidget(kindSwitch_);
    switches->addStretch(1);
    switches->addWidget(modeSwitch_);
    column->addLayout(switches);

    // The work area.
    work_ = new QStackedWidget(this);
    work_->setFixedWidth(sheetWidth - 40);
    work_->addWidget(makeDrawArea());
    work_->addWidget(makeTypeArea());
    column->addWidget(work_);

    // Footer.
    auto* footer = new QHBoxLayout;
    footer->setSpacing(8);
    undoButton_ = new ChipButton(tr("Undo Stroke"), QStringLiteral("arrow.uturn.backward"), this);
    clearButton_ = new ChipButton(tr("Clear"), QStringLiteral("xmark"), this);
    for (ChipButton* chip : {undoButton_, clearButton_}) chip->setFixedSize(chip->sizeHint());
    connect(undoButton_, &QAbstractButton::clicked, this, &SignatureSheet::undoStroke);
    connect(clearButton_, &QAbstractButton::clicked, this, &SignatureSheet::clearStrokes);
    footer->addWidget(undoButton_);
    footer->addWidget(clearButton_);
    errorLabel_ = shelltext::label(QString(), uiFont(12), D::record());
    errorLabel_->setWordWrap(true);
    errorLabel_->hide();
    footer->addWidget(errorLabel_, 1);
    footer->addStretch(0);
    auto* cancel = new SecondaryButton(tr("Cancel"), this);
    cancel->setFixedSize(cancel->sizeHint());
    connect(cancel, &QAbstractButton::clicked, this, &QDialog::reject);
    footer->addWidget(cancel);
    saveButton_ = new AccentButton(tr("Save"), std::nullopt, this);
    saveButton_->setFixedSize(saveButton_->sizeHint());
    auto* dim = new QGraphicsOpacityEffect(saveButton_);
    saveButton_->setGraphicsEffect(dim);
    connect(saveButton_, &QAbstractButton::clicked, this, &SignatureSheet::save);
    footer->addWidget(saveButton_);
    column->addLayout(footer);

    // Ctrl+Z takes the last stroke back while the pad shows.
    auto* undoKey = new QAction(this);
    undoKey->setShortcuts(quarnkit::KeyboardShortcuts::keys(quarnkit::ShortcutCommand::undoStroke));
    undoKey->setShortcutContext(Qt::WindowShortcut);
    connect(undoKey, &QAction::triggered, this, [this] {
        if (mode_ == Mode::draw) undoStroke();
    });
    addAction(undoKey);
    // Return saves wherever the keys are in the sheet, a segment or a font
    // card included, as the Save button would; Escape cancels, as in any dialog.
    WindowEvents::returnRuns(*this, [this] { save(); });

    refresh();
}

SignatureSheet::~SignatureSheet() { WindowEvents::forget(*this); }

QWidget* SignatureSheet::makeDrawArea()
{
    drawArea_ = new PadPaper(*this, this);
    drawArea_->setFixedHeight(padHeight);
    auto* layout = new QVBoxLayout(drawArea_);
    layout->setContentsMargins(0, 0, 0, 0);
    pad_ = new SignaturePad(drawArea_);
    layout->addWidget(pad_);
    connect(pad_, &SignaturePad::strokeFinished, this, [this](const quarnkit::InkStrokes& strokes) {
        strokes_ = strokes;
        refresh();
    });
    return drawArea_;
}

QWidget* SignatureSheet::makeTypeArea()
{
    auto* area = new QWidget(this);
    auto* column = new QVBoxLayout(area);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    nameField_ = new FlatField(area);
    nameField_->setFieldFont(uiFont(13, QFont::Medium));
    connect(nameField_, &QLineEdit::textChanged, this, [this] {
        setError(std::nullopt);
        refresh();
    });
    column->addWidget(nameField_);
    if (fonts_.empty()) {
        auto* none = shelltext::label(tr("No signature fonts are installed on this computer. Draw it instead."),
                                      uiFont(12), shelltext::secondary(), area);
        none->setAlignment(Qt::AlignCenter);
        none->setMinimumHeight(padHeight);
        column->addWidget(none);
        return area;
    }
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(10);
    for (size_t i = 0; i < fonts_.size(); ++i) {
        auto* card = new SignatureFontCard(fonts_[i], area);
        connect(card, &QAbstractButton::clicked, this, [this, id = fonts_[i].id()] { chooseFont(id); });
        grid->addWidget(card, int(i / 2), int(i % 2));
        cards_.push_back(card);
    }
    // A radio group: the card the keys are on is the font Return saves with.
    new ChoiceGroup(
        {cards_.begin(), cards_.end()}, [this](int index) { chooseFont(cards_[size_t(index)]->signatureFont().id()); },
        this);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    column->addLayout(grid);
    column->addStretch(1);
    return area;
}

void SignatureSheet::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (nameSet_) return;
    nameSet_ = true;
    nameField_->setText(defaultName(kind_, fullName_));
}

QString SignatureSheet::name() const { return nameField_->text(); }

void SignatureSheet::setKind(Signature::Kind kind)
{
    if (kind == kind_) return;
    const Signature::Kind old = kind_;
    kind_ = kind;
    // A name the user has not edited follows the kind; an edited one stays.
    if (nameSet_ && name() == defaultName(old, fullName_)) nameField_->setText(defaultName(kind, fullName_));
    setError(std::nullopt);
    refresh();
}

void SignatureSheet::setMode(Mode mode)
{
    if (mode == mode_) return;
    mode_ = mode;
    setError(std::nullopt);
    refresh();
    if (mode == Mode::type) {
        // Selected, so that typing replaces the name filled in for the user.
        nameField_->setFocus(Qt::OtherFocusReason);
        nameField_->selectAll();
    }
}

void SignatureSheet::chooseFont(const std::string& id)
{
    fontId_ = id;
    refresh();
}

std::optional<SignatureFont> SignatureSheet::selectedFont() const
{
    for (const SignatureFont& font : fonts_)
        if (fontId_ && font.id() == *fontId_) return font;
    if (fonts_.empty()) return std::nullopt;
    return fonts_.front();
}

bool SignatureSheet::canSave() const
{
    if (mode_ == Mode::draw) return !strokes_.empty();
    return selectedFont() && !name().trimmed().isEmpty();
}

void SignatureSheet::undoStroke()
{
    if (strokes_.empty()) return;
    strokes_.pop_back();
    pad_->setStrokes(strokes_);
    refresh();
}

void SignatureSheet::clearStrokes()
{
    strokes_.clear();
    pad_->setStrokes(strokes_);
    refresh();
}

void SignatureSheet::save()
{
    if (!canSave() || saved_) return;
    std::optional<Signature> signature;
    if (mode_ == Mode::draw) {
        signature = SignatureInk::drawn(strokes_, kind_, SignatureInk::padPenWidth);
    } else if (const auto font = selectedFont()) {
        signature = SignatureInk::typed(name().toStdString(), *font, kind_, SignatureInk::FillRule::nonZero);
    }
    if (!signature) {
        setError(mode_ == Mode::type ? tr("That name has nothing ravlen can draw.")
                                     : tr("Draw a little more, then save."));
        return;
    }
    try {
        onSave_(*signature);
    } catch (const quarnkit::SignatureStoreError& failure) {
        setError(failure.description());
        return;
    } catch (const std::exception& failure) {
        setError(QString::fromUtf8(failure.what()));
        return;
    }
    saved_ = true;
    accept();
}

void SignatureSheet::setError(std::optional<QString> message)
{
    if (message == error_) return;
    error_ = std::move(message);
    errorLabel_->setText(error_.value_or(QString()));
    errorLabel_->setVisible(error_.has_value());
}

void SignatureSheet::refresh()
{
    title_->setText(kind_ == Signature::Kind::signature ? tr("New signature") : tr("New initials"));
    setWindowTitle(title_->text());
    kindSwitch_->setSelection(kind_ == Signature::Kind::signature ? 0 : 1);
    modeSwitch_->setSelection(mode_ == Mode::draw ? 0 : 1);
    work_->setCurrentIndex(mode_ == Mode::draw ? 0 : 1);
    undoButton_->setVisible(mode_ == Mode::draw);
    clearButton_->setVisible(mode_ == Mode::draw);
    undoButton_->setEnabled(!strokes_.empty());
    clearButton_->setEnabled(!strokes_.empty());
    nameField_->setPlaceholderText(namePlaceholder(kind_));
    setReaderName(nameField_, namePlaceholder(kind_));
    const QString trimmed = name().trimmed();
    const QString placeholder = kind_ == Signature::Kind::signature ? tr("Your name") : QStringLiteral("YN");
    for (SignatureFontCard* card : cards_) {
        card->setPreview(trimmed.isEmpty() ? placeholder : trimmed, trimmed.isEmpty());
        card->setChecked(fontId_ && card->signatureFont().id() == *fontId_);
    }
    const bool can = canSave();
    saveButton_->setEnabled(can);
    static_cast<QGraphicsOpacityEffect*>(saveButton_->graphicsEffect())->setOpacity(can ? 1.0 : 0.45);
    drawArea_->update();
}

// ---------------------------------------------------------------- font cards

SignatureFontCard::SignatureFontCard(const SignatureFont& font, QWidget* parent)
    : QAbstractButton(parent), font_(font), family_(familyOf(font))
{
    setCursor(Qt::PointingHandCursor);
    // Tab reaches the chosen card (ChoiceGroup); a click leaves the focus where it was.
    setFocusPolicy(Qt::TabFocus);
    // One choice among the fonts: a reader hears which is chosen.
    setCheckable(true);
    exposeAsChoice(this);
    setAccessibleName(QString::fromStdString(font.name));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(58 + 5 + QFontMetrics(uiFont(11, QFont::DemiBold)).height());
}

QSize SignatureFontCard::sizeHint() const { return {240, height()}; }

void SignatureFontCard::setPreview(const QString& text, bool placeholder)
{
    if (text == preview_ && placeholder == placeholder_) return;
    preview_ = text;
    placeholder_ = placeholder;
    update();
}

void SignatureFontCard::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box(0, 0, width(), 58);
    signview::fillRounded(p, box, 4, D::paper());
    signview::strokeRoundedInside(p, box, 4, 2, isChecked() ? D::accent() : QColor(Qt::transparent));

    // 30 points, scaled down to as little as 0.35 of that to fit on one line.
    QFont face(family_);
    face.setPixelSize(30);
    const double room = box.width() - 24;
    const double natural = QFontMetricsF(face).horizontalAdvance(preview_);
    if (natural > room && natural > 0) face.setPixelSize(std::max(1, int(30 * std::max(0.35, room / natural))));
    p.setFont(face);
    p.setPen(placeholder_ ? QColor::fromRgbF(0, 0, 0, 0.25f) : quarnkit::SignatureInk::color.toQColor());
    p.save();
    p.setClipRect(box.adjusted(12, 0, -12, 0));
    p.drawText(box.adjusted(12, 0, -12, 0), Qt::AlignCenter | Qt::TextSingleLine, preview_);
    p.restore();

    p.setFont(uiFont(11, isChecked() ? QFont::DemiBold : QFont::Normal));
    p.setPen(isChecked() ? D::paper() : shelltext::secondary());
    p.drawText(QRectF(0, 58 + 5, width(), height() - 63), Qt::AlignLeft | Qt::AlignTop,
               QString::fromStdString(font_.name));
}

} // namespace quarn
