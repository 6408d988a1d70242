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
#include "Platform/PdfError.h"

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

// A file as the system knows it, whatever its names; all zero for none.
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
    // Called once a new folder's name is taken there (where another member of
    // a shared folder could put a folder in its place).
    std::function<void()> afterFolderNameTaken;
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

// A folder held open as a walk found it, and a name in it.
struct HeldName {
    FileDescriptor folder; // O_PATH
    std::string folderPath;
    std::string name;
    std::string path() const;
};

// The folder the user chose to make new files in, walked to as ChosenFile
// walks (no link at its last name is followed that mayFollowLink refuses),
// held; `name` empty. Throws as ChosenFile::ask.
HeldName reachChosenFolder(const std::string& path);

// What the question about a file the user chose saw at its name, for it to
// name: whether a file is there, and for a link there, where it leads.
struct NameSeen {
    std::string path;    // as the user chose it
    bool exists = false; // a file is there (where a link leads, for a link)
    bool link = false;   // the name is a link
    std::string leadsTo; // the file the link leads to (a link); empty otherwise
};

// A file the user chose to write, as the question about it saw it: the
// folder that holds it, held open as the walk found it, its name there, and
// the file the question said it replaces or that there was none. Only a
// question makes one (ask, expecting), so every writer carries what its
// question saw.
class ChosenFile {
public:
    // True when the user agreed to write there, over what is there.
    using Question = std::function<bool(const NameSeen&)>;
    // Walks to `path`, following the links mayFollowLink allows and, at the
    // last name, a link of the user's own in a sticky folder of root's or
    // the user's, which the question then names; what is at the last name
    // may not exist yet. Asks `question` when a file or a link is at the
    // name (none: the user declined). Throws ForeignName for a link on the
    // way another user could have put there, PdfError(io) with the errno
    // otherwise (ENOENT: a folder on the way is not there; EISDIR: the path
    // names a folder), and what check() throws.
    static std::optional<ChosenFile> ask(const std::string& path, const Question& question);
    // The file the user means at `path` is `meant` (Save: the one the
    // document was read from or last saved to; Overwrite: the one its
    // question saw): another file there is neither written nor replaced
    // (PdfError(fileReplaced)), so that the user can be asked. Throws as ask.
    static ChosenFile expecting(const std::string& path, FileIdentity meant);

    ChosenFile(const ChosenFile& other);
    ChosenFile& operator=(const ChosenFile& other);
    ChosenFile(ChosenFile&&) noexcept = default;
    ChosenFile& operator=(ChosenFile&&) noexcept = default;

    int folder() const { return held_.folder.fd; }
    const std::string& name() const { return held_.name; }
    std::string path() const { return held_.path(); }
    // The path as the user chose it.
    const std::string& chosenPath() const { return chosenPath_; }
    const HeldName& held() const { return held_; }
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
    // No file is meant any more: a file at the name, there before the write
    // or put there while it lasts, is not replaced (PdfError(fileReplaced)).
    void expectNothing() { meant_ = FileIdentity{}; }
    // The file meant: none (all zero) when the question saw nothing there.
    FileIdentity meant() const { return meant_; }
    // Throws PdfError(fileReplaced) unless the path still leads where the
    // question saw it lead: to the folder held, through the link it named,
    // with the link leading where it did.
    void confirmPlace() const;

private:
    ChosenFile(HeldName held, std::string chosenPath, FileIdentity meant);

    HeldName held_;
    std::string chosenPath_;
    FileIdentity meant_;
    // The link the question named at the last name: its folder and itself.
    struct NamedLink {
        FileIdentity folder;
        FileIdentity link;
        std::string target;
        friend bool operator==(const NamedLink&, const NamedLink&) = default;
    };
    std::optional<NamedLink> link_;
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

// Writes a file for the user's eyes alone: a new 0600 file beside `file`,
// synced and renamed over it, whatever mode and owner the old one had; never
// in place. Throws as replaceFileContents.
void replacePrivateFile(const HeldName& file, const ContentsWriter& write);

// Writes all `size` bytes at `offset`: 0 or the errno. A write that makes no
// progress is a full disk.
int writeAllAt(int fd, const void* data, std::size_t size, off_t offset);

// A file only this process can reach (unnamed where the file system allows
// it), open for reading and writing, in the temporary folder
// (platform::temporaryFolder); -1 with errno set when none can be made.
int openPrivateScratchFile();

} // namespace platform
