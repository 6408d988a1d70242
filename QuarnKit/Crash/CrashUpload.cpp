#include "QuarnKit/Crash/CrashUpload.h"

#include "QuarnKit/Crash/CrashReportPolicy.h"
#include "QuarnKit/Update/UpdateFeed.h"

namespace quarnkit {

std::vector<QUrl> CrashUpload::endpoints(const nlohmann::json& info)
{
    std::vector<QUrl> urls;
    const auto list = info.is_object() ? info.find(CrashReportPreferences::endpointsKey) : info.end();
    if (!info.is_object() || list == info.end() || !list->is_array()) return urls;
    for (const nlohmann::json& item : *list) {
        if (!item.is_string()) continue;
        const QUrl url(QString::fromStdString(item.get<std::string>()), QUrl::StrictMode);
        if (isSecureURL(url)) urls.push_back(url);
    }
    return urls;
}

CrashUploadOutcome CrashUpload::outcome(std::optional<int> status)
{
    if (!status) return CrashUploadOutcome::retryLater;
    if (*status >= 200 && *status <= 299) return CrashUploadOutcome::sent;
    if (*status == 408 || *status == 429 || (*status >= 500 && *status <= 599)) return CrashUploadOutcome::retryLater;
    return CrashUploadOutcome::rejected;
}

} // namespace quarnkit
