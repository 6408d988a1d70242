#include "Quarn/Export/ExportController.h"

#include "Quarn/App/DocumentController.h"
#include "Quarn/Design/ErrorAlert.h"
#include "Quarn/Shell/PanelMessage.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/Shell/FileManager.h"
#include "QuarnKit/Document/HeldDocument.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Export/ExportJob.h"
#include "QuarnKit/Document/PageRange.h"
#include "QuarnKit/Export/Exporter.h"
#include "QuarnKit/History/HistoryLocator.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtConcurrent>

#include <memory>

namespace quarn {

using namespace quarnkit;

ExportController::ExportController(QObject* parent) : QObject(parent)
{
    chooseDestination = [this](const ExportSettings& settings, const ViewerModel& model) {
        return askForDestination(settings, model);
    };
    reveal = [](const QString& path, RevealTold told) {
        revealInFolder(
            path, [told](const QString& reason) { told(reason); }, [told] { told(std::nullopt); });
    };
    confirmLossyCopy = [this](const QString& text, const QString& reason) { return askAboutLoss(text, reason); };
    confirmReplace = [this](const QString& name, const QString& written) {
        return DocumentController::askToReplace(dialogParent, name, written);
    };
}

bool ExportController::askAboutLoss(const QString& text, const QString& reason) const
{
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text, QMessageBox::NoButton);
    setPlainTexts(box, text, reason); // they name the file as it is called
    QPushButton* write = box.addButton(tr("Export Anyway"), QMessageBox::AcceptRole);
    box.setDefaultButton(box.addButton(QMessageBox::Cancel));
    return askAndWait(box, dialogParent) == write;
}

void ExportController::showExported(const QString& path, int token, std::function<void()> onDone)
{
    // Nothing else to tell: the sheet closes once the file shows.
    const bool closes = phase_.kind == Phase::Kind::working;
    const QPointer<ExportController> self(this);
    const auto decided = std::make_shared<bool>(false);
    const QString exported = tr("“%1” was exported.").arg(QFileInfo(path).fileName());
    const RevealTold told = [self, token, decided, onDone, exported](std::optional<QString> failure) {
        // The first word counts; one after the sheet closed, or after a new
        // run began, goes unsaid.
        if (!self || self->token_ != token || std::exchange(*decided, true)) return;
        const Phase::Kind kind = self->phase_.kind;
        if (failure) {
            const QString notShown = tr("ravlen couldn't show it in its folder. %1").arg(*failure);
            if (kind == Phase::Kind::finished)
                self->setPhase(Phase::finished(self->phase_.text + QLatin1Char('\n') + notShown));
            else if (kind == Phase::Kind::working)
                self->setPhase(Phase::finished(exported + QLatin1Char(' ') + notShown));
            return;
        }
        if (kind != Phase::Kind::working) return;
        self->setPhase({});
        if (onDone) onDone();
    };
    if (reveal) reveal(path, told);
    else told(std::nullopt);
    if (closes) QTimer::singleShot(revealWaitMs, this, [told] { told(std::nullopt); });
}

ExportController::~ExportController() { stop_.request_stop(); }

void ExportController::setPhase(const Phase& phase)
{
    if (phase_ == phase) return;
    phase_ = phase;
    emit phaseChanged();
}

std::optional<QString> ExportController::askForDestination(const ExportSettings& settings,
                                                           const ViewerModel& model) const
{
    const QString folder = model.filePath().isEmpty() ? QString() : QFileInfo(model.filePath()).absolutePath();
    QString chosen;
    if (settings.writesFolder()) {
        QFileDialog dialog(dialogParent, tr("Export"), folder);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        dialog.setLabelText(QFileDialog::Accept, tr("Choose Folder"));
        addPanelMessage(dialog,
                        tr("ravlen saves one image per page into a new folder named %1.").arg(settings.baseName));
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            chosen = dialog.selectedFiles().first();
    } else {
        const int count = model.document() ? model.document()->pageCount() : 0;
        const QString name = Exporter::suggestedFileName(settings.baseName, settings.format, settings.pages, count);
        QFileDialog dialog(dialogParent, tr("Export"), folder.isEmpty() ? name : folder + QLatin1Char('/') + name);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        // The question about a file there is ravlen's: it names where a link leads.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        dialog.setNameFilter(ExportFormats::nameFilter(settings.format));
        dialog.setDefaultSuffix(ExportFormats::fileExtension(settings.format));
        dialog.setLabelText(QFileDialog::Accept, tr("Export"));
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            chosen = dialog.selectedFiles().first();
    }
    if (chosen.isEmpty()) return std::nullopt;
    return chosen;
}

void ExportController::start(const ExportSettings& settings, const ViewerModel& model, std::function<void()> onDone)
{
    if (phase_.kind == Phase::Kind::working) return;
    const QuarnDocument* document = model.document();
    if (!document) return setPhase(Phase::failed(ExportError(ExportError::Kind::empty).message()));
    if (document->isLocked()) return setPhase(Phase::failed(ExportError(ExportError::Kind::locked).message()));
    const std::optional<QString> path = chooseDestination ? chooseDestination(settings, model) : std::nullopt;
    if (!path) return;
    // Written over, the document's own file would no longer hold what the window shows.
    if (!settings.writesFolder() && !model.filePath().isEmpty() && sameFile(*path, model.filePath()))
        return setPhase(Phase::failed(ExportError(ExportError::Kind::documentFile).message()));
    // What the question saw goes with the export to the write.
    std::optional<ExportDestination> destination;
    try {
        destination = ExportDestination::choose(settings, *path, confirmReplace);
    } catch (const ExportError& error) {
        return setPhase(Phase::failed(error.message()));
    }
    if (!destination) return; // a cancel is never reported
    run(settings, *model.document(), *destination, std::move(onDone));
}

void ExportController::run(const ExportSettings& settings, QuarnDocument& document,
                           const ExportDestination& destination, std::function<void()> onDone)
{
    // The bytes are made on the worker: a long document is not written out on the UI thread.
    const HeldDocument held(document);
    const bool lossAccepted = document.copyLossAccepted();

    const int token = ++token_;
    stop_.request_stop(); // an older run, should one still be going
    stop_ = std::stop_source();
    setPhase(Phase::working(ExportStep::first(settings)));

    const QPointer<ExportController> self(this);
    auto progress = [self, token](const ExportStep& step) {
        QMetaObject::invokeMethod(
            qApp,
            [self, token, step] {
                if (self && self->token_ == token && self->phase_.kind == Phase::Kind::working)
                    self->setPhase(Phase::working(step));
            },
            Qt::QueuedConnection);
    };
    const QPointer<QuarnDocument> source(&document);
    auto finish = [self, token, onDone, source, settings, destination](
                      std::optional<ExportReport> report, std::optional<QString> failure, bool mayShowLess = false) {
        QMetaObject::invokeMethod(
            qApp,
            [self, token, onDone, report, failure, mayShowLess, source, settings, destination] {
                if (!self || self->token_ != token) return;
                if (mayShowLess) {
                    // Asked as Save As asks, once a document; a cancel is never reported.
                    self->setPhase({});
                    const QString text = tr("“%1” may show less than the original in other programs.")
                                             .arg(QFileInfo(destination.path()).fileName());
                    if (!source || !self->confirmLossyCopy
                        || !self->confirmLossyCopy(text, ExportError(ExportError::Kind::mayShowLess).message()) || !self
                        || !source || self->token_ != token)
                        return;
                    source->acceptCopyLoss();
                    return self->run(settings, *source, destination, onDone);
                }
                if (failure) return self->setPhase(Phase::failed(*failure));
                if (!report) return self->setPhase({}); // cancelled
                // What the export found is shown before the file is: the sheet stays open for it.
                if (const std::optional<QString> summary = report->summary()) self->setPhase(Phase::finished(*summary));
                self->showExported(report->path, token, onDone);
            },
            Qt::QueuedConnection);
    };
    std::ignore =
        QtConcurrent::run([held, settings, destination, lossAccepted, progress, finish, stop = stop_.get_token()] {
            try {
                const QByteArray snapshot = ExportSnapshot::data(held, settings.format, lossAccepted);
                if (snapshot.isEmpty())
                    return finish(std::nullopt, ExportError(ExportError::Kind::unreadable).message());
                finish(ExportJob::run(settings, snapshot, destination, progress, stop), std::nullopt);
            } catch (const ExportCancelled&) {
                finish(std::nullopt, std::nullopt);
            } catch (const ExportError& error) {
                if (error.kind() == ExportError::Kind::mayShowLess) return finish(std::nullopt, std::nullopt, true);
                finish(std::nullopt, error.message());
            } catch (const PageRangeError& error) {
                finish(std::nullopt, error.message());
            } catch (const std::exception& error) {
                finish(std::nullopt, Exporter::saveFailureReason(error));
            }
        });
}

void ExportController::cancel()
{
    stop_.request_stop();
    ++token_;
    setPhase({});
}

void ExportController::clearResult()
{
    if (phase_.kind == Phase::Kind::finished || phase_.kind == Phase::Kind::failed) setPhase({});
}

} // namespace quarn
