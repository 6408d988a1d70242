#pragma once
// A window model bound to a shown page view of a one-page file, with private
// settings, for the tests of the markup panels, menu items and model state.
#include "Platform/PdfAnnotations.h"
#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Markup/MarkupModel.h"
#include "Platform/UserDefaults.h"
#include "Quarn/App/PageViewHost.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "support/TestSupport.h"

#include <QUndoStack> // before the view header

#include "Quarn/Viewer/QuarnPDFView.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <QTest>

#include <memory>
#include <vector>

namespace quarn::markuptest {

using platform::PdfAnnotation;
namespace PdfAnnotations = platform::PdfAnnotations;

// A model bound to a shown page view of a one-page file, with private settings.
struct MarkupHarness {
    QTemporaryDir dir;
    platform::UserDefaults defaults{dir.filePath("defaults.json")};
    quarnkit::ReadingPositionStore positions{defaults};
    std::unique_ptr<quarnkit::QuarnDocument> document;
    QUndoStack& stack() { return document->undoStack(); }
    std::unique_ptr<ViewerModel> model;
    std::unique_ptr<PageViewHost> pageViewHost;

    MarkupHarness()
    {
        const QString path = dir.filePath("doc.pdf");
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(testsupport::makeTextPdf(1));
        file.close();
        document = quarnkit::QuarnDocument::open(path);
        model = std::make_unique<ViewerModel>(&defaults, &positions);
        model->setFilePath(path);
        pageViewHost = std::make_unique<PageViewHost>(document.get(), model.get());
        pageViewHost->resize(900, 900);
        pageViewHost->show();
        model->start();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(pageViewHost.get()));
    }
    ~MarkupHarness()
    {
        model->stop();
        pageViewHost.reset();
        model.reset();
    }
    QuarnPDFView& view() { return *pageViewHost->view(); }
    platform::PdfDocument& pdf() { return *pdfOf(*view().quarnDocument()); }

    // Puts a mark on the page and selects it, as a click with Select would.
    MarkRef place(const PdfAnnotation& annotation)
    {
        const int object = PdfAnnotations::add(pdf(), 0, annotation);
        const MarkRef mark{0, object};
        MarkupModel::of(*model).chooseTool(quarnkit::MarkupTool::select);
        MarkEditor::of(view()).select(mark);
        return mark;
    }
    PdfAnnotation read(const MarkRef& mark) { return *PdfAnnotations::find(pdf(), 0, mark.object); }
    // The page's marks as saved and opened again.
    std::vector<quarnkit::MarkEntry> saved()
    {
        const auto reopened = platform::PdfDocument::openBytes(pdf().save());
        return quarnkit::MarkCatalog::entries(*reopened, 0);
    }
    quarnkit::ToolMemory storedMemory()
    {
        defaults.synchronize();
        platform::UserDefaults reread(dir.filePath("defaults.json"));
        return quarnkit::ToolMemory::load(reread);
    }
};

inline PdfAnnotation rectangle(bool filled = false)
{
    return *quarnkit::AnnotationFactory::rectangle({100, 100}, {200, 180}, quarnkit::RGBA::ink, 2, filled);
}

} // namespace quarn::markuptest
