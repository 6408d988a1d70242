#include "QuarnKit/Document/DocumentSaver.h"

#include "QuarnKit/Document/DocumentEngine.h"

#include <QEventLoop>
#include <QMetaObject>

namespace quarnkit {

DocumentSaver::DocumentSaver(QObject* parent) : QObject(parent) {}

DocumentSaver::~DocumentSaver()
{
    if (worker_.joinable()) worker_.join();
}

bool DocumentSaver::start(std::shared_ptr<platform::PdfDocument> pdf, const ChosenFile& file, bool lossAccepted,
                          bool unverifiedAccepted)
{
    if (saving_ || !pdf) return false;
    if (worker_.joinable()) worker_.join(); // the last one has reported already
    saving_ = true;
    last_.reset();
    worker_ = std::thread([this, pdf = std::move(pdf), file, lossAccepted, unverifiedAccepted, hook = workerHook,
                           readBackHook = beforeReadBack] {
        Outcome outcome{chosenPath(file), std::nullopt};
        if (hook) hook();
        try {
            writeDocumentFile(*pdf, file, lossAccepted, unverifiedAccepted, readBackHook);
        } catch (const DocumentError& error) {
            outcome.error = error;
        } catch (const std::exception& error) {
            outcome.error = DocumentError(DocumentError::Code::fileWriteUnknown, error.what());
        }
        // The saver outlives the worker (its destructor joins), so `this` is safe here.
        QMetaObject::invokeMethod(
            this, [this, outcome] { done(outcome); }, Qt::QueuedConnection);
    });
    return true;
}

bool DocumentSaver::start(const QuarnDocument& document, const ChosenFile& file, bool lossAccepted,
                          bool unverifiedAccepted)
{
    return start(pdfOf(document), file, lossAccepted, unverifiedAccepted);
}

void DocumentSaver::done(const Outcome& outcome)
{
    saving_ = false;
    last_ = outcome;
    emit finished(outcome);
}

DocumentSaver::Outcome DocumentSaver::waitForFinished()
{
    if (saving_) {
        QEventLoop loop;
        connect(this, &DocumentSaver::finished, &loop, &QEventLoop::quit);
        if (saving_) loop.exec();
    }
    return last_.value_or(Outcome{});
}

} // namespace quarnkit
