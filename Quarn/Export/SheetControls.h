#pragma once
// Small controls of the export sheet: the plain footer button of sheets and
// the thin progress bar, determinate or sweeping.
#include "Quarn/Design/ChromeButtons.h"

#include <QVariantAnimation>
#include <QWidget>

#include <optional>

namespace quarn {

// A plain button with a faint fill: 13 semibold paper text, 14 of room left
// and right, 26 high.
class SheetButton : public ChromeButton {
    Q_OBJECT
public:
    explicit SheetButton(const QString& title, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// 4 high: a track with an accent bar as long as the fraction (never thinner
// than 4), or without a fraction a segment sliding to and fro.
class ExportProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit ExportProgressBar(QWidget* parent = nullptr);
    std::optional<double> fraction() const { return fraction_; }
    void setFraction(std::optional<double> fraction);
    QSize sizeHint() const override { return {200, 4}; }
    // "42 percent", or "Working" while sweeping.
    QString valueText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::optional<double> fraction_;
    QVariantAnimation sweep_;
};

} // namespace quarn
