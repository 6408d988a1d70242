#include "Quarn/Update/UpdateViews.h"

#include "Quarn/Design/AccessibleRoles.h"
#include "Quarn/Design/AccessibleHeading.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Shell/ShellText.h"
#include "QuarnKit/Shell/Design.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QVBoxLayout>

#include <cmath>

namespace quarn {

namespace D = quarnkit::Design;

namespace {

// The notes' column: the panel's 412 less the dot and its gap.
constexpr int noteWidth = 460 - 48 - 5 - 9;

// `text` broken into the lines it takes at `width`, at most `lines` of them,
// the last cut with an ellipsis when more would follow. The breaks are made
// here, so a long word breaks too instead of widening the window.
QString clampToLines(const QString& text, const QFont& font, int width, int lines)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList shown;
    int lastStart = 0;
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        if (shown.size() == lines) {
            // More follows: the last line shown takes the rest, cut to fit.
            shown.last() = QFontMetrics(font).elidedText(text.mid(lastStart).simplified(), Qt::ElideRight, width);
            break;
        }
        lastStart = line.textStart();
        shown << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return shown.join(u'\n');
}

// A note's dot: 5 points across, in the accent, at the foot of its box.
class NoteDot : public QWidget {
public:
    explicit NoteDot(int height)
    {
        setFixedSize(5, height);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(D::accent());
        p.drawEllipse(QRectF(0, height() - 6, 5, 5));
    }
};

} // namespace

// ---------------------------------------------------------------- release notes

ReleaseNotes::ReleaseNotes(QWidget* parent) : QWidget(parent)
{
    rows_ = new QVBoxLayout(this);
    rows_->setContentsMargins(0, 0, 0, 0);
    rows_->setSpacing(6);
    QFont headingFont = uiFont(13, QFont::DemiBold);
    headingFont.setFamilies({QStringLiteral("serif")});
    rows_->addWidget(
        shelltext::label<HeadingLabel>(QStringLiteral("What's new"), headingFont, withOpacity(D::paper(), 0.7)));
}

void ReleaseNotes::setNotes(const QStringList& notes)
{
    if (notes == notes_) return;
    notes_ = notes;
    while (rows_->count() > 1) {
        QLayoutItem* item = rows_->takeAt(1);
        delete item->widget();
        delete item;
    }
    const QFont font = uiFont(13);
    for (const QString& note : notes.mid(0, shownNotes)) {
        auto* row = new QWidget;
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(9);
        // The dot sits just above the baseline of the note's first line.
        line->addWidget(new NoteDot(QFontMetrics(font).ascent() + 1), 0, Qt::AlignTop);
        QLabel* text =
            shelltext::label(clampToLines(note, font, noteWidth, linesPerNote), font, withOpacity(D::paper(), 0.88));
        line->addWidget(text, 1);
        rows_->addWidget(row);
    }
}

QStringList ReleaseNotes::shownTexts() const
{
    QStringList texts;
    for (int i = 1; i < rows_->count(); ++i)
        if (const QWidget* row = rows_->itemAt(i)->widget())
            if (const auto* text = row->findChild<QLabel*>()) texts << text->text();
    return texts;
}

// ---------------------------------------------------------------- progress

class DownloadProgress::Bar : public QWidget {
public:
    explicit Bar(QWidget* parent) : QWidget(parent) { setFixedHeight(4); }
    double fraction = 0;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(withOpacity(D::paper(), 0.08));
        p.drawRoundedRect(QRectF(rect()), 2, 2);
        p.setBrush(D::accent());
        p.drawRoundedRect(QRectF(0, 0, fillWidth(fraction, width()), height()), 2, 2);
    }
};

DownloadProgress::DownloadProgress(QWidget* parent) : QWidget(parent)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(7);
    bar_ = new Bar(this);
    column->addWidget(bar_);
    label_ = shelltext::label(QString(), uiFont(12), shelltext::secondary());
    column->addWidget(label_);
}

void DownloadProgress::set(double fraction, qint64 total, const std::optional<QString>& label)
{
    bar_->fraction = fraction;
    bar_->update();
    if (label) {
        label_->setText(*label);
    } else {
        const QLocale locale;
        const auto done = qint64(std::trunc(fraction * double(total)));
        label_->setText(QStringLiteral("Downloading… %1 of %2")
                            .arg(locale.formattedDataSize(done, 1, QLocale::DataSizeSIFormat),
                                 locale.formattedDataSize(total, 1, QLocale::DataSizeSIFormat)));
    }
    setReaderName(this, spokenValue(fraction));
}

QString DownloadProgress::labelText() const { return label_->text(); }

double DownloadProgress::fillWidth(double fraction, double barWidth)
{
    return std::max(4.0, barWidth * std::clamp(fraction, 0.0, 1.0));
}

QString DownloadProgress::spokenValue(double fraction)
{
    return QString::number(std::llround(fraction * 100)) + QStringLiteral(" percent");
}

// ---------------------------------------------------------------- info line

InfoLine::InfoLine(QWidget* parent) : QWidget(parent)
{
    auto* line = new QHBoxLayout(this);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(8);
    icon_ = new QLabel(this);
    const QFont font = uiFont(12);
    // As tall as the text's first line, so the symbol sits beside it.
    icon_->setFixedSize(13, QFontMetrics(font).height());
    icon_->setAlignment(Qt::AlignCenter);
    line->addWidget(icon_, 0, Qt::AlignTop);
    text_ = shelltext::label(QString(), font, withOpacity(D::paper(), 0.78));
    text_->setWordWrap(true);
    line->addWidget(text_, 1);
}

void InfoLine::set(const QString& symbol, const QString& text, const QColor& tint)
{
    symbol_ = symbol;
    icon_->setPixmap(symbolPixmap(symbol, QSize(12, 12), tint, devicePixelRatioF()));
    text_->setText(text);
}

QString InfoLine::text() const { return text_->text(); }

} // namespace quarn
