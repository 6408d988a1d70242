#pragma once
// Sharing a PDF on the Linux desktop: the Share menu (Email… through
// xdg-email, Copy as a file on the clipboard, Show in Folder) and the private
// folder where copies of unsaved documents are written for it.
#include <QDateTime>
#include <QDir>
#include <QMenu>
#include <QString>
#include <QStringList>

#include <functional>
#include <stdexcept>

class QMimeData;

namespace quarn {

// A share that could not be prepared; the message is shown to the user as
// the alert's informative text.
class ShareError : public std::runtime_error {
public:
    explicit ShareError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// "<temporary root>/ravlen-<uid>/ravlen Share": both folders belong to the
// user alone (mode 0700). A folder on the way that is a link, not a folder or
// someone else's is refused, never followed, so another user of the machine
// cannot redirect or read the copies.
class ShareFolder {
public:
    // Copies older than this (by modification time) are removed at the next share.
    static constexpr qint64 maxAgeSeconds = 86400;

    explicit ShareFolder(QString temporaryRoot = QDir::tempPath());
    QString privateRoot() const;
    QString path() const;

    // Makes both folders when missing and tightens their mode to 0700.
    // Throws ShareError when either cannot be used safely.
    void prepare() const;
    // Removes every entry of the share folder last modified more than a day
    // before `now` (entries whose time cannot be read too). Links are removed
    // as links; nothing outside the folder is touched. Errors are ignored.
    void clean(const QDateTime& now = QDateTime::currentDateTimeUtc()) const;
    // Prepares and cleans the folder, then writes `bytes` atomically as
    // "<baseName>.pdf" in a new folder of its own. Returns the file's path;
    // throws ShareError.
    QString writeCopy(const QByteArray& bytes, const QString& baseName) const;

    // The name a copy of the file at `path` is given: the file name without
    // its extension, trimmed; "Untitled" without a path or name.
    static QString baseName(const QString& path);

private:
    QString root_;
};

// The menu the Share button opens for one file.
class ShareMenu : public QMenu {
    Q_OBJECT
public:
    explicit ShareMenu(const QString& filePath, QWidget* parent = nullptr);

    const QString& filePath() const { return filePath_; }
    QAction* emailAction() const { return email_; }
    QAction* copyAction() const { return copy_; }
    QAction* revealAction() const { return reveal_; }

    // The program and arguments that attach the file to a new mail.
    static QStringList emailCommand(const QString& filePath);
    // The file as the clipboard carries it: a text/uri-list with its URL.
    static QMimeData* fileMimeData(const QString& filePath);

    // Starts a program detached; false when it could not start. Replaceable (tests).
    std::function<bool(const QString& program, const QStringList& arguments)> launch;
    // Shows the file in the file manager. Replaceable (tests).
    std::function<void(const QString& path)> reveal;

signals:
    // Something chosen in the menu could not be done; `description` says why.
    void failed(const QString& description);

private:
    QString filePath_;
    QAction* email_ = nullptr;
    QAction* copy_ = nullptr;
    QAction* reveal_ = nullptr;
};

} // namespace quarn
