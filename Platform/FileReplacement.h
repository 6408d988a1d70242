#pragma once
// Writing a file at a path the user chose (Save, Save As, Print to a file,
// every export, Extract Pages) and the user's private files (settings,
// signatures, history), so that a failure or a crash at any point leaves
// either the old contents or the new ones, never a mix, and no name another
// user made leads the write to a file of the user's.
//
// The path is walked once (PathWalk.h) to the folder that holds the file;
// every check, the new file, the write and the rename then go through that
// folder's descriptor, never through the name from the root again.
#include "Platform/FileDescriptor.h"
#include "Platform/PdfDocument.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include <sys/stat.h>
#include <sys/types.h>

namespace platform {

// What a name another user could have aimed at the user's file is, for a
// write: the one rule every writer keeps.
enum class NameUse {
    use,
    foreignLink,       // a link another user could have put at that name (mayFollowLink): never followed
    foreignFile,       // another user's file in a sticky folder others may write (fs.protected_regular):
                       // written into, it would stay theirs to read
    foreignSecondName, // a file with more than one name, not the folder owner's, in a folder where
                       // another user may make names (theirs, not root's; or, for the user's own
                       // file, one others may write, as /tmp): they may have linked a file of the
                       // user's there, so it is not written in place
    foreignFolder,     // the user's own file in a folder of another user's (not root's), where the
                       // kernel lets users link files they may not write (fs.protected_hardlinks
                       // off): they may have put it there, and taken their other name away since,
                       // so it is not written in place
};
// Judges `entry` (as lstat sees it, or as fstat sees the file about to be
// written) in `folder` for `user`; `inPlace` when the file would be written
// into rather than replaced by a new one; `hardLinksProtected` as the
// kernel's setting says (hardLinksProtected()); `folderFd` holds the folder
// (-1: not held), for the link rule (mayFollowLink).
NameUse judgeName(uid_t user, const struct stat& entry, const struct stat& folder, bool inPlace,
                  bool hardLinksProtected, int folderFd = -1);

// Whether the kernel keeps users from making hard links to files they may
// neither read nor write (fs.protected_hardlinks), read from `setting`; a
// setting that cannot be read counts as off.
bool hardLinksProtected(const std::string& setting = "/proc/sys/fs/protected_hardlinks");

// A file as the system knows it, whatever its names.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    static FileIdentity of(const struct stat& st) { return {st.st_dev, st.st_ino}; }
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// What tests change in the writers: where the kernel's hard-link setting is
// read, a call made once the file written in place is open, before it is
// judged and written (where another user's swap of the name would fall),
// and a file system without exchanges of names.
struct WriteSeams {
    std::string hardLinkSetting = "/proc/sys/fs/protected_hardlinks";
    std::function<void()> afterInPlaceOpen;
    // The folder's file system cannot exchange two names in one step (as NFS).
    bool namesNotExchanged = false;
    // Nor rename onto a name only while it is free, nor give a file a second
    // name (as vfat, SMB and many FUSE file systems).
    bool noExclusiveRename = false;
};
WriteSeams& writeSeams();

// A write refused by judgeName: the code foreignLink or foreignFile, and the
// name as the user knows it (the link's or the file's own).
class ForeignName : public PdfError {
public:
    ForeignName(NameUse use, std::string name, const std::string& path);
    NameUse use() const { return use_; }
    const std::string& name() const { return name_; }
    // A link refused: the path it leads to (empty when unknown), which the
    // write would have reached through it.
    const std::string& leadsTo() const { return leadsTo_; }
    void setLeadsTo(std::string path) { leadsTo_ = std::move(path); }

private:
    NameUse use_;
    std::string name_;
    std::string leadsTo_;
};

// A file the user chose: the folder that holds it, held open as the walk
// found it, and its name there.
class ChosenFile {
public:
    // Walks to `path`, following only the links mayFollowLink allows; what
    // is at the last name may not exist yet. Throws ForeignName for another
    // user's link on the way, PdfError(io) with the errno otherwise (ENOENT:
    // a folder on the way is not there; EISDIR: the path names a folder).
    static ChosenFile reach(const std::string& path);
    // For a name at which the question found nothing: the folder that holds
    // it, walked as reach() walks, and the name itself, never followed; and
    // nothing is expected there (expectNothing): a file or link put there
    // since is neither written over nor written through.
    static ChosenFile reachNew(const std::string& path);
    // The file `name` in the folder open at `folder` (of the path `folderPath`).
    static ChosenFile in(FileDescriptor folder, std::string folderPath, std::string name);

    int folder() const { return folder_.fd; }
    const std::string& name() const { return name_; }
    std::string path() const;
    // What is at the name now, a link not followed; false when nothing is.
    bool lookAt(struct stat* entry) const;
    // Throws what replaceFileContents would refuse before it writes
    // anything: a folder, no regular file, a foreign name, a read-only file,
    // a file or (for a new one) a folder the user may not write.
    void check() const;
    // The same, for what lookAt() found there.
    void checkExisting(const struct stat& entry) const;
    // The file at the name, opened for reading (-1 with errno set).
    int openForReading() const;
    // The file the user means at this name (Save: the one the document was
    // read from or last saved to). Another file there is not written, nor
    // replaced: PdfError(fileReplaced), so that the user can be asked.
    void expect(FileIdentity meant) { meant_ = meant; }
    // No file is meant: a file at the name, there before the write or put
    // there while it lasts, is not replaced (PdfError(fileReplaced)).
    void expectNothing() { meant_ = FileIdentity{}; }
    const std::optional<FileIdentity>& meant() const { return meant_; }

private:
    ChosenFile(FileDescriptor folder, std::string folderPath, std::string name);

    FileDescriptor folder_;
    std::string folderPath_;
    std::string name_;
    std::optional<FileIdentity> meant_;
};

// Writes the new contents into `fd`, an empty file open for reading and
// writing, from its start, as they are made; it may empty the file and
// begin again. Throws PdfError (io with the errno for a failed write).
using ContentsWriter = std::function<void(int fd)>;

// Has `write` fill a new file beside `file`, syncs it, gives it the owner,
// group and mode of the file it replaces, puts it at `file`'s name and syncs
// the folder; a failure at any step removes the new file. What is replaced is
// the file judged at the name, nothing else: the new file takes its place in
// one step (an exchange of the two names) that hands back what was there,
// put back when it is another file (PdfError(fileReplaced)), and a file put
// at a name that held none meanwhile is never written over. Where the file
// system cannot exchange names, the file judged is written in place. The new file is
// the caller's alone (0600) until it is complete; a file that replaces none
// gets the usual mode (0666 less the umask). When the folder takes no new
// file (or the owner cannot be kept) but the file itself is writable, the
// file is written in place: its old contents are first copied to a private
// unnamed file, `beforeInPlace` is called with a path that reads that copy,
// and the copy is written back if the write fails. A write past the
// process's file-size limit fails like one on a full disk, whatever the
// process does with SIGXFSZ. Written in place, the file is judged again
// (judgeName) on the descriptor written. Returns the file written. Throws
// what check() throws, ForeignName for a name refused in place,
// PdfError(fileReplaced) when the name holds another file than the one
// expected, PdfError(io) carrying the errno of the step that failed, or what
// `write` threw.
FileIdentity replaceFileContents(const ChosenFile& file, const ContentsWriter& write,
                                 const std::function<void(const std::string& copyOfOriginal)>& beforeInPlace = {});
// The same for the path the user chose (ChosenFile::reach).
FileIdentity replaceFileContents(const std::string& path, const ContentsWriter& write,
                                 const std::function<void(const std::string& copyOfOriginal)>& beforeInPlace = {});

// Writes a file for the user's eyes alone: a new 0600 file beside `file`,
// synced and renamed over it, whatever mode and owner the old one had; never
// in place. Throws as replaceFileContents.
void replacePrivateFile(const ChosenFile& file, const ContentsWriter& write);

// Writes all `size` bytes at `offset`: 0 or the errno. A write that makes no
// progress is a full disk.
int writeAllAt(int fd, const void* data, std::size_t size, off_t offset);

// A file only this process can reach (unnamed where the file system allows
// it), open for reading and writing, in the temporary folder
// (platform::temporaryFolder); -1 with errno set when none can be made.
int openPrivateScratchFile();

} // namespace platform
