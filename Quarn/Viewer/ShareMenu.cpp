#include "Quarn/Viewer/ShareMenu.h"

#include "Quarn/Shell/FileManager.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QUrl>

namespace quarn {

ShareMenu::ShareMenu(const QString& filePath, QWidget* parent) : QMenu(parent), filePath_(filePath)
{
    launch = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
    reveal = [](const QString& path) { revealInFolder(path); };

    email_ = addAction(tr("Email…"));
    copy_ = addAction(tr("Copy"));
    addSeparator();
    reveal_ = addAction(tr("Show in Folder"));

    connect(email_, &QAction::triggered, this, [this] {
        const QStringList command = emailCommand(filePath_);
        if (!launch || !launch(command.first(), command.mid(1)))
            emit failed(tr("The mail program could not be started (xdg-email)."));
    });
    connect(copy_, &QAction::triggered, this,
            [this] { QGuiApplication::clipboard()->setMimeData(fileMimeData(filePath_)); });
    connect(reveal_, &QAction::triggered, this, [this] {
        if (reveal) reveal(filePath_);
    });
}

QStringList ShareMenu::emailCommand(const QString& filePath)
{
    return {QStringLiteral("xdg-email"), QStringLiteral("--attach"), QFileInfo(filePath).absoluteFilePath()};
}

QMimeData* ShareMenu::fileMimeData(const QString& filePath)
{
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(QFileInfo(filePath).absoluteFilePath())});
    return mime;
}

} // namespace quarn
