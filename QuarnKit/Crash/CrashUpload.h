#pragma once
// The wire rules of crash reporting: which endpoints a build sends reports
// to, and what an endpoint's answer means for a report. The endpoints come
// only from the build's Info.json ("RVCrashReportURLs"), never from the
// program's own data.
#include <nlohmann/json.hpp>

#include <QUrl>

#include <optional>
#include <vector>

namespace quarnkit {

enum class CrashUploadOutcome {
    sent,       // the report arrived: handled
    retryLater, // no endpoint took or refused it: on a first attempt it stays pending for one retry
    rejected,   // refused for good, or no body could be made: handled, never tried again
};

namespace CrashUpload {
// The https URLs with a host under "RVCrashReportURLs" (an array of texts),
// in order, duplicates kept; entries of any other kind are skipped.
std::vector<QUrl> endpoints(const nlohmann::json& info);
// An endpoint's answer: none (no HTTP answer) and 408, 429, 500 to 599 are
// passing trouble, 200 to 299 sent, any other status rejected.
CrashUploadOutcome outcome(std::optional<int> status);
} // namespace CrashUpload

} // namespace quarnkit
