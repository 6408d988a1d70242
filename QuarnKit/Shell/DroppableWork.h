#pragma once
// Work that quitting may drop: whatever is done for the screen alone (a
// thumbnail, a list's rows, fonts looked up ahead, the desktop's settings, a
// folder to start a dialog in) and whatever the next launch does again (the
// crash reports' scan, stale update folders). It runs on a pool of its own:
// quitting drops what has not started and asks what runs to stop at its next
// check of stopping(). Work that writes a user's file never runs here; it
// stays on the global pool, which quitting waits for.
#include <QThreadPool>

#include <atomic>
#include <functional>

namespace quarnkit {

class DroppableWork {
public:
    DroppableWork();
    // The application's own; never destroyed, so that a worker still caught
    // in a file (a mount that stopped answering) cannot hold the exit.
    static DroppableWork& shared();

    QThreadPool* pool() { return &pool_; }
    // Work of a higher `priority` starts before the queued work of a lower one.
    void start(std::function<void()> work, int priority = 0);
    // True once drop() was called: long work returns at its next item.
    bool stopping() const { return stopping_; }
    // Drops the work not started and asks the rest to stop; afterwards
    // nothing starts. True when the work running has ended within `waitMs`.
    bool drop(int waitMs);

private:
    QThreadPool pool_;
    std::atomic<bool> stopping_{false};
};

} // namespace quarnkit
