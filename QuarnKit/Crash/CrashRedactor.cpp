#include "QuarnKit/Crash/CrashRedactor.h"

#include "Platform/UserAccount.h"
#include "QuarnKit/Shell/Blanks.h"

#include <QDir>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <array>
#include <optional>

namespace quarnkit {

using nlohmann::json;

namespace {

// A text as user-perceived characters, except that CR LF is two.
class Characters {
public:
    explicit Characters(const QString& text) : text_(text)
    {
        bounds_.push_back(0);
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
        for (qsizetype end = finder.toNextBoundary(); end > 0; end = finder.toNextBoundary()) {
            const qsizetype start = bounds_.back();
            if (end - start == 2 && text[start] == u'\r' && text[start + 1] == u'\n') bounds_.push_back(start + 1);
            bounds_.push_back(end);
        }
    }
    qsizetype size() const { return qsizetype(bounds_.size()) - 1; }
    bool is(qsizetype i, char16_t c) const
    {
        return i >= 0 && i < size() && bounds_[i + 1] - bounds_[i] == 1 && text_[bounds_[i]] == c;
    }
    bool isLetterOrNumber(qsizetype i) const
    {
        if (i < 0 || i >= size()) return false;
        const QChar c = text_[bounds_[i]];
        char32_t point = c.unicode();
        if (c.isHighSurrogate() && bounds_[i] + 1 < text_.size() && text_[bounds_[i] + 1].isLowSurrogate())
            point = QChar::surrogateToUcs4(c, text_[bounds_[i] + 1]);
        return QChar::isLetter(point) || QChar::isNumber(point);
    }
    bool spells(qsizetype i, std::u16string_view word) const
    {
        for (size_t k = 0; k < word.size(); ++k)
            if (!is(i + qsizetype(k), word[k])) return false;
        return true;
    }
    QString mid(qsizetype from, qsizetype to) const { return text_.mid(bounds_[from], bounds_[to] - bounds_[from]); }

private:
    const QString& text_;
    std::vector<qsizetype> bounds_;
};

qsizetype characterCount(const QString& text) { return Characters(text).size(); }

struct Delimiter {
    char16_t opener, closer;
    bool nests;
};
constexpr std::array<Delimiter, 8> closingDelimiters{{{u'"', u'"', false},
                                                      {u'\'', u'\'', false},
                                                      {u'\u201C', u'\u201D', false},
                                                      {u'\u2018', u'\u2019', false},
                                                      {u'(', u')', true},
                                                      {u'[', u']', true},
                                                      {u'{', u'}', true},
                                                      {u'<', u'>', true}}};

// Folders whose paths name nothing of the user's: kept whole.
const std::array<QLatin1String, 17> systemPrefixes{QLatin1String("/System/Library/"),
                                                   QLatin1String("/System/iOSSupport/"),
                                                   QLatin1String("/System/Cryptexes/"),
                                                   QLatin1String("/usr/lib/"),
                                                   QLatin1String("/usr/libexec/"),
                                                   QLatin1String("/usr/bin/"),
                                                   QLatin1String("/usr/sbin/"),
                                                   QLatin1String("/usr/share/"),
                                                   QLatin1String("/bin/"),
                                                   QLatin1String("/sbin/"),
                                                   QLatin1String("/Library/Apple/"),
                                                   QLatin1String("/private/var/db/"),
                                                   QLatin1String("/private/tmp/*/"),
                                                   QLatin1String("/tmp/*/"),
                                                   QLatin1String("/lib/"),
                                                   QLatin1String("/lib64/"),
                                                   QLatin1String("/usr/lib64/")};
const std::array<QLatin1String, 6> bundleMarkers{QLatin1String(".app/"),       QLatin1String(".appex/"),
                                                 QLatin1String(".framework/"), QLatin1String(".bundle/"),
                                                 QLatin1String(".xpc/"),       QLatin1String(".plugin/")};
const std::array<QLatin1String, 3> applicationFolders{QLatin1String("/Applications/"), QLatin1String("~/Applications/"),
                                                      QLatin1String("/System/Applications/")};

const QString pathMark = QStringLiteral("<path>");

// A library's name: ".app", ".dylib", ".so", or ".so" with version numbers
// (".so.6", ".so.6.4.2").
bool endsLikeLibrary(const QString& head)
{
    if (head.endsWith(QLatin1String(".app")) || head.endsWith(QLatin1String(".dylib"))) return true;
    static const QRegularExpression sharedObject(QStringLiteral("\\.so(\\.[0-9]+)*$"));
    return sharedObject.match(head).hasMatch();
}

// A "." followed by 1 to 8 letters or numbers and then by something more.
bool holdsEmbeddedExtension(const QString& text)
{
    const Characters c(text);
    for (qsizetype i = 0; i < c.size(); ++i) {
        if (!c.is(i, u'.')) continue;
        qsizetype run = 0;
        while (c.isLetterOrNumber(i + 1 + run)) ++run;
        if (run >= 1 && run <= 8 && i + 1 + run < c.size()) return true;
    }
    return false;
}

qsizetype earliestMarker(const QString& text)
{
    qsizetype earliest = -1;
    for (const QLatin1String marker : bundleMarkers) {
        const qsizetype at = text.indexOf(marker);
        if (at >= 0 && (earliest < 0 || at < earliest)) earliest = at;
    }
    return earliest;
}

// Folders whose next name is a person's: a library or bundle kept under one
// of them would still name its owner once the home pass has run.
const std::array<QLatin1String, 6> personalFolders{QLatin1String("/home/"),      QLatin1String("/Users/"),
                                                   QLatin1String("/root/"),      QLatin1String("/media/"),
                                                   QLatin1String("/run/media/"), QLatin1String("/var/home/")};

// What a path token becomes when it may stay: itself in a system or
// application folder, or when it names a library or bundle; of a library or
// bundle inside another person's folder, "<path>/" and the part from its name
// on. None when it goes entirely.
std::optional<QString> keptForm(const QString& token)
{
    QString t = trimmedBlanks(token);
    qsizetype skipped = 0; // the token starts with its first character: only the end is trimmed
    if (t.startsWith(QLatin1String("file://"))) {
        t = t.mid(7);
        skipped = 7;
    }
    const qsizetype space = t.indexOf(u' ');
    const QString head = space < 0 ? t : t.left(space);
    for (const QLatin1String prefix : systemPrefixes)
        if (head.startsWith(prefix)) return token;
    qsizetype nameEnd = earliestMarker(head);
    if (nameEnd < 0 && endsLikeLibrary(head)) nameEnd = head.size();
    if (nameEnd >= 0) {
        const bool personal = std::any_of(personalFolders.begin(), personalFolders.end(),
                                          [&](QLatin1String folder) { return head.startsWith(folder); });
        if (!personal) return token;
        const qsizetype nameStart = nameEnd > 0 ? head.lastIndexOf(u'/', nameEnd - 1) + 1 : 0;
        return pathMark + u'/' + token.mid(skipped + nameStart);
    }
    for (const QLatin1String folder : applicationFolders)
        if (t.startsWith(folder)) {
            const qsizetype marker = earliestMarker(t);
            if (marker >= 0 && !holdsEmbeddedExtension(t.left(marker))) return token;
            break;
        }
    return std::nullopt;
}

// Where a path may start: "/" before a letter, a number, ".", "_" or "*";
// "~/"; "file://". Never right after a letter or a number, nor after "/*"
// (a folder the redactor has already generalised).
bool startsToken(const Characters& c, qsizetype i)
{
    if (i > 0 && (c.isLetterOrNumber(i - 1) || (c.is(i - 1, u'*') && c.is(i - 2, u'/')))) return false;
    if (c.is(i, u'/')) return c.isLetterOrNumber(i + 1) || c.is(i + 1, u'.') || c.is(i + 1, u'_') || c.is(i + 1, u'*');
    if (c.is(i, u'~')) return c.is(i + 1, u'/');
    return c.spells(i, u"file://");
}

// The end of a start's own opening ("/", "~/", "file://" with the root after
// it), inside which no other token starts.
qsizetype openingEnd(const Characters& c, qsizetype i)
{
    if (c.is(i, u'~')) return i + 2;
    if (!c.is(i, u'f')) return i + 1;
    const qsizetype root = i + 7;
    if (c.spells(root, u"~/")) return root + 2;
    return c.is(root, u'/') ? root + 1 : root;
}

} // namespace

CrashRedactor::CrashRedactor(const QString& home, const QString& userName, const QString& fullName)
{
    QString base = home;
    if (base.endsWith(u'/')) base.chop(1);
    QStringList roots;
    if (base.size() >= 2)
        roots << base << QStringLiteral("/private") + base << QStringLiteral("/System/Volumes/Data") + base;
    if (!userName.isEmpty()) roots << QStringLiteral("/Users/") + userName << QStringLiteral("/home/") + userName;
    roots.removeDuplicates();
    std::stable_sort(roots.begin(), roots.end(),
                     [](const QString& a, const QString& b) { return a.size() > b.size(); });
    for (const QString& root : roots) {
        QRegularExpression expression(QRegularExpression::escape(root) + QStringLiteral("(?![A-Za-z0-9._-])"));
        if (!expression.isValid()) continue;
        expression.optimize();
        homeRoots_.push_back({root, expression});
    }

    QStringList names;
    for (const QString& name : {fullName, userName})
        if (characterCount(name) > 2) names << name;
    std::stable_sort(names.begin(), names.end(),
                     [](const QString& a, const QString& b) { return characterCount(a) > characterCount(b); });
    for (const QString& name : names) {
        QRegularExpression expression(QStringLiteral("(?<![\\p{L}\\p{N}_])") + QRegularExpression::escape(name)
                                          + QStringLiteral("(?![\\p{L}\\p{N}_])"),
                                      QRegularExpression::CaseInsensitiveOption);
        if (!expression.isValid()) continue;
        expression.optimize();
        names_.push_back({name, expression});
    }
}

CrashRedactor CrashRedactor::forCurrentUser()
{
    return CrashRedactor(QDir::homePath(), platform::loginName(), platform::fullUserName());
}

const std::set<std::string>& CrashRedactor::droppedKeys()
{
    static const std::set<std::string> keys{
        "crashReporterKey",          "sleepWakeUUID", "bootSessionUUID", "userID",
        "deviceIdentifierForVendor", "storeInfo",     "trialInfo",       "logWritingSignature"};
    return keys;
}

json CrashRedactor::redact(const json& value) const
{
    switch (value.type()) {
    case json::value_t::object: {
        // Keys are the report format's own words, never the user's: scrubbing
        // them would turn a key equal to the login name ("name", "code",
        // "build") into "user" and lose the value's meaning.
        json result = json::object();
        for (const auto& [key, member] : value.items())
            if (!droppedKeys().count(key)) result.emplace(key, redact(member));
        return result;
    }
    case json::value_t::array: {
        json result = json::array();
        for (const json& element : value) result.push_back(redact(element));
        return result;
    }
    case json::value_t::string: return scrub(QString::fromStdString(value.get_ref<const std::string&>())).toStdString();
    default: return value;
    }
}

QString CrashRedactor::scrub(const QString& input) const
{
    QString text = input;
    for (const Pattern& root : homeRoots_)
        if (text.contains(root.text)) text.replace(root.expression, QStringLiteral("~"));
    for (const Pattern& name : names_)
        if (text.contains(name.text, Qt::CaseInsensitive)) text.replace(name.expression, QStringLiteral("user"));
    if (!text.contains(u'/')) return text;
    static const QRegularExpression varFolders(QStringLiteral("(?:/private)?/var/folders/[^/\\s]+/[^/\\s]+/"));
    static const QRegularExpression runtimeFolder(QStringLiteral("/run/user/[0-9]+/"));
    if (text.contains(QLatin1String("/var/folders/"))) text.replace(varFolders, QStringLiteral("/var/folders/*/"));
    if (text.contains(QLatin1String("/run/user/"))) text.replace(runtimeFolder, QStringLiteral("/run/user/*/"));
    return scrubPaths(text);
}

QString CrashRedactor::scrubPaths(const QString& text)
{
    const Characters c(text);
    std::vector<qsizetype> starts;
    for (qsizetype i = 0; i < c.size();) {
        if (startsToken(c, i)) {
            starts.push_back(i);
            i = openingEnd(c, i);
        } else {
            ++i;
        }
    }
    if (starts.empty()) return text;

    QString result;
    qsizetype previousEnd = 0;
    for (size_t k = 0; k < starts.size(); ++k) {
        const qsizetype start = starts[k];
        result += c.mid(previousEnd, start);
        const qsizetype limit = k + 1 < starts.size() ? starts[k + 1] : c.size();
        const Delimiter* delimiter = nullptr;
        if (start > 0)
            for (const Delimiter& d : closingDelimiters)
                if (c.is(start - 1, d.opener)) delimiter = &d;
        qsizetype end = start;
        for (int depth = 0; end < limit; ++end) {
            if (c.is(end, u'\n') || c.is(end, u'\r')) break;
            if (!delimiter) continue;
            if (delimiter->nests && c.is(end, delimiter->opener)) {
                ++depth;
            } else if (c.is(end, delimiter->closer)) {
                // An apostrophe inside a word ("Tova's") does not close.
                const bool apostrophe = delimiter->closer == u'\'' || delimiter->closer == u'\u2019';
                if (apostrophe && c.isLetterOrNumber(end + 1)) continue;
                if (depth == 0) break;
                --depth;
            }
        }
        const QString token = c.mid(start, end);
        if (const auto kept = keptForm(token)) {
            result += *kept;
        } else {
            qsizetype blanks = token.size();
            while (blanks > 0 && (token[blanks - 1] == u' ' || token[blanks - 1] == u'\t')) --blanks;
            result += pathMark + token.mid(blanks);
        }
        previousEnd = end;
    }
    result += c.mid(previousEnd, c.size());
    return result;
}

} // namespace quarnkit
