#pragma once
// Sharing a PDF on the Linux desktop: the Share menu (Email… through
// xdg-email, Copy as a file on the clipboard, Show in Folder).
#include "QuarnKit/Document/ShareFolder.h"

#include <QMenu>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QMimeData;

namespace quarn {

class DocumentActions;
using quarnkit::ShareError;
using quarnkit::ShareFolder;

// The menu the Share button opens for one file of the window whose actions
// are `actions`: Email hands the mail program Share's own copy of their
// document (DocumentActions::makeMailFile), never the file.
class ShareMenu : public QMenu {
    Q_OBJECT
public:
    ShareMenu(const QString& filePath, DocumentActions* actions, QWidget* parent = nullptr);

    const QString& filePath() const { return filePath_; }
    QAction* emailAction() const { return email_; }
    QAction* copyAction() const { return copy_; }
    QAction* revealAction() const { return reveal_; }

    // The program and arguments that attach the file to a new mail.
    static QStringList emailCommand(const QString& filePath);
    // The file as the clipboard carries it: a text/uri-list with its URL.
    static QMimeData* fileMimeData(const QString& filePath);

    // The Share menu for the window's file, or for a copy when the file is out
    // of date (made on a worker; the menu opens once it is written): under
    // `anchor` while it shows, else under the middle of `fallback` (the page
    // view). A failure is an alert on the window.
    static void offer(DocumentActions& actions, QWidget* anchor, QWidget* fallback);

    // Starts a program detached; false when it could not start. Replaceable (tests).
    std::function<bool(const QString& program, const QStringList& arguments)> launch;
    // Shows the file in the file manager. Replaceable (tests).
    std::function<void(const QString& path)> reveal;

signals:
    // Something chosen in the menu could not be done; `description` says why.
    void failed(const QString& description);

private:
    QString filePath_;
    QPointer<DocumentActions> actions_;
    QAction* email_ = nullptr;
    QAction* copy_ = nullptr;
    QAction* reveal_ = nullptr;
};

} // namespace quarn
