#include "QuarnKit/Document/DocumentSaver.h"

#include "Platform/PdfReadBack.h"
#include "QuarnKit/Document/DocumentEngine.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>

#include <cstdint>
#include <new>
#include <system_error>
#include <utility>

#include <sys/eventfd.h>
#include <unistd.h>

namespace quarnkit {

DocumentSaver::DocumentSaver(QObject* parent)
    : QObject(parent), outOfMemory_{QString(), DocumentError::outOfMemory()},
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    // None (the process out of descriptors): each save is refused as it starts.
    if (wake_ >= 0) {
        wakeNotifier_ = new QSocketNotifier(wake_, QSocketNotifier::Read, this);
        connect(wakeNotifier_, &QSocketNotifier::activated, this, &DocumentSaver::takeFinished);
    }
    // Made here: Qt's connect does not survive an allocation failing in it.
    waitLoop_ = new QEventLoop(this);
    connect(this, &DocumentSaver::finished, waitLoop_, &QEventLoop::quit);
}

DocumentSaver::~DocumentSaver()
{
    if (worker_.joinable()) worker_.join();
    delete wakeNotifier_;
    if (wake_ >= 0) ::close(wake_);
}

bool DocumentSaver::loadReadBack() { return platform::loadReadBack(); }

bool DocumentSaver::start(std::shared_ptr<platform::PdfDocument> pdf, const ChosenFile& file, bool lossAccepted,
                          bool unverifiedAccepted)
{
    if (saving_ || !pdf) return false;
    if (worker_.joinable()) worker_.join(); // the last one has reported already
    saving_ = true;
    last_.reset();
    try {
        if (wake_ < 0) throw std::system_error(EMFILE, std::generic_category(), "no descriptor to wait for the save");
        worker_ = std::thread([this, pdf = std::move(pdf), file, lossAccepted, unverifiedAccepted, hook = workerHook,
                               readBackHook = beforeReadBack] {
            // Nothing here throws past this function, nor asks Qt of this
            // thread (an adopted thread's allocation failing crashes Qt).
            Outcome outcome = outOfMemory_;
            try {
                outcome.path = chosenPath(file);
                if (hook) hook();
                writeDocumentFile(*pdf, file, lossAccepted, unverifiedAccepted, readBackHook);
                outcome.error.reset();
            } catch (const std::bad_alloc&) {
            } catch (const DocumentError& error) {
                try {
                    outcome.error = error;
                } catch (const std::exception&) {}
            } catch (const std::exception& error) {
                try {
                    outcome.error = DocumentError(DocumentError::Code::fileWriteUnknown, error.what());
                } catch (const std::exception&) {}
            }
            {
                std::lock_guard lock(handOverMutex_);
                handedOver_ = std::move(outcome);
            }
            const std::uint64_t one = 1;
            // The saver outlives the worker (its destructor joins), so its descriptor is open.
            while (::write(wake_, &one, sizeof one) < 0 && errno == EINTR) {}
        });
    } catch (const std::exception& error) {
        // No memory to start the save with, no thread to run it on, or no
        // descriptor to hear it end by.
        Outcome outcome = outOfMemory_;
        try {
            outcome.path = chosenPath(file);
            if (!dynamic_cast<const std::bad_alloc*>(&error))
                outcome.error = DocumentError(DocumentError::Code::fileWriteUnknown, error.what());
        } catch (const std::exception&) {}
        done(std::move(outcome));
    }
    return true;
}

bool DocumentSaver::start(const QuarnDocument& document, const ChosenFile& file, bool lossAccepted,
                          bool unverifiedAccepted)
{
    return start(pdfOf(document), file, lossAccepted, unverifiedAccepted);
}

void DocumentSaver::takeFinished()
{
    std::uint64_t count = 0;
    while (::read(wake_, &count, sizeof count) < 0 && errno == EINTR) {}
    std::optional<Outcome> outcome;
    {
        std::lock_guard lock(handOverMutex_);
        outcome.swap(handedOver_);
    }
    if (outcome) done(std::move(*outcome));
}

void DocumentSaver::done(Outcome&& outcome)
{
    saving_ = false;
    last_ = std::move(outcome);
    emit finished(*last_);
}

DocumentSaver::Outcome DocumentSaver::waitForFinished()
{
    while (saving_) {
        // Asked again while it waits (a window closing, say): the outer wait's loop runs.
        if (waitLoop_->isRunning()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        else waitLoop_->exec();
    }
    if (!last_) return Outcome{};
    try {
        return *last_;
    } catch (const std::bad_alloc&) {
        return outOfMemory_; // a refusal's words too long to copy now
    }
}

} // namespace quarnkit
