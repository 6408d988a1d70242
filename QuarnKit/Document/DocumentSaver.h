#pragma once
// Saving a document without holding up the UI thread: the bytes are made
// and written on a worker, and `finished` arrives on the saver's thread.
// One save at a time. A save never ends the program, nor throws: every
// failure, memory included, is its outcome ("out of memory").
#include "QuarnKit/Document/QuarnDocument.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class QEventLoop;
class QSocketNotifier;

namespace quarnkit {

class DocumentSaver : public QObject {
    Q_OBJECT
public:
    struct Outcome {
        QString path;
        std::optional<DocumentError> error; // none: the file was written
    };

    explicit DocumentSaver(QObject* parent = nullptr);
    ~DocumentSaver() override; // waits for a running save

    // Loads the reader every saved file is read back with: ravlen does as it
    // starts, before any document, not at the first save, where memory may
    // be short. False when it cannot be loaded: saves are refused as unverified.
    static bool loadReadBack();

    bool isSaving() const { return saving_; }
    // Starts writing `pdf` to `file`; false when a save is already running.
    // A save that cannot start (no memory, no thread) finishes at once.
    // `lossAccepted` and `unverifiedAccepted` as writeDocumentFile takes them.
    bool start(std::shared_ptr<platform::PdfDocument> pdf, const ChosenFile& file, bool lossAccepted = true,
               bool unverifiedAccepted = false);
    // The same for the document: its PDF as it is edited, kept until the save ends.
    bool start(const QuarnDocument& document, const ChosenFile& file, bool lossAccepted = true,
               bool unverifiedAccepted = false);
    // Runs the event loop until the running save has finished (at once when
    // none runs) and gives its outcome.
    Outcome waitForFinished();

    // Runs on the worker before it writes: tests hold a save there to look at
    // the window while it runs.
    std::function<void()> workerHook;
    // Runs on the worker between the write and its read-back: tests make a
    // read-back there that cannot decide.
    std::function<void(int fd)> beforeReadBack;

signals:
    void finished(const quarnkit::DocumentSaver::Outcome& outcome);

private:
    void done(Outcome&& outcome);
    void takeFinished();

    bool saving_ = false;
    std::optional<Outcome> last_;
    std::thread worker_;
    // The outcome of a save out of memory, made beforehand: copied, it
    // allocates nothing.
    Outcome outOfMemory_;
    // The worker hands its outcome over here and wakes the saver's thread
    // through an eventfd, which allocates nothing either; Qt never meets
    // the worker's thread.
    std::mutex handOverMutex_;
    std::optional<Outcome> handedOver_;
    int wake_ = -1;
    QSocketNotifier* wakeNotifier_ = nullptr;
    QEventLoop* waitLoop_ = nullptr;
};

} // namespace quarnkit
