#pragma once
// The design system's segmented control: one segment per option, the chosen
// one filled with the accent colour. Options are identified by their index in
// the list; the caller maps its own values onto them. A selection of -1 (or
// any index outside the list) shows every segment unchosen. The segments are
// a radio group (ChoiceGroup): Tab stops on the chosen one, where the control
// stands in the window's Tab order, and the arrows choose.
#include <QFont>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <optional>
#include <vector>

namespace quarn {

class ChoiceGroup;

class ChromeSegmented : public QWidget {
    Q_OBJECT
public:
    struct Option {
        QString title;
        QString symbol;            // empty: title only
        std::optional<QFont> font; // none: 12 px, semibold when chosen, else medium
    };

    explicit ChromeSegmented(QWidget* parent = nullptr);
    ChromeSegmented(const QStringList& titles, int selection, QWidget* parent = nullptr);

    void setOptions(std::vector<Option> options);
    int count() const { return int(options_.size()); }
    int selection() const { return selection_; }
    // Shows `index` as chosen; emits nothing.
    void setSelection(int index);
    QSize sizeHint() const override;

signals:
    // A click on a segment, also on the chosen one (the binding is set again).
    void selected(int index);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void rebuild();
    std::vector<Option> options_;
    int selection_ = -1;
    QPointer<ChoiceGroup> group_; // the segments' radio group, made anew with them
};

} // namespace quarn
