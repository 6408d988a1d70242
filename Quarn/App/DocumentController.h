#pragma once
// The document system of the application: one window per PDF file (opening
// a file that is already open brings its window forward), the Open panel,
// the alert for a file that cannot be opened, and closing every window on
// quit with the unsaved-changes question.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QFileDialog;
class QWidget;

namespace quarnkit {
struct SaveRemedies;
class HistoryLibrary;
class QuarnDocument;
struct OpenOutcome;
} // namespace quarnkit

namespace quarn {

class DocumentWindow;

class DocumentController : public QObject {
    Q_OBJECT
public:
    // The answer to the unsaved-changes question.
    enum class CloseAnswer { save, discard, cancel };

    explicit DocumentController(QObject* parent = nullptr);
    ~DocumentController() override;
    // The application's controller, made on first use.
    static DocumentController& shared();

    // Opens the PDF at `path` in a window of its own and shows it, or brings
    // forward the window that already shows it. A file that cannot be opened
    // gets the open-failure alert; the result is then none.
    DocumentWindow* openDocument(const QString& path);
    void openDocuments(const QStringList& paths);

    // The Open panel (several PDFs at once). Not modal: the rest of the
    // application stays usable. A second call while one shows brings it forward.
    void runOpenPanel();
    bool openPanelVisible() const;
    // The alert about a file that could not be opened, on screen with no
    // window under it; none otherwise. Launch tasks show their panel after it.
    QWidget* openFailureAlert() const;
    void closeOpenPanels();

    // The library panels' open: as openDocument, but the file is looked at
    // and read on a worker (a mount that stopped answering holds neither the
    // windows nor another open), and the outcome is handed to `done` on the
    // UI thread instead of an alert.
    void openDocumentReporting(const QString& path, std::function<void(const quarnkit::OpenOutcome&)> done);
    // Where the windows record their documents; none records nothing.
    quarnkit::HistoryLibrary* history() const { return history_; }
    void setHistory(quarnkit::HistoryLibrary* history) { history_ = history; }

    // The open windows, oldest first.
    std::vector<DocumentWindow*> windows() const;
    bool hasOpenDocuments() const { return !windows().empty(); }
    bool hasVisibleWindow() const;
    DocumentWindow* windowFor(const QString& path) const;

    // Closes every window, asking about unsaved changes; false when the user
    // kept one open (the quit is then called off).
    bool closeAll();
    // Quits the application once every window agreed to close.
    void quit();
    // The Quit key in a window with no menu bar (Settings, Keyboard Shortcuts,
    // Software Update) runs the application's quit(), as the File menu's
    // "Quit ravlen" does. A shortcut of that window alone: it never meets the
    // menu item's key, which only windows with a menu bar hold.
    static void quitWithKey(QWidget& window);

    // How the question is asked; a dialog by default (tests answer it themselves).
    std::function<CloseAnswer(DocumentWindow&)> askToSaveChanges;
    // The answer when the file was changed on disk by another program since
    // the window opened or saved it, and a save would write over that.
    // `written`: the file Overwrite would write over, when it is not the one
    // at the window's name (a link there leads to it); empty otherwise.
    enum class ChangedFileAnswer { overwrite, saveElsewhere, cancel };
    std::function<ChangedFileAnswer(DocumentWindow&, const QString& written)> askAboutChangedFile;
    // Save As onto a name that holds a file: true to replace it. `written`:
    // the file replaced, when a link at the name leads elsewhere; empty otherwise.
    std::function<bool(DocumentWindow&, const QString& name, const QString& written)> confirmReplace;
    // ravlen's question before any write over a name the user chose that
    // holds a file: "“name” already exists. Do you want to replace it?",
    // naming `written`, the file written over, when a link at the name leads
    // there; true to replace it. Every dialog that writes asks it, not the
    // dialog's own.
    static bool askToReplace(QWidget* parent, const QString& name, const QString& written);
    // ravlen's question before a new file is written anew from a document
    // that may show less in other programs than the damaged file it was read
    // from (quarnkit::copyNeedsLossQuestion): "“name” may show less than the
    // original in other programs.", with `action` ("Print Anyway", …) beside
    // Cancel; true to write it.
    static bool askAboutLoss(QWidget* parent, const QString& name, const QString& action);
    // How a failure is shown: an alert with a fixed sentence and the reason.
    std::function<void(const QString& text, const QString& reason, QWidget* parent)> showFailure;
    // A save was refused or failed: the same alert, its reason followed by
    // what still works, with a button for each of `offered` ("Save As…",
    // "Export…", "Revert") beside Cancel, or OK alone when nothing does.
    // Every refusal of a save is told through this (DocumentWindow::refuseSave).
    enum class RefusalAnswer { saveAs, exportCopy, revert, dismiss };
    std::function<RefusalAnswer(DocumentWindow&, const QString& text, const QString& reason,
                                const quarnkit::SaveRemedies& offered)>
        offerWhatStillWorks;
    // The Save As panel, opening on `proposed`; the path chosen, empty on cancel.
    std::function<QString(DocumentWindow&, const QString& proposed)> chooseSaveAsPath;
    // Before a new file is written from a damaged one, when it may show less
    // than the original in other programs: the same alert, with "Save
    // Anyway" beside Cancel; true to write it.
    std::function<bool(DocumentWindow&, const QString& text, const QString& reason)> confirmLossyCopy;
    // Before a save that leaves the pages the user removed readable in the
    // file's earlier version (a signed file's update): the same alert; true
    // to save.
    std::function<bool(DocumentWindow&, const QString& text, const QString& reason)> confirmKeptPages;

    // The files named on a command line (without the program): every argument
    // after "--", and before it each one that is no option. An argument that
    // starts with "-" is a file when one exists under that name. Absolute paths.
    // Arguments come from the process's bytes through quarnkit::pathFromNative,
    // so names that are not UTF-8 keep their bytes.
    static QStringList filesFromArguments(const QStringList& arguments);

    // The path a window keeps for a file: absolute, "." and ".." resolved,
    // symbolic links kept (as the history keeps it).
    static QString fileKey(const QString& path);
    // Where a new window of `frameSize` goes after one whose frame is
    // `previous`: `cascadeStep` lower and to the right, back at the top (or
    // the left) when it would pass the bottom (or the right) of `available`.
    static constexpr int cascadeStep = 22;
    static QPoint cascadedPlace(const QRect& previous, const QSize& frameSize, const QRect& available);

signals:
    void windowsChanged();

private:
    friend class DocumentWindow;
    void windowClosed(DocumentWindow* window);
    // A window for a document just read, shown and brought forward; none
    // (after `failed` is told why) when it cannot be made.
    // A second window and later ones cascade from the last one shown, and stay
    // on its screen, also when several open at once, before the window manager
    // has shown the earlier ones.
    void placeAfterLastWindow(DocumentWindow& window);
    DocumentWindow* showNewWindow(std::unique_ptr<quarnkit::QuarnDocument> document, const QString& path,
                                  const std::function<void(const QString& reason)>& failed);

    std::vector<QPointer<DocumentWindow>> windows_;
    QPointer<QFileDialog> openPanel_;
    quarnkit::HistoryLibrary* history_ = nullptr;
};

} // namespace quarn
