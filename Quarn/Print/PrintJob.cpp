#include "Quarn/Print/PrintJob.h"

#include "Quarn/App/DocumentController.h"
#include "Quarn/Design/ErrorAlert.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Platform/PrivateFiles.h"
#include "QuarnKit/Document/DocumentPages.h"
#include "QuarnKit/Viewer/PrintLayout.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrintDialog>
#include <QPushButton>
#include <QPointer>
#include <QPrinter>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QtConcurrent/QtConcurrentRun>

#include <sys/stat.h>

namespace quarn::printing {

namespace {

namespace DocumentPages = quarnkit::DocumentPages;

// Runs `work` on a worker thread and hands its result to `done` on `context`'s thread.
template <typename Result>
void inBackground(QObject* context, std::function<Result()> work, std::function<void(Result)> done)
{
    auto* watcher = new QFutureWatcher<Result>(context);
    QObject::connect(watcher, &QFutureWatcher<Result>::finished, context, [watcher, done] {
        done(watcher->result());
        watcher->deleteLater();
    });
    watcher->setFuture(QtConcurrent::run(std::move(work)));
}

// The sheet the printer's paper gives, in points, turned as the paper is.
QSizeF sheetSize(const QPrinter& printer) { return printer.pageLayout().fullRect(QPageLayout::Point).size(); }

// The `lp` command line of a job: printer, paper, copies, collation, sides,
// title. The file's sheets are already the paper's, margins and all: the
// spooler prints them as they are, without scaling them again.
QStringList lpArguments(const QPrinter& printer, const QString& file)
{
    QStringList arguments;
    if (!printer.printerName().isEmpty()) arguments << QStringLiteral("-d") << printer.printerName();
    const QPageSize paper = printer.pageLayout().pageSize();
    if (paper.isValid() && paper.id() != QPageSize::Custom)
        arguments << QStringLiteral("-o") << QStringLiteral("media=") + paper.key();
    arguments << QStringLiteral("-o") << QStringLiteral("print-scaling=none");
    if (printer.copyCount() > 1) {
        arguments << QStringLiteral("-n") << QString::number(printer.copyCount());
        arguments << QStringLiteral("-o")
                  << (printer.collateCopies() ? QStringLiteral("collate=true") : QStringLiteral("collate=false"));
    }
    switch (printer.duplex()) {
    case QPrinter::DuplexLongSide:
        arguments << QStringLiteral("-o") << QStringLiteral("sides=two-sided-long-edge");
        break;
    case QPrinter::DuplexShortSide:
        arguments << QStringLiteral("-o") << QStringLiteral("sides=two-sided-short-edge");
        break;
    case QPrinter::DuplexNone: arguments << QStringLiteral("-o") << QStringLiteral("sides=one-sided"); break;
    case QPrinter::DuplexAuto: break;
    }
    if (!printer.docName().isEmpty()) arguments << QStringLiteral("-t") << printer.docName();
    arguments << file;
    return arguments;
}

// A new file for the sheets of a job in the user's private work folder (they
// hold the document's pages), and the file to write there; none when none
// can be made.
struct Sheets {
    QString path;
    quarnkit::ChosenFile file;
};
std::optional<Sheets> privateSheetsFile()
{
    QString path;
    try {
        const QString folder = platform::PrivateFiles::PrivateWorkFolder::standard().path();
        QTemporaryFile file(QDir(folder).filePath(QStringLiteral("print-XXXXXX.pdf")));
        file.setAutoRemove(false);
        if (!file.open()) return std::nullopt;
        path = file.fileName();
        // Made just now, in the user's own folder: the job replaces that one.
        std::optional<quarnkit::ChosenFile> chosen =
            quarnkit::chooseFile(path, [](const QString&, const QString&) { return true; });
        if (chosen) return Sheets{path, std::move(*chosen)};
    } catch (const platform::PrivateFiles::PrivateFolderError&) {
    } catch (const quarnkit::DocumentError&) {}
    if (!path.isEmpty()) QFile::remove(path);
    return std::nullopt;
}

// Without CUPS's `lp`: the sheets as they go to paper (printingJob's, the
// marks on them that print painted in), each drawn over the whole paper at
// the printer's resolution.
bool drawSheets(const quarnkit::QuarnDocument& document, const std::vector<int>& pages, QPrinter& printer)
{
    const std::optional<Sheets> file = privateSheetsFile();
    if (!file) return false;
    const auto removeFile = qScopeGuard([&] { QFile::remove(file->path); });
    if (!quarnkit::printingJob(document, pages, sheetSize(printer), file->file)()) return false;
    std::unique_ptr<quarnkit::QuarnDocument> sheets;
    try {
        sheets = quarnkit::QuarnDocument::open(file->path);
    } catch (const std::exception&) {
        return false;
    }
    if (!sheets) return false;
    printer.setFullPage(true); // the painter's origin at the paper's corner, where the sheet's is
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    for (int sheet = 0; sheet < sheets->pageCount(); ++sheet) {
        if (sheet > 0 && !printer.newPage()) return false;
        QImage image;
        try {
            image = DocumentPages::image(*sheets, sheet, printer.resolution() / 72.0);
        } catch (const std::exception&) {
            return false;
        }
        if (image.isNull()) return false;
        painter.drawImage(QPointF(0, 0), image);
    }
    return painter.end();
}

// Print to File once the name typed is settled: a name the job could not
// write to keeps the dialog open and says why, as the writer would (a folder
// that is not there, another user's link, a file the user may not write); a
// name that is there already is replaced only when the user says so, asked
// as every writer asks (naming where a link there leads). What the question
// saw goes to `chosen`, for the job. Nothing at that name is opened here.
void confirmFile(QPrintDialog& dialog, const QString& path, std::optional<quarnkit::ChosenFile>& chosen)
{
    const auto tell = [&dialog](const QString& text) {
        auto* box = new QMessageBox(QMessageBox::Warning, dialog.windowTitle(), {}, QMessageBox::Ok, &dialog);
        setPlainTexts(*box, text, {});
        openAlert(box, &dialog);
    };
    if (path.isEmpty()) return tell(QObject::tr("Choose a file to print into."));
    QString problem;
    chosen = quarnkit::choosePrintFile(
        path,
        [&dialog](const QString& name, const QString& written) {
            return DocumentController::askToReplace(&dialog, name, written);
        },
        &problem);
    if (chosen) return dialog.accept();
    if (!problem.isEmpty())
        tell(QObject::tr("The document can't be printed into %1.\n%2\nChoose another name.")
                 .arg(QFileInfo(path).fileName(), problem));
}

// Return in the file field prints, as the default button drawn says, also
// while the field's list of names completing it is open with none of them
// chosen: that list would take the key, close, and print nothing.
class ReturnPrints : public QObject {
public:
    ReturnPrints(QAbstractItemView* names, QAbstractButton* print) : QObject(names), names_(names), print_(print)
    {
        names->installEventFilter(this); // after the completer's: heard first
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || names_->currentIndex().isValid()) return false;
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
        names_->hide();
        if (print_) print_->click();
        return true;
    }

private:
    QAbstractItemView* names_;
    QPointer<QAbstractButton> print_;
};

// Qt's print dialog opens the file typed for Print to File itself when Print
// is clicked (to append, on the UI thread, to see that it can be written): a
// FIFO there holds the whole program until someone opens its other end, and
// another user's dangling link makes a file where it leads. So the Print
// button is ravlen's: for a file, ravlen asks about a name that is there
// already, and ravlen's writer decides the rest (regular files only, never
// through another user's link), saying why when it refuses. A dialog not
// made as expected offers no file at all.
void keepFilesFromTheDialog(QPrintDialog& dialog, const std::shared_ptr<std::optional<quarnkit::ChosenFile>>& chosen)
{
    auto* buttons = dialog.findChild<QDialogButtonBox*>(QString(), Qt::FindDirectChildrenOnly);
    auto* fileName = dialog.findChild<QLineEdit*>(QStringLiteral("filename"));
    if (!buttons || !fileName) {
        dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
        return;
    }
    if (QCompleter* names = fileName->completer())
        new ReturnPrints(names->popup(), buttons->button(QDialogButtonBox::Ok));
    QObject::disconnect(buttons, &QDialogButtonBox::accepted, &dialog, nullptr);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&dialog, fileName, chosen] {
        chosen->reset();
        // The file field is enabled exactly when the file is the printer.
        if (fileName->isEnabled()) confirmFile(dialog, fileName->text(), *chosen);
        // A printer: the dialog's own check of its options, which opens nothing.
        else if (!QMetaObject::invokeMethod(&dialog, "_q_checkFields")) dialog.accept();
    });
}

// Print to a file: the job on a worker. A copy that may show less than the
// damaged original is asked about first, once a document, as Save As and
// Export ask; a cancel is never reported.
void printIntoFile(quarnkit::QuarnDocument& document, const std::vector<int>& pages, QSizeF sheet,
                   const quarnkit::ChosenFile& file, QObject* context,
                   const std::function<void(bool ok, const QString& reason)>& finished)
{
    inBackground<quarnkit::PrintOutcome>(
        context, quarnkit::printingJob(document, pages, sheet, file, document.copyLossAccepted()),
        [held = QPointer<quarnkit::QuarnDocument>(&document), pages, sheet, file, context,
         finished](const quarnkit::PrintOutcome& outcome) {
            if (!outcome.mayShowLess) return finished(outcome.written, outcome.reason);
            auto* over = qobject_cast<QWidget*>(context);
            if (!held
                || !DocumentController::askAboutLoss(over ? over->window() : nullptr,
                                                     QFileInfo(quarnkit::chosenPath(file)).fileName(),
                                                     QObject::tr("Print Anyway"))
                || !held)
                return;
            held->acceptCopyLoss();
            printIntoFile(*held, pages, sheet, file, context, finished);
        });
}

} // namespace

std::vector<int> chosenPages(const QPrinter& printer, int pageCount, int currentPage)
{
    std::vector<std::pair<int, int>> ranges;
    switch (printer.printRange()) {
    case QPrinter::CurrentPage: ranges.emplace_back(currentPage + 1, currentPage + 1); break;
    case QPrinter::PageRange:
        for (const QPageRanges::Range& range : printer.pageRanges().toRangeList())
            ranges.emplace_back(range.from, range.to);
        break;
    case QPrinter::AllPages:
    case QPrinter::Selection: break;
    }
    if (printer.printRange() == QPrinter::PageRange && ranges.empty() && printer.fromPage() > 0)
        ranges.emplace_back(printer.fromPage(), printer.toPage());
    return quarnkit::printedPages(pageCount, ranges);
}

bool print(quarnkit::QuarnDocument& document, QPrinter& printer, int currentPage, QObject* context,
           std::function<void(bool ok, const QString& reason)> finished, std::optional<quarnkit::ChosenFile> file)
{
    if (document.isLocked() || document.pageCount() == 0) return false;
    const std::vector<int> pages = chosenPages(printer, document.pageCount(), currentPage);
    if (pages.empty()) return false;

    // Into a file: the sheets as they would go to paper, as PDF; only as its question saw it.
    if (!file && !printer.outputFileName().isEmpty()) return false;
    if (file) {
        printIntoFile(document, pages, sheetSize(printer), *file, context, finished);
        return true;
    }

    const QString lp = QStandardPaths::findExecutable(QStringLiteral("lp"));
    if (lp.isEmpty()) {
        finished(drawSheets(document, pages, printer), {});
        return true;
    }
    // To CUPS: the PDF of the sheets goes to the spooler, which takes PDF.
    const std::optional<Sheets> sheets = privateSheetsFile();
    if (!sheets) return false;
    const QString spool = sheets->path;
    const QStringList arguments = lpArguments(printer, spool);
    const QPointer<QObject> guard(context);
    inBackground<quarnkit::PrintOutcome>(
        context, quarnkit::printingJob(document, pages, sheetSize(printer), sheets->file),
        [lp, arguments, spool, guard, finished](const quarnkit::PrintOutcome& written) {
            if (!written || !guard) {
                QFile::remove(spool);
                finished(false, written.reason);
                return;
            }
            auto* process = new QProcess(guard);
            QObject::connect(process, &QProcess::finished, guard,
                             [process, spool, finished](int code, QProcess::ExitStatus status) {
                                 // `lp` has copied the file into the spool when it returns.
                                 QFile::remove(spool);
                                 process->deleteLater();
                                 finished(status == QProcess::NormalExit && code == 0, {});
                             });
            QObject::connect(process, &QProcess::errorOccurred, guard,
                             [process, spool, finished](QProcess::ProcessError error) {
                                 if (error != QProcess::FailedToStart) return;
                                 QFile::remove(spool);
                                 process->deleteLater();
                                 finished(false, {});
                             });
            process->start(lp, arguments);
        });
    return true;
}

void printDocument(QuarnPDFView& view)
{
    if (!view.quarnDocument() || view.pageCount() == 0) return;
    auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
    auto* dialog = new QPrintDialog(printer.get(), &view);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintPageRange
                       | QAbstractPrintDialog::PrintCurrentPage | QAbstractPrintDialog::PrintCollateCopies
                       | QAbstractPrintDialog::PrintShowPageSize);
    dialog->setMinMax(1, view.pageCount());
    const auto chosen = std::make_shared<std::optional<quarnkit::ChosenFile>>();
    keepFilesFromTheDialog(*dialog, chosen);
    QObject::connect(dialog, &QDialog::accepted, &view, [&view, printer, chosen] {
        // Into a file only as the question saw it.
        if (!printer->outputFileName().isEmpty() && !*chosen) return;
        print(view, *printer, *chosen);
    });
    dialog->open();
}

bool print(QuarnPDFView& view, QPrinter& printer, std::optional<quarnkit::ChosenFile> file)
{
    quarnkit::QuarnDocument* document = view.quarnDocument();
    if (!document || document->isLocked() || view.pageCount() == 0) return false;
    const QPointer<QuarnPDFView> over(&view);
    const auto failed = [over](const QString& reason) {
        const QString text = QObject::tr("The document could not be printed.");
        if (over) showErrorAlert(over, reason.isEmpty() ? text : text + u' ' + reason);
    };
    if (!file && !printer.outputFileName().isEmpty()) {
        QString problem;
        file = quarnkit::choosePrintFile(
            printer.outputFileName(),
            [&view](const QString& name, const QString& written) {
                return DocumentController::askToReplace(view.window(), name, written);
            },
            &problem);
        if (!file) {
            // Told as a failure of the job would be; a cancel is never reported.
            if (problem.isEmpty()) return false;
            failed(problem);
            return true;
        }
    }
    const bool started = print(
        *document, printer, view.currentPageIndex(), &view,
        [failed](bool ok, const QString& reason) {
            if (!ok) failed(reason);
        },
        std::move(file));
    if (!started) failed({});
    return started;
}

} // namespace quarn::printing
