#include "QuarnKit/Shell/DroppableWork.h"

#include <QCoreApplication>
#include <QThread>

namespace quarnkit {

DroppableWork::DroppableWork()
{
    // As many as the global pool: the work moved here was all on it.
    pool_.setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
}

DroppableWork& DroppableWork::shared()
{
    static DroppableWork* work = [] {
        auto* made = new DroppableWork;
        // As the global pool is: the application object waits for the work
        // still running as it goes, so that none outlives what it reads.
        // Quitting has dropped the work by then, or ended the process.
        qAddPostRoutine([] { shared().pool_.waitForDone(); });
        return made;
    }();
    return *work;
}

void DroppableWork::start(std::function<void()> work, int priority)
{
    if (stopping_) return;
    pool_.start(std::move(work), priority);
}

bool DroppableWork::drop(int waitMs)
{
    // Cleared first: work that sees the stop and ends must free no thread
    // for the work still queued.
    pool_.clear();
    stopping_ = true;
    return pool_.waitForDone(waitMs);
}

} // namespace quarnkit
