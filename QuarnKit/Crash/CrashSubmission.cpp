#include "QuarnKit/Crash/CrashSubmission.h"

#include <algorithm>
#include <set>

namespace quarnkit {

using nlohmann::json;

namespace {

template <size_t N>
bool isOneOf(const std::array<const char*, N>& keys, const std::string& key)
{
    return std::any_of(keys.begin(), keys.end(), [&](const char* k) { return key == k; });
}

std::string written(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

} // namespace

RawReport::RawReport(json header_, json body_, std::int64_t crashedThread_)
    : header(std::move(header_)), body(std::move(body_)), crashedThread(crashedThread_)
{
    for (const char* key : leadingKeys)
        if (body.contains(key)) order.push_back(key);
    for (const auto& [key, value] : body.items()) // sorted by UTF-8 bytes, which is code point order
        if (!isOneOf(leadingKeys, key) && !isOneOf(trailingKeys, key)) order.push_back(key);
    for (const char* key : trailingKeys)
        if (body.contains(key)) order.push_back(key);
}

std::string RawReport::render() const
{
    std::string members;
    for (const std::string& key : order) {
        const auto it = body.find(key);
        if (it == body.end()) continue;
        if (!members.empty()) members += ",\n";
        members += "  " + written(json(key)) + " : " + written(*it);
    }
    return written(header) + "\n{\n" + members + "\n}\n";
}

bool RawReport::shrink()
{
    if (!order.empty() && !isOneOf(leadingKeys, order.back())) {
        order.pop_back();
        return true;
    }
    const auto threads = body.find("threads");
    if (threadsCut || threads == body.end() || !threads->is_array() || threads->size() < 2) return false;
    threadsCut = true;
    json kept = json::array();
    if (crashedThread >= 0 && crashedThread < std::int64_t(threads->size()))
        kept.push_back((*threads)[size_t(crashedThread)]);
    *threads = std::move(kept);
    return true;
}

CrashSubmission::CrashSubmission(const IPSReport& report, const CrashRedactor& redactor)
    : header_(redactor.redact(report.header.fields)), body_(redactor.redact(report.body))
{
    if (!header_.is_object() || !body_.is_object()) throw CrashReportFailure(CrashReportError::unreadable);
    payload_ = CrashPayload::fromReport(header_, body_);
}

QByteArray CrashSubmission::encoded(qint64 limit) const
{
    RawReport working(header_, body_, payload_.crash.crashedThread);
    CrashPayload p = payload_;
    p.raw = QString::fromStdString(working.render());
    QByteArray bytes = p.encoded();
    while (bytes.size() > limit && p.raw) {
        if (working.shrink()) p.raw = QString::fromStdString(working.render());
        else p.raw.reset();
        bytes = p.encoded();
    }
    while (bytes.size() > limit && p.crash.frames.size() >= 2) {
        // The innermost half stays, with the images it still uses.
        p.crash.frames.resize(p.crash.frames.size() - p.crash.frames.size() / 2);
        std::set<QString> used;
        for (const CrashPayload::Frame& frame : p.crash.frames) used.insert(frame.imageUUID);
        std::erase_if(p.crash.images, [&](const CrashPayload::Image& image) { return !used.count(image.uuid); });
        bytes = p.encoded();
    }
    return bytes;
}

} // namespace quarnkit
