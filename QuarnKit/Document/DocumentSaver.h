#pragma once
// Saving a document without holding up the UI thread: the bytes are made
// and written on a worker, and `finished` arrives on the saver's thread.
// One save at a time.
#include "QuarnKit/Document/QuarnDocument.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <thread>

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

    bool isSaving() const { return saving_; }
    // Starts writing `pdf` to `file`; false when a save is already running.
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
    void done(const Outcome& outcome);

    bool saving_ = false;
    std::optional<Outcome> last_;
    std::thread worker_;
};

} // namespace quarnkit
