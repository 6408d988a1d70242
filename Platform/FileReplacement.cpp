#include "Platform/FileReplacement.h"

#include "Platform/FileDescriptor.h"
#include "Platform/OwnFolders.h"
#include "Platform/PathWalk.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <utility>

#include <climits>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

[[noreturn]] void fail(const std::string& what, int error)
{
    throw PdfError(PdfErrorCode::io, what + ": " + std::strerror(error), error);
}

using Fd = FileDescriptor;

// While it lives, a write of this thread past the file-size limit fails with
// EFBIG, as one on a full disk fails, instead of ending the process (the
// default of SIGXFSZ) with the user's file cut short: the signal is held for
// the thread, and the one a failed write raised is taken before it is let go.
class FileSizeSignalHeld {
public:
    FileSizeSignalHeld()
    {
        ::sigemptyset(&signal_);
        ::sigaddset(&signal_, SIGXFSZ);
        ::pthread_sigmask(SIG_BLOCK, &signal_, &previous_);
    }
    ~FileSizeSignalHeld()
    {
        // One held by the caller already is the caller's to take.
        if (!::sigismember(&previous_, SIGXFSZ)) {
            const timespec none{0, 0};
            while (::sigtimedwait(&signal_, nullptr, &none) == SIGXFSZ) {}
        }
        ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    FileSizeSignalHeld(const FileSizeSignalHeld&) = delete;
    FileSizeSignalHeld& operator=(const FileSizeSignalHeld&) = delete;

private:
    sigset_t signal_{};
    sigset_t previous_{};
};

// Copies the whole of `from` to `to` (from offset 0); 0 or the errno.
int copyContents(int from, int to, off_t* copied)
{
    char buffer[1 << 16];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(from, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;
        if (const int error = writeAllAt(to, buffer, std::size_t(n), offset)) return error;
        offset += n;
    }
    *copied = offset;
    return 0;
}

// The last name of `path`.
std::string lastName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A new file beside `name` in the folder `folder` with a name nobody else
// uses; -1 with errno set.
int createSibling(int folder, const std::string& name, mode_t mode, std::string* made)
{
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", unsigned(random()));
        const std::string candidate = "." + name + "." + suffix;
        const int fd = ::openat(folder, candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            *made = candidate;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

// A rename is durable only once its folder is synced (through a descriptor
// of its own: the held one is O_PATH). A folder that cannot be read is not.
void syncFolder(int folder)
{
    const Fd readable(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (readable.fd >= 0 && ::fsync(readable.fd) != 0 && errno != EINVAL) fail("cannot sync the folder", errno);
}

// A new file made by createSibling, removed unless it is kept.
class Sibling {
public:
    Sibling(int folder, std::string name) : folder_(folder), name_(std::move(name)) {}
    ~Sibling() { remove(); }
    Sibling(const Sibling&) = delete;
    Sibling& operator=(const Sibling&) = delete;
    // Renames it over `name`, whatever is there; the errno of a failure, 0 once it is there.
    int renameOver(const std::string& name)
    {
        if (::renameat(folder_, name_.c_str(), folder_, name.c_str()) != 0) return errno;
        name_.clear();
        return 0;
    }
    // Puts it, the file `made`, at `name`, where there is nothing: EEXIST
    // when something took the name meanwhile, which stays and is not
    // followed. A file system that cannot rename so gives it a second name
    // there, which no name is written over either; one that cannot do that
    // either has the name made anew, and the file copied into it (`made`
    // then names that file).
    int renameToNew(const std::string& name, FileIdentity* made)
    {
        const bool neither = writeSeams().noExclusiveRename;
        int error = neither ? EINVAL : ::renameat2(folder_, name_.c_str(), folder_, name.c_str(), RENAME_NOREPLACE);
        if (error != 0 && !neither) error = errno;
        if (error == 0) {
            name_.clear();
            return 0;
        }
        if (error != EINVAL && error != ENOSYS) return error;
        error = neither ? EPERM : ::linkat(folder_, name_.c_str(), folder_, name.c_str(), 0);
        if (error != 0 && !neither) error = errno;
        if (error == 0) {
            remove();
            return 0;
        }
        if (error != EPERM && error != EOPNOTSUPP && error != ENOSYS) return error;
        return copyToNew(name, made);
    }
    // Makes `name` anew (O_EXCL: nothing there is followed nor written over)
    // and copies the file `made` into it.
    int copyToNew(const std::string& name, FileIdentity* made)
    {
        const Fd from(::openat(folder_, name_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (from.fd < 0 || ::fstat(from.fd, &st) != 0) return errno;
        if (FileIdentity::of(st) != *made) return EAGAIN;
        Fd to(::openat(folder_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (to.fd < 0 || ::fstat(to.fd, &st) != 0) return errno;
        off_t copied = 0;
        int error = copyContents(from.fd, to.fd, &copied);
        if (error == 0 && ::fsync(to.fd) != 0) error = errno;
        if (error == 0) error = to.close();
        if (error != 0) {
            // Only the file made here goes, while the name still holds it.
            struct stat there {};
            if (::fstatat(folder_, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0
                && FileIdentity::of(there) == FileIdentity::of(st))
                ::unlinkat(folder_, name.c_str(), 0);
            return error;
        }
        *made = FileIdentity::of(st);
        remove();
        return 0;
    }
    // Puts it at `name` in place of the file `judged`, in one step that
    // hands back what was there: that is removed when it is `judged`, and put
    // back otherwise (EAGAIN). EINVAL: the file system cannot exchange names.
    int exchangeFor(const std::string& name, FileIdentity judged)
    {
        if (writeSeams().namesNotExchanged) return EINVAL;
        if (::renameat2(folder_, name_.c_str(), folder_, name.c_str(), RENAME_EXCHANGE) != 0)
            return errno == ENOSYS ? EINVAL : errno;
        struct stat out {};
        if (::fstatat(folder_, name_.c_str(), &out, AT_SYMLINK_NOFOLLOW) == 0 && FileIdentity::of(out) != judged) {
            // Another file took the name while ours was written: it goes
            // back, and ours, at our name again, goes.
            if (::renameat2(folder_, name_.c_str(), folder_, name.c_str(), RENAME_EXCHANGE) != 0) {
                // It stays, under our name; ours keeps theirs.
                stranded_ = std::exchange(name_, std::string());
                return EIO;
            }
            return EAGAIN;
        }
        // What came out is the file judged (or nothing, removed meanwhile).
        remove();
        return 0;
    }

    void remove()
    {
        if (!name_.empty()) ::unlinkat(folder_, name_.c_str(), 0);
        name_.clear();
    }
    const std::string& name() const { return name_; }
    // Where the file that took the name is, when it could not be put back.
    const std::string& stranded() const { return stranded_; }

private:
    int folder_;
    std::string name_;
    std::string stranded_;
};

// Where the link at `path` leads, for the user to be told; empty when it
// cannot be read.
std::string linkLeadsTo(const std::string& path)
{
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n <= 0 || std::size_t(n) >= target.size()) return {};
    target.resize(std::size_t(n));
    if (target.front() == '/') return target;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? target : path.substr(0, slash + 1) + target;
}

const char* refusalOf(NameUse use)
{
    switch (use) {
    case NameUse::use: break;
    case NameUse::foreignLink: return " is a link another user made or could have put there";
    case NameUse::foreignFile: return " is another user's file in a folder others can write to";
    case NameUse::foreignSecondName: return " has a second name, in a folder where another user may make names";
    case NameUse::foreignFolder: return " is the user's file in a folder another user owns";
    }
    return "";
}

} // namespace

NameUse judgeName(uid_t user, const struct stat& entry, const struct stat& folder, bool inPlace,
                  bool hardLinksProtected, int folderFd)
{
    if (S_ISLNK(entry.st_mode))
        return mayFollowLink(user, entry, folder, folderFd) ? NameUse::use : NameUse::foreignLink;
    const bool shared = (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
    if (entry.st_uid != user && shared && entry.st_uid != folder.st_uid) return NameUse::foreignFile;
    if (!inPlace) return NameUse::use;
    const bool othersFolder = folder.st_uid != user && folder.st_uid != 0;
    // Who may make a name in the folder: its owner, and those it lets write
    // (in a sticky one too: a new name is no one's to remove).
    const bool othersMakeNames = othersFolder || (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (entry.st_nlink > 1 && entry.st_uid != folder.st_uid
        && (othersFolder || (othersMakeNames && entry.st_uid == user)))
        return NameUse::foreignSecondName;
    // Their other name may be gone by the time the names are counted.
    if (!hardLinksProtected && entry.st_uid == user && othersFolder) return NameUse::foreignFolder;
    return NameUse::use;
}

bool hardLinksProtected(const std::string& setting)
{
    const Fd fd(::open(setting.c_str(), O_RDONLY | O_CLOEXEC));
    char text[16] = {};
    const ssize_t n = fd.fd < 0 ? -1 : ::read(fd.fd, text, sizeof text - 1);
    if (n <= 0) return false;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return end != text && (*end == '\0' || *end == '\n') && value > 0;
}

WriteSeams& writeSeams()
{
    static WriteSeams seams;
    return seams;
}

ForeignName::ForeignName(NameUse use, std::string name, const std::string& path)
    : PdfError(use == NameUse::foreignLink ? PdfErrorCode::foreignLink : PdfErrorCode::foreignFile,
               path + refusalOf(use), EACCES),
      use_(use), name_(std::move(name))
{}

std::string HeldName::path() const { return folderPath == "/" ? "/" + name : folderPath + '/' + name; }

namespace {

// The walk of a path the user chose to write: links as mayFollowLink allows,
// and the last name's link that a question names.
WalkedPath walkChosen(const std::string& path, bool folder = false)
{
    WalkRules rules;
    rules.namedLastLink = !folder;
    WalkedPath walked = walkPath(folder ? path + "/." : path, rules);
    switch (walked.end) {
    case WalkedPath::End::reached: break;
    case WalkedPath::End::missing: fail("the folder " + walked.stoppedAt + " does not exist", ENOENT);
    case WalkedPath::End::notFolder: fail(walked.stoppedAt + " is not a folder", ENOTDIR);
    case WalkedPath::End::link: {
        ForeignName refused(NameUse::foreignLink, lastName(walked.stoppedAt), walked.stoppedAt);
        refused.setLeadsTo(linkLeadsTo(walked.stoppedAt));
        throw refused;
    }
    case WalkedPath::End::refused: fail("cannot reach " + walked.stoppedAt, EACCES);
    case WalkedPath::End::failed: fail("cannot reach " + walked.stoppedAt, walked.error);
    }
    if (walked.name.empty() != folder) fail(walked.folderPath + " is a folder", EISDIR);
    return walked;
}

} // namespace

HeldName reachChosenFolder(const std::string& path)
{
    WalkedPath walked = walkChosen(path, true);
    return {std::move(walked.folder), std::move(walked.folderPath), {}};
}

ChosenFile::ChosenFile(HeldName held, std::string chosenPath, FileIdentity meant)
    : held_(std::move(held)), chosenPath_(std::move(chosenPath)), meant_(meant)
{}

ChosenFile::ChosenFile(const ChosenFile& other)
    : held_{Fd(::fcntl(other.held_.folder.fd, F_DUPFD_CLOEXEC, 0)), other.held_.folderPath, other.held_.name},
      chosenPath_(other.chosenPath_), meant_(other.meant_), link_(other.link_)
{
    if (held_.folder.fd < 0) fail("cannot hold the folder", errno);
}

ChosenFile& ChosenFile::operator=(const ChosenFile& other)
{
    if (this != &other) *this = ChosenFile(other);
    return *this;
}

std::optional<ChosenFile> ChosenFile::ask(const std::string& path, const Question& question)
{
    WalkedPath walked = walkChosen(path);
    ChosenFile file({std::move(walked.folder), std::move(walked.folderPath), std::move(walked.name)}, path, {});
    if (walked.namedLink)
        file.link_ = NamedLink{FileIdentity::of(walked.namedLink->folder), FileIdentity::of(walked.namedLink->link),
                               walked.namedLink->target};
    struct stat there {};
    const bool exists = file.lookAt(&there);
    if (exists) {
        file.checkExisting(there);
        file.meant_ = FileIdentity::of(there);
    } else {
        file.check();
    }
    // A link at the name is named, with where it leads.
    const bool link = walked.lastNameLinked;
    if ((exists || link) && (!question || !question(NameSeen{path, exists, link, link ? file.path() : std::string()})))
        return std::nullopt;
    return file;
}

ChosenFile ChosenFile::expecting(const std::string& path, FileIdentity meant)
{
    WalkedPath walked = walkChosen(path);
    ChosenFile file({std::move(walked.folder), std::move(walked.folderPath), std::move(walked.name)}, path, meant);
    if (walked.namedLink)
        file.link_ = NamedLink{FileIdentity::of(walked.namedLink->folder), FileIdentity::of(walked.namedLink->link),
                               walked.namedLink->target};
    return file;
}

void ChosenFile::confirmPlace() const
{
    std::optional<WalkedPath> again;
    try {
        again = walkChosen(chosenPath_);
    } catch (const PdfError&) {}
    struct stat held {};
    const auto linkNow = [&]() -> std::optional<NamedLink> {
        if (!again->namedLink) return std::nullopt;
        return NamedLink{FileIdentity::of(again->namedLink->folder), FileIdentity::of(again->namedLink->link),
                         again->namedLink->target};
    };
    if (again && ::fstat(held_.folder.fd, &held) == 0 && FileIdentity::of(again->folderStat) == FileIdentity::of(held)
        && again->name == held_.name && linkNow() == link_)
        return;
    throw PdfError(PdfErrorCode::fileReplaced,
                   chosenPath_ + " no longer leads where it did when the question was asked", EAGAIN);
}

bool ChosenFile::lookAt(struct stat* entry) const
{
    if (::fstatat(folder(), name().c_str(), entry, AT_SYMLINK_NOFOLLOW) == 0) return true;
    if (errno != ENOENT) fail("cannot reach " + path(), errno);
    return false;
}

void ChosenFile::checkExisting(const struct stat& entry) const
{
    struct stat folder {};
    if (::fstat(this->folder(), &folder) != 0) fail("cannot reach the folder", errno);
    if (const NameUse use = judgeName(::geteuid(), entry, folder, false, true, this->folder()); use != NameUse::use)
        throw ForeignName(use, name(), path());
    // The walk followed every link: one here now was put in since.
    if (S_ISLNK(entry.st_mode)) fail(path() + " changed into a link while it was written", ELOOP);
    if (S_ISDIR(entry.st_mode)) fail("the path is a folder", EISDIR);
    if (!S_ISREG(entry.st_mode)) fail("not a regular file", EINVAL);
    // A read-only file stays read-only: it is refused, not made writable
    // (also for root, who could write it: a mode without write bits is intent).
    if ((entry.st_mode & 0222) == 0) fail("the file is read-only", EACCES);
    if (::faccessat(this->folder(), name().c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
        fail("cannot write the file", errno);
}

void ChosenFile::check() const
{
    struct stat entry {};
    if (lookAt(&entry)) return checkExisting(entry);
    if (::faccessat(folder(), ".", W_OK, AT_EACCESS) != 0) fail("cannot create a file in the folder", errno);
}

int ChosenFile::openForReading() const { return ::openat(folder(), name().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC); }

int writeAllAt(int fd, const void* data, std::size_t size, off_t offset)
{
    const char* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, bytes + done, size - done, offset + off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return ENOSPC;
        done += std::size_t(n);
    }
    return 0;
}

int openPrivateScratchFile()
{
    // Where the work folder is made (temporaryFolder): a copy in a folder
    // another user can change, or on their way to it, is theirs to read.
    // /tmp too when nothing can be made there.
    int error = EACCES;
    for (const std::string& folder : {temporaryFolder(), std::string("/tmp")}) {
        if (folder.empty()) continue;
        const WalkedPath walked = walkOwnPath(folder + "/.");
        if (walked.end != WalkedPath::End::reached) continue;
        int fd = ::openat(walked.folder.fd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0) return fd;
        // No unnamed files there: a name of its own, gone at once.
        std::random_device numbers;
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            const std::string name = "ravlen-" + std::to_string(numbers()) + ".tmp";
            fd = ::openat(walked.folder.fd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd >= 0) ::unlinkat(walked.folder.fd, name.c_str(), 0);
            else if (errno != EEXIST) break;
        }
        if (fd >= 0) return fd;
        error = errno;
    }
    errno = error;
    return -1;
}

namespace {

[[noreturn]] void failReplaced(const ChosenFile& file)
{
    throw PdfError(PdfErrorCode::fileReplaced, file.path() + " is another file than the one the document was saved to",
                   EAGAIN);
}

FileIdentity writeInPlace(const ChosenFile& file, const struct stat& before, const ContentsWriter& write,
                          const std::function<void(const std::string&)>& beforeInPlace)
{
    Fd copy(openPrivateScratchFile());
    if (copy.fd < 0) fail("cannot make a copy of the file", errno);
    Fd target(::openat(file.folder(), file.name().c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (target.fd < 0) {
        const int error = errno;
        // Another file there now is said to be one, not one we may not write.
        struct stat there = {};
        if (file.lookAt(&there) && FileIdentity::of(there) != FileIdentity::of(before))
            throw PdfError(PdfErrorCode::fileReplaced, file.path() + " was replaced while it was written", EAGAIN);
        fail("cannot write the file", error);
    }
    if (writeSeams().afterInPlaceOpen) writeSeams().afterInPlaceOpen();
    // Judged on the descriptor written, whatever the name holds by now.
    struct stat now = {}, folder = {};
    if (::fstat(target.fd, &now) != 0 || ::fstat(file.folder(), &folder) != 0) fail("cannot reach the file", errno);
    if (file.meant() != FileIdentity::of(now)) failReplaced(file);
    if (now.st_dev != before.st_dev || now.st_ino != before.st_ino)
        throw PdfError(PdfErrorCode::fileReplaced, file.path() + " was replaced while it was written", EAGAIN);
    // Written in place, a name another user made would lead the write into
    // the file it names.
    if (const NameUse use =
            judgeName(::geteuid(), now, folder, true, hardLinksProtected(writeSeams().hardLinkSetting), file.folder());
        use != NameUse::use)
        throw ForeignName(use, file.name(), file.path());
    off_t originalSize = 0;
    // The copy is complete before the file is touched: a full disk stops here.
    if (const int error = copyContents(target.fd, copy.fd, &originalSize))
        fail("cannot make a copy of the file", error);
    if (beforeInPlace) beforeInPlace("/proc/self/fd/" + std::to_string(copy.fd));

    // The old bytes go back over the new ones, into room the new ones took.
    const auto restore = [&]() -> int {
        off_t restored = 0;
        if (const int error = copyContents(copy.fd, target.fd, &restored)) return error;
        if (::ftruncate(target.fd, originalSize) != 0 || ::fsync(target.fd) != 0) return errno;
        return 0;
    };
    const auto failAndRestore = [&](int error) {
        if (const int restoreError = restore())
            fail(std::string("cannot write the file (") + std::strerror(error) + "), nor put its old contents back",
                 restoreError);
        fail("cannot write the file", error);
    };
    if (::ftruncate(target.fd, 0) != 0) fail("cannot write the file", errno);
    try {
        write(target.fd);
    } catch (const PdfError& error) {
        if (const int restoreError = restore())
            fail(std::string(error.what()) + ", nor put its old contents back", restoreError);
        throw;
    } catch (...) {
        restore();
        throw;
    }
    if (::fsync(target.fd) != 0) failAndRestore(errno);
    if (const int closeError = target.close()) fail("cannot write the file", closeError);
    return FileIdentity::of(now);
}

// What the new file is put in place of: the file judged at the name, nothing
// (no name is written over), or whatever is there (the user's own folders).
struct Replacing {
    enum class Kind { judged, nothing, whatever };
    Kind kind = Kind::nothing;
    FileIdentity judged;
};

// Fills the new file `fd` (made as `sibling`), then puts it in place of
// `file`'s name as `replacing` says; `mode` is given it last, when there is
// one. Where the file system cannot exchange two names in one step, the file
// judged is written in place instead (`inPlace`, which takes the new file).
FileIdentity completeSibling(const HeldName& file, Fd& fd, Sibling& sibling, const ContentsWriter& write,
                             std::optional<mode_t> mode, const Replacing& replacing,
                             const std::function<FileIdentity(int made)>& inPlace = {})
{
    write(fd.fd);
    // The mode comes last: until the file is complete, only we may read it.
    if (mode && ::fchmod(fd.fd, *mode) != 0) fail("cannot set the file's mode", errno);
    if (::fsync(fd.fd) != 0) fail("cannot write the file", errno);
    struct stat made = {};
    if (::fstat(fd.fd, &made) != 0) fail("cannot write the file", errno);
    if (const int error = fd.close()) fail("cannot write the file", error);
    FileIdentity written = FileIdentity::of(made);
    switch (replacing.kind) {
    case Replacing::Kind::whatever:
        if (const int error = sibling.renameOver(file.name)) fail("cannot replace the file", error);
        break;
    case Replacing::Kind::nothing:
        if (const int error = sibling.renameToNew(file.name, &written)) {
            if (error == EEXIST)
                throw PdfError(PdfErrorCode::fileReplaced,
                               file.path() + " was made by another program while the new file was written", EAGAIN);
            fail("cannot make the file", error);
        }
        break;
    case Replacing::Kind::judged:
        if (const int error = sibling.exchangeFor(file.name, replacing.judged)) {
            if (error == EAGAIN)
                throw PdfError(PdfErrorCode::fileReplaced,
                               file.path() + " was replaced by another file while the new one was written", EAGAIN);
            if (error == EINVAL && inPlace) {
                // Read back through its name, it is the file made, or not used.
                const Fd again(::openat(file.folder.fd, sibling.name().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
                struct stat reopened = {};
                if (again.fd < 0 || ::fstat(again.fd, &reopened) != 0
                    || FileIdentity::of(reopened) != FileIdentity::of(made))
                    fail("cannot read the new file again", again.fd < 0 ? errno : EAGAIN);
                return inPlace(again.fd);
            }
            if (error == EIO)
                fail("another file took the name " + file.path() + " while the new one was written; it is now named "
                         + sibling.stranded() + " beside it",
                     error);
            fail("cannot replace the file", error);
        }
        break;
    }
    syncFolder(file.folder.fd);
    return written;
}

} // namespace

FileIdentity replaceFileContents(const ChosenFile& file, const ContentsWriter& write,
                                 const std::function<void(const std::string&)>& beforeInPlace)
{
    const FileSizeSignalHeld fileSizeSignal;
    struct stat old = {};
    const bool exists = file.lookAt(&old);
    // Another file than the one meant is asked about before it is judged:
    // the user may choose to write over it, or not. Gone, the file the user
    // meant leaves nothing to mistake for it.
    if (exists && file.meant() != FileIdentity::of(old)) failReplaced(file);
    if (exists) file.checkExisting(old);
    else file.check();
    // Through the folder and the link its question saw, or not at all.
    file.confirmPlace();

    std::string made;
    // A new file gets the usual mode (the umask applies); a replacement its predecessor's.
    Fd fd(createSibling(file.folder(), file.name(), exists ? 0600 : 0666, &made));
    if (fd.fd < 0) {
        const int error = errno;
        if (exists && (error == EACCES || error == EPERM || error == EROFS))
            return writeInPlace(file, old, write, beforeInPlace);
        fail("cannot create a file in the folder", error);
    }
    Sibling sibling(file.folder(), made);
    // Renaming would hand the file to us: keep its owner by writing in place.
    if (exists && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
        && ::fchown(fd.fd, old.st_uid, old.st_gid) != 0) {
        fd.close();
        sibling.remove();
        return writeInPlace(file, old, write, beforeInPlace);
    }
    if (!exists) return completeSibling(file.held(), fd, sibling, write, std::nullopt, {});
    // The file judged is the one replaced: what took its name meanwhile stays.
    return completeSibling(file.held(), fd, sibling, write, std::optional<mode_t>(old.st_mode & 07777),
                           {Replacing::Kind::judged, FileIdentity::of(old)}, [&](int made) {
                               return writeInPlace(
                                   file, old,
                                   [made](int target) {
                                       off_t copied = 0;
                                       if (const int error = copyContents(made, target, &copied))
                                           fail("cannot write the file", error);
                                   },
                                   beforeInPlace);
                           });
}

void replacePrivateFile(const HeldName& file, const ContentsWriter& write)
{
    const FileSizeSignalHeld fileSizeSignal;
    struct stat old = {};
    if (::fstatat(file.folder.fd, file.name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(old.st_mode)) fail(file.path() + " changed into a link while it was written", ELOOP);
        if (S_ISDIR(old.st_mode)) fail("the path is a folder", EISDIR);
    }
    std::string made;
    Fd fd(createSibling(file.folder.fd, file.name, 0600, &made));
    if (fd.fd < 0) fail("cannot create a file in the folder", errno);
    Sibling sibling(file.folder.fd, made);
    // 0600 whatever the umask took away or the old file had; in a folder of
    // the user's own, whatever is at the name.
    completeSibling(file, fd, sibling, write, mode_t(0600), {Replacing::Kind::whatever, {}});
}

} // namespace platform
