#pragma once
// The user's private temporary folder: copies of documents written for
// sharing, and the exports' fallback work folders.
#include "Platform/PrivateFiles.h"

#include <QDateTime>
#include <QString>

#include <stdexcept>

namespace quarnkit {

// A share that could not be prepared; the message is shown to the user as
// the alert's informative text.
class ShareError : public std::runtime_error {
public:
    explicit ShareError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// "ravlen Share" in the user's private work folder
// (platform::PrivateFiles::PrivateWorkFolder): both belong to the user alone
// (mode 0700). A share folder that is a link, not a folder or someone else's
// is refused, never followed, so another user of the machine cannot redirect
// or read the copies.
class ShareFolder {
public:
    // Copies older than this (by modification time) are removed at the next share.
    static constexpr qint64 maxAgeSeconds = 86400;

    using WorkFolder = platform::PrivateFiles::PrivateWorkFolder;
    explicit ShareFolder(WorkFolder place = WorkFolder::standard());
    // The private work folder, made when needed. Throws ShareError.
    QString privateRoot() const;
    // Throws ShareError when the private work folder cannot be made.
    QString path() const;

    // Makes both folders when missing and tightens their mode to 0700.
    // Throws ShareError when either cannot be used safely.
    void prepare() const;
    // The same for the private root alone.
    void preparePrivateRoot() const;
    // Removes every entry of the share folder last modified more than a day
    // before `now` (entries whose time cannot be read too). Links are removed
    // as links; nothing outside the folder is touched. Errors are ignored.
    void clean(const QDateTime& now = QDateTime::currentDateTimeUtc()) const;
    // Prepares and cleans the folder, then writes `bytes` atomically as
    // "<baseName>.pdf" in a new folder of its own. Returns the file's path;
    // throws ShareError.
    QString writeCopy(const QByteArray& bytes, const QString& baseName) const;

    // Writes `bytes` as writeCopy does, under plainName(baseName), for a mail
    // program: xdg-email hands Thunderbird the path between single quotes of
    // a list of fields, decoding backslash sequences, where a quote starts
    // another field and a comma another attachment. Throws ShareError, also
    // when the share folder's own path holds such a character.
    QString writeMailCopy(const QByteArray& bytes, const QString& baseName) const;
    // `name` of letters, digits, spaces, '.', '-' and '_' alone: a quote, a
    // comma and the rest of ASCII's punctuation become look-alikes, anything
    // else '_'; runs of spaces one space (the mail road joins words so).
    static QString plainName(const QString& name);

    // The name a copy of the file at `path` is given: the file name without
    // its extension, trimmed; "Untitled" without a path or name.
    static QString baseName(const QString& path);

private:
    WorkFolder place_;
};

} // namespace quarnkit
