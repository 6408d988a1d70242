#pragma once
// How the application's history library is wired into the rest of the
// program: the document system records into it and opens for it, and the
// Settings window counts, clears and switches it.
namespace quarnkit {
class HistoryLibrary;
}

namespace quarn {

class DocumentController;
struct SettingsServices;

// The controller's windows record into `library`, and the library's opens
// go through the controller; the Settings window hears of its changes.
void attachHistory(DocumentController& controller, quarnkit::HistoryLibrary& library);
// The Settings window's history count, Clear History and keep-history switch, over the
// application's library (made when Settings first asks).
void addHistoryServices(SettingsServices& services);

} // namespace quarn
