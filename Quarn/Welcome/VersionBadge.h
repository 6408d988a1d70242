#pragma once
// The last item of the welcome window's footer: the running version, or,
// while the updater offers or installs a release, that news in the accent
// colour. Either way a button that shows the Software Update window.
#include "Quarn/Design/ChromeButtons.h"

#include <QPointer>

#include <functional>

namespace quarn {

class UpdateController;

class VersionBadge : public ChromeButton {
    Q_OBJECT
public:
    // Without `updates` the badge shows the version alone. `showUpdates` runs
    // on a click.
    VersionBadge(UpdateController* updates, std::function<void()> showUpdates, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void follow();

    QPointer<UpdateController> updates_;
    std::function<void()> showUpdates_;
    bool news_ = false; // the badge tells of a release
};

} // namespace quarn
