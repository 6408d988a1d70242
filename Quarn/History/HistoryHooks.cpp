#include "Quarn/History/HistoryHooks.h"

#include "Quarn/App/DocumentController.h"
#include "Quarn/Shell/SettingsWindow.h"
#include "QuarnKit/History/HistoryLibrary.h"

namespace quarn {

void attachHistory(DocumentController& controller, quarnkit::HistoryLibrary& library)
{
    controller.setHistory(&library);
    library.opener = [&controller](const QString& path, std::function<void(const quarnkit::OpenOutcome&)> done) {
        controller.openDocumentReporting(path, std::move(done));
    };
    const auto refreshSettings = [] {
        if (SettingsView* settings = SettingsWindow::shared().window()) settings->refreshHistory();
    };
    QObject::connect(&library, &quarnkit::HistoryLibrary::entriesChanged, &controller, refreshSettings);
    QObject::connect(&library, &quarnkit::HistoryLibrary::keepHistoryChanged, &controller, refreshSettings);
}

void addHistoryServices(SettingsServices& services)
{
    services.historyCount = [] { return int(quarnkit::HistoryLibrary::shared().entries().size()); };
    services.clearHistory = [] { quarnkit::HistoryLibrary::shared().clearAll(); };
    services.setKeepHistory = [](bool on) { quarnkit::HistoryLibrary::shared().setKeepHistory(on); };
}

} // namespace quarn
