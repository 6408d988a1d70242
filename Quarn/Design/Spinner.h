#pragma once
// The small indeterminate spinner: a turning arc over a faint ring, shown
// while work of unknown length runs. It turns only while it is visible.
#include <QTimer>
#include <QWidget>

namespace quarn {

class Spinner : public QWidget {
    Q_OBJECT
public:
    // `side` in pixels; `label` is what screen readers say.
    Spinner(int side, const QString& label, QWidget* parent = nullptr);
    bool isTurning() const { return timer_.isActive(); }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer timer_;
    int angle_ = 0;
};

} // namespace quarn
