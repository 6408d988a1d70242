#pragma once
// The Explore panel's small controls: a filter chip and the layout that
// wraps a row of them onto as many lines as the column's width needs.
#include "Quarn/Design/ChromeButtons.h"

#include <QLayout>

#include <vector>

namespace quarn {

// A choice among a few (a location): its title on a faint rounded fill, in
// the accent colour when chosen. 22 high, 8 of room left and right.
class ChromeChip : public ChromeButton {
    Q_OBJECT
public:
    explicit ChromeChip(const QString& title, QWidget* parent = nullptr);
    bool isChosen() const { return chosen_; }
    void setChosen(bool chosen);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool chosen_ = false;
};

// Lays its items out left to right at their ideal sizes, `spacing` apart,
// starting a new line `lineSpacing` lower when the next item would pass the
// width; an item wider than the width gets a line of its own. Lines are
// left-aligned, items top-aligned within their line.
class FlowRow : public QLayout {
    Q_OBJECT
public:
    struct Row {
        std::vector<int> indices;
        int y = 0;
        int width = 0;
        int height = 0;

        friend bool operator==(const Row&, const Row&) = default;
    };
    // The lines for items of these sizes within `maxWidth` (negative: no limit).
    static std::vector<Row> rows(const std::vector<QSize>& sizes, int maxWidth, int spacing, int lineSpacing);

    FlowRow(int spacing, int lineSpacing, QWidget* parent = nullptr);
    ~FlowRow() override;

    void addItem(QLayoutItem* item) override;
    int count() const override { return int(items_.size()); }
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    Qt::Orientations expandingDirections() const override { return {}; }
    void setGeometry(const QRect& rect) override;

private:
    std::vector<QSize> sizes() const;

    int spacing_;
    int lineSpacing_;
    std::vector<QLayoutItem*> items_;
};

} // namespace quarn
