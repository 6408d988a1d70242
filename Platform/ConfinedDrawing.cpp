#include "Platform/ConfinedDrawing.h"

#include "Platform/FileDescriptor.h"

#include <mutex>
#include <set>

#include <poll.h>
#include <sys/eventfd.h>

namespace platform {

// A wake-up descriptor for each drawing under way, which abandonAll()
// signals.
struct ConfinedDrawing::Running {
    std::mutex mutex;
    std::set<int> wakes;
};

namespace {

// Holds a descriptor among those listed for as long as it lives.
class Listed {
public:
    Listed(std::mutex& mutex, std::set<int>& list, int fd) : mutex_(mutex), list_(list), fd_(fd)
    {
        std::lock_guard lock(mutex_);
        list_.insert(fd_);
    }
    ~Listed()
    {
        std::lock_guard lock(mutex_);
        list_.erase(fd_);
    }
    Listed(const Listed&) = delete;
    Listed& operator=(const Listed&) = delete;

private:
    std::mutex& mutex_;
    std::set<int>& list_;
    int fd_;
};

} // namespace

ConfinedDrawing::ConfinedDrawing(Settings settings)
    : settings_(std::move(settings)), running_(std::make_unique<Running>())
{}

ConfinedDrawing::~ConfinedDrawing() = default;

PageDrawing ConfinedDrawing::draw(int fd, int width, int height) const
{
    if (settings_.program.empty()) return {};
    const FileDescriptor wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (wake.fd < 0) return {};
    // Unlisted before the descriptor closes.
    const Listed listed(running_->mutex, running_->wakes, wake.fd);
    // One process a drawing: what one file does to a reader touches no other.
    MetadataReaderProcess reader(settings_.program, settings_.memory, false);
    if (!reader.beginDrawing(fd, width, height)) return {};
    const auto deadline = std::chrono::steady_clock::now() + settings_.timeout;
    for (;;) {
        if (auto drawing = reader.receiveDrawing()) return *drawing;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        // Too long, or called off: the reader is killed as it goes.
        if (left <= 0) return {};
        pollfd waits[] = {{reader.descriptor(), POLLIN, 0}, {wake.fd, POLLIN, 0}};
        ::poll(waits, 2, int(left));
        if (waits[1].revents) return {};
    }
}

void ConfinedDrawing::abandonAll()
{
    std::lock_guard lock(running_->mutex);
    const std::uint64_t one = 1;
    for (const int wake : running_->wakes) (void)!::write(wake, &one, sizeof one);
}

} // namespace platform
