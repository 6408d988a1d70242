#pragma once
// One crash report turned into the bytes that the upload sends: the report's
// header and body go through the redactor, the payload is built from what
// comes back, and, on request, encoded with a text copy of the redacted
// report, fitted under a byte limit by giving up the least important parts
// first: the body's sections from the last on (never the leading ones), then
// every thread but the crashed one, then the whole text copy, then the outer
// halves of the crashed thread's frames. Values; any thread.
#include "QuarnKit/Crash/CrashPayload.h"
#include "QuarnKit/Crash/CrashRedactor.h"
#include "QuarnKit/Crash/CrashReportFiles.h"

#include <nlohmann/json.hpp>

#include <array>
#include <string>
#include <vector>

namespace quarnkit {

// The working copy of the text copy while it is fitted.
struct RawReport {
    // Written first, never given up.
    static constexpr std::array<const char*, 20> leadingKeys{"incident",
                                                             "captureTime",
                                                             "procName",
                                                             "procPath",
                                                             "bundleInfo",
                                                             "osVersion",
                                                             "modelCode",
                                                             "cpuType",
                                                             "translated",
                                                             "procRole",
                                                             "exception",
                                                             "termination",
                                                             "asi",
                                                             "ktriageinfo",
                                                             "reportNotes",
                                                             "faultingThread",
                                                             "lastExceptionBacktrace",
                                                             "threads",
                                                             "usedImages",
                                                             "sharedCache"};
    // Written last, given up first.
    static constexpr std::array<const char*, 4> trailingKeys{"vmregioninfo", "instructionByteStream", "extMods",
                                                             "vmSummary"};

    // `order`: the leading keys present, the others sorted by code point, the trailing keys present.
    RawReport(nlohmann::json header, nlohmann::json body, std::int64_t crashedThread);
    // The header on one line, then the body with one member of `order` per line.
    std::string render() const;
    // Gives up one thing: the last key of `order` unless it is a leading one;
    // else, once, every thread but the crashed one (when there are 2 or more).
    // False when nothing is left to give up.
    bool shrink();

    nlohmann::json header;
    nlohmann::json body;
    std::int64_t crashedThread = 0;
    std::vector<std::string> order;
    bool threadsCut = false;
};

class CrashSubmission {
public:
    // Throws CrashReportFailure: unreadable when a redacted part is not an
    // object, incomplete when the report has no incident id.
    CrashSubmission(const IPSReport& report, const CrashRedactor& redactor);

    const CrashPayload& payload() const { return payload_; } // without "raw"
    const nlohmann::json& header() const { return header_; }
    const nlohmann::json& body() const { return body_; }

    // The payload with its text copy, fitted under `limit` bytes as far as
    // the steps go (one frame is always kept, so the bytes may be longer).
    // The same submission and limit always give the same bytes.
    QByteArray encoded(qint64 limit) const;

private:
    CrashPayload payload_;
    nlohmann::json header_;
    nlohmann::json body_;
};

} // namespace quarnkit
