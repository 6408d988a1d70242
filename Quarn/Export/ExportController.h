#pragma once
// Runs one export at a time for one export sheet: asks where to write,
// snapshots the document on the UI thread, runs the export job on a worker
// thread and publishes how far it has come and how it ended. A run token
// drops the progress and results of runs that were cancelled or replaced.
#include "QuarnKit/Export/ExportSettings.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <stop_token>

class QWidget;

namespace quarnkit {
class ExportDestination;
class QuarnDocument;
} // namespace quarnkit

namespace quarn {

class ViewerModel;

class ExportController : public QObject {
    Q_OBJECT
public:
    struct Phase {
        enum class Kind { idle, working, finished, failed };
        Kind kind = Kind::idle;
        quarnkit::ExportStep step; // working
        QString text;              // finished: the summary; failed: the message

        static Phase working(const quarnkit::ExportStep& step) { return {Kind::working, step, {}}; }
        static Phase finished(const QString& summary) { return {Kind::finished, {}, summary}; }
        static Phase failed(const QString& message) { return {Kind::failed, {}, message}; }
        friend bool operator==(const Phase&, const Phase&) = default;
    };

    explicit ExportController(QObject* parent = nullptr);
    ~ExportController() override; // stops a running export

    const Phase& phase() const { return phase_; }

    // Begins an export of the model's document, unless one is running.
    // `onDone` runs when the export succeeds with nothing to tell (the sheet
    // closes). Failures before the job starts are published as `failed`.
    void start(const quarnkit::ExportSettings& settings, const ViewerModel& model, std::function<void()> onDone);
    // Stops the running export; whatever it still reports is dropped.
    void cancel();
    // A finished or failed phase goes back to idle; a run is left alone.
    void clearResult();

    // Asks where to write: a file, or for a folder of pages the folder to
    // make it in. None when the user cancels. Replaceable (tests).
    std::function<std::optional<QString>(const quarnkit::ExportSettings&, const ViewerModel&)> chooseDestination;
    // Asked before a file the user chose is written over (the dialog asks
    // nothing itself): its name, and the file written when a link at the
    // name leads there; true to replace it. DocumentController::askToReplace
    // by default; replaceable (tests).
    std::function<bool(const QString& name, const QString& written)> confirmReplace;
    // How showing the written file went: none when it showed, else why not.
    using RevealTold = std::function<void(std::optional<QString> failure)>;
    // Shows the written file in the file manager and tells how that went,
    // at once or later. A file that could not be shown is said in the
    // finished sheet, never in an alert: a run with nothing else to tell
    // waits for that up to `revealWaitMs` before the sheet closes (a file
    // manager that answers later is asked no more of). Replaceable (tests).
    std::function<void(const QString& path, RevealTold told)> reveal;
    int revealWaitMs = 1500;
    // Before a PDF of a damaged document is written, when it may show less
    // than the original in other programs: the alert with "Export Anyway"
    // beside Cancel; true to write it. Asked once a document, as Save As
    // asks. Replaceable (tests).
    std::function<bool(const QString& text, const QString& reason)> confirmLossyCopy;
    // The window the destination dialogs belong to.
    QWidget* dialogParent = nullptr;

signals:
    void phaseChanged();

private:
    void setPhase(const Phase& phase);
    void showExported(const QString& path, int token, std::function<void()> onDone);
    std::optional<QString> askForDestination(const quarnkit::ExportSettings& settings, const ViewerModel& model) const;
    bool askAboutLoss(const QString& text, const QString& reason) const;
    // Runs the export to `destination` on a worker; a PDF that may show less
    // than the damaged original is asked about first, then run again.
    void run(const quarnkit::ExportSettings& settings, quarnkit::QuarnDocument& document,
             const quarnkit::ExportDestination& destination, std::function<void()> onDone);

    Phase phase_;
    int token_ = 0;
    std::stop_source stop_;
};

} // namespace quarn
