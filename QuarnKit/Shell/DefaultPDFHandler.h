#pragma once
// Being the desktop's default application for PDF files. The desktop is asked
// through xdg-mime with our ravlen.desktop entry; as Linux asks the user
// nothing, ravlen asks first (through the caller's hook) and remembers a
// refusal under "ravlenDeclinedDefaultHandler".
#include "Platform/UserDefaults.h"

#include <QString>

class QObject;

#include <functional>
#include <optional>

namespace quarnkit {
namespace DefaultPDFHandler {

inline constexpr char bundleID[] = "com.ombri.ravlen";
inline constexpr char desktopFileName[] = "ravlen.desktop";
inline constexpr char declinedKey[] = "ravlenDeclinedDefaultHandler";
inline constexpr char pdfMimeType[] = "application/pdf";

// The desktop file of the application that opens PDF files now, as
// `xdg-mime query default application/pdf` names it; empty when none is set
// or xdg-mime cannot be run.
QString currentHandler();
// True when that desktop file is exactly "ravlen.desktop".
bool isDefault();
// The display name of that application: its desktop entry's Name (in the
// user's language when the entry has one), else the file name without
// ".desktop"; "another app" when none opens PDF files.
QString handlerName();
// Both at once, from one run of xdg-mime. Blocks for as long as xdg-mime
// takes (within its time limit): the UI thread uses query() instead.
struct HandlerState {
    bool isDefault = false;
    QString name; // as handlerName()

    // The name where it begins a sentence ("Another app opens PDFs…").
    QString sentenceName() const
    {
        QString start = name;
        if (!start.isEmpty()) start[0] = start[0].toUpper();
        return start;
    }
};
HandlerState state();
// state() on a worker thread; `done` runs afterwards on `context`'s thread,
// and not at all once `context` is gone.
void query(QObject* context, std::function<void(HandlerState)> done);

// The Name of a desktop entry's text (Name[ll_CC], Name[ll], then Name) for a
// locale name such as "de_CH"; none when it has no [Desktop Entry] Name.
std::optional<QString> desktopEntryName(const QString& entryText, const QString& localeName);

// Whether an install folder (the folder holding bin/ravlen) is one of the
// installed locations: /opt/ravlen, ~/.local/opt/ravlen, /usr and /usr/local.
// Dot and dot-dot components count after cleaning; links are not followed.
bool isInstalledCopy(const QString& installFolder);

// True once the user has refused the request; absent or not a Boolean reads as false.
bool declined(const platform::UserDefaults& defaults = platform::UserDefaults::standard());

// The desktop entry that makes `executable` open PDF files.
QString desktopEntry(const QString& executable);
// Writes ravlen.desktop into the user's applications folder when no
// applications folder of the desktop holds one. Returns false when it cannot be written.
bool ensureDesktopFile(const QString& executable);

// The caller's question to the user; it answers true to go ahead. It may
// answer later (from a window-modal dialog), but must answer once.
using Ask = std::function<void(std::function<void(bool accepted)> answer)>;
// Called once, on the calling (main) thread's event loop: none when the
// request succeeded or the user refused it, else the failure's description.
using Completion = std::function<void(std::optional<QString> failure)>;

// Asks (when `ask` is given), then makes ravlen.desktop the default for PDF
// files with `xdg-mime default ravlen.desktop application/pdf`, writing the
// desktop entry first when it is missing. A refusal stores true under
// declinedKey; a success stores false; a failure leaves it as it was.
// Returns at once; the outcome comes through `completion`. `defaults` must
// outlive the request (the standard defaults live as long as the application).
void claim(Completion completion, Ask ask = {}, platform::UserDefaults& defaults = platform::UserDefaults::standard());

} // namespace DefaultPDFHandler
} // namespace quarnkit
