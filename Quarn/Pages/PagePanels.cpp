#include "Quarn/Pages/PagePanels.h"

#include "Quarn/Design/ErrorAlert.h"
#include "Quarn/Pages/PagesModel.h"
#include "Quarn/Shell/PanelMessage.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Pages/PageEditor.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>

namespace quarn {

namespace PageEditor = quarnkit::PageEditor;

namespace {

// The document's name without its extension, "Untitled" for none.
QString baseName(const QString& filePath)
{
    const QString base = QFileInfo(filePath).completeBaseName().trimmed();
    return base.isEmpty() ? QObject::tr("Untitled") : base;
}

QString startFolder(const QString& filePath)
{
    return filePath.isEmpty() ? QDir::homePath() : QFileInfo(filePath).absolutePath();
}

} // namespace

void askForPagesToInsert(ViewerModel& viewer, QWidget* parent, std::optional<int> gap)
{
    const quarnkit::QuarnDocument* document = viewer.document();
    if (!document || document->isLocked()) return;
    PagesModel& pages = PagesModel::of(viewer);
    if (!gap) gap = pages.insertionGap();
    QStringList patterns{QStringLiteral("*.pdf")};
    for (const QString& suffix : PageEditor::imageSuffixes()) patterns << QStringLiteral("*.") + suffix;
    auto* panel = new QFileDialog(parent, QObject::tr("Insert Pages"), startFolder(viewer.filePath()));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setOption(QFileDialog::DontUseNativeDialog);
    panel->setFileMode(QFileDialog::ExistingFiles);
    panel->setNameFilter(QObject::tr("PDFs and images (%1)").arg(patterns.join(QLatin1Char(' '))));
    panel->setLabelText(QFileDialog::Accept, QObject::tr("Insert"));
    addPanelMessage(*panel, *gap != 0 ? QObject::tr("Choose PDFs or images to add after page %1.").arg(*gap)
                                      : QObject::tr("Choose PDFs or images to add at the start."));
    const QPointer<PagesModel> model(&pages);
    QObject::connect(panel, &QFileDialog::filesSelected, &pages, [model, gap = *gap](const QStringList& paths) {
        if (model) model->insertPages(paths, gap);
    });
    panel->open();
}

void askWhereToExtract(ViewerModel& viewer, QWidget* parent)
{
    const QPointer<quarnkit::QuarnDocument> document = viewer.document();
    if (!document || document->isLocked()) return;
    PagesModel& pages = PagesModel::of(viewer);
    const std::set<int> targets = pages.pageTargets();
    if (targets.empty()) return;
    auto* panel = new QFileDialog(parent, PageEditor::title(QObject::tr("Extract"), int(targets.size()), false),
                                  startFolder(viewer.filePath()));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setOption(QFileDialog::DontUseNativeDialog);
    panel->setAcceptMode(QFileDialog::AcceptSave);
    // The question about a file there is ravlen's (finishExtract): it names where a link leads.
    panel->setOption(QFileDialog::DontConfirmOverwrite);
    panel->setNameFilter(QObject::tr("PDF documents (*.pdf)"));
    panel->setDefaultSuffix(QStringLiteral("pdf"));
    panel->setLabelText(QFileDialog::Accept, QObject::tr("Extract"));
    panel->selectFile(PageEditor::extractFileName(baseName(viewer.filePath()), targets));
    const QPointer<PagesModel> model(&pages);
    // Asked once the panel has gone, so that the question stands on the window.
    QObject::connect(panel, &QDialog::accepted, &pages, [panel, model, targets, document] {
        if (model && document && !panel->selectedFiles().isEmpty())
            model->finishExtract(panel->selectedFiles().constFirst(), targets, *document);
    });
    panel->open();
}

void showPageAlert(QWidget* window, const QString& message, const QString& detail)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("ravlen"), message, QMessageBox::Ok, window);
    setPlainTexts(*box, message, detail);
    box->setObjectName(QStringLiteral("pageAlert"));
    openAlert(box, window);
}

} // namespace quarn
