// ravlen: opens the PDF files it is given, each in a window of its own, in
// the one ravlen process of the user.
#include "Platform/UserDefaults.h"
#include "Quarn/App/DocumentController.h"
#include "Quarn/App/LaunchTasks.h"
#include "Quarn/App/SingleInstance.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/Motion.h"

#include <QApplication>
#include <QFileInfo>

int main(int argc, char** argv)
{
    // Open and Save As through the desktop's own dialogs (GNOME's, KDE's), by
    // way of the XDG desktop portal, unless a platform theme was chosen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORMTHEME")) qputenv("QT_QPA_PLATFORMTHEME", "xdgdesktopportal");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ravlen"));
    QApplication::setApplicationDisplayName(QStringLiteral("ravlen"));
    QApplication::setDesktopFileName(QStringLiteral("ravlen"));
    // Dark before any window exists.
    quarn::applyDarkAppearance(app);
    // Read once, off the UI thread, before any window could animate.
    quarn::motion::readAtStart();

    QStringList files;
    for (const QString& argument : app.arguments().mid(1))
        if (!argument.startsWith(QLatin1Char('-'))) files << QFileInfo(argument).absoluteFilePath();

    quarn::SingleInstance instance;
    if (!instance.claim() && instance.handOver(files)) return 0;

    quarn::DocumentController& controller = quarn::DocumentController::shared();
    quarn::LaunchTasks launch(controller, platform::UserDefaults::standard());
    QObject::connect(&instance, &quarn::SingleInstance::filesReceived, &launch, [&](const QStringList& received) {
        if (received.isEmpty())
            launch.reopen();
        else
            controller.openDocuments(received);
    });

    controller.openDocuments(files);
    launch.schedule();
    const int result = app.exec();
    platform::UserDefaults::standard().synchronize();
    return result;
}
