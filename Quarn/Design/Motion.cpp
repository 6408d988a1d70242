#include "Quarn/Design/Motion.h"
#include "QuarnKit/Shell/DroppableWork.h"

#include "QuarnKit/Shell/ReducedMotion.h"

#include <QTimer>

#include <atomic>

namespace quarn::motion {

namespace {

// The application-wide answer: 0 unknown, 1 full motion, 2 reduced.
std::atomic<int>& answer()
{
    static std::atomic<int> value{0};
    return value;
}

std::atomic<bool>& started()
{
    static std::atomic<bool> value{false};
    return value;
}

} // namespace

void readAtStart()
{
    if (started().exchange(true)) return;
    // Asking the desktop starts a process (gsettings): not while the first
    // window is being made and drawn, which needs no animation yet.
    QTimer::singleShot(250, [] {
        quarnkit::DroppableWork::shared().start([] {
            const bool reduced = quarnkit::ReducedMotion::readFromDesktop();
            int unknown = 0;
            answer().compare_exchange_strong(unknown, reduced ? 2 : 1);
        });
    });
}

void readNow()
{
    started() = true;
    answer() = quarnkit::ReducedMotion::readFromDesktop() ? 2 : 1;
}

bool reduced() { return answer() == 2; }

} // namespace quarn::motion
