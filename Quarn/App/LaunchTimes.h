#pragma once
// Where a launch spends its time, for the launch benchmark: when the
// environment names a file in RAVLEN_LAUNCH_TIMES, each stage's first moment
// (the monotonic clock, in nanoseconds) is added to it as "STAGE NS".
// Without it, marking costs one branch.
namespace quarn::launchTimes {

// The stages, in order: main entered (libraries loaded), application made,
// first window shown, first page painted with all its tiles.
void mark(const char* stage);

} // namespace quarn::launchTimes
