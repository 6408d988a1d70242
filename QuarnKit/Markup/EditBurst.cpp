#include "QuarnKit/Markup/EditBurst.h"

namespace quarnkit {

bool EditBurst::continues(std::optional<EditBurst>& burst, const std::string& key, long long target,
                          Clock::time_point now)
{
    if (burst && burst->key == key && burst->target == target && now - burst->last < window) {
        burst->last = now;
        return true;
    }
    burst = EditBurst{key, target, now};
    return false;
}

} // namespace quarnkit
