#pragma once
// A document window in small for the signing tests: the Sign toolbar item and
// the Sign menu over a real page view, a signature library in a folder of
// the test's own, and the window's undo stack.
#include "Platform/PdfAnnotations.h"
#include "Quarn/Signatures/SigningModel.h"
#include "Platform/UserDefaults.h"
#include <QUndoStack> // before the view header, which keeps a QPointer to one
#include "Quarn/Signatures/SignCommands.h"
#include "Quarn/Signatures/SignToolbarItem.h"
#include "Quarn/Signatures/SignatureLibrary.h"
#include "Quarn/App/PageViewHost.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

namespace quarn::signtest {

class SigningWindow {
public:
    explicit SigningWindow(const QByteArray& pdf = testsupport::makeTextPdf(2))
    {
        const QString path = dir.filePath(QStringLiteral("doc.pdf"));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(pdf);
        file.close();
        document = quarnkit::QuarnDocument::open(path);
        stack = &document->undoStack();
        model = new ViewerModel(&defaults, &positions, &window);
        model->setDocument(document.get());
        auto* content = new QWidget;
        auto* column = new QVBoxLayout(content);
        column->setContentsMargins(0, 0, 0, 0);
        item = new SignToolbarItem(model, content, &library);
        column->addWidget(item, 0, Qt::AlignLeft);
        pageViewHost = new PageViewHost(document.get(), model, content);
        column->addWidget(pageViewHost, 1);
        window.setCentralWidget(content);
        commands = new SignCommands(model, &window, &library);
        window.menuBar()->addMenu(commands->menu());
        window.resize(900, 900);
        window.show();
        QApplication::setActiveWindow(&window);
        (void)QTest::qWaitForWindowActive(&window);
        model->start();
        EXPECT_TRUE(testsupport::waitFor([this] { return SigningModel::of(*model).canSign(); }));
    }
    ~SigningWindow() { model->stop(); }

    QuarnPDFView& view() const { return *pageViewHost->view(); }
    std::vector<platform::PdfAnnotation> marks(int page = 0) const
    {
        std::vector<platform::PdfAnnotation> result;
        for (const auto& a : platform::PdfAnnotations::list(*pdfOf(*view().quarnDocument()), page))
            if (a.subtype != "Popup" && a.subtype != "Link" && a.subtype != "Widget") result.push_back(a);
        return result;
    }
    QString libraryFile() const { return library.store().filePath(); }

    QTemporaryDir dir;
    platform::UserDefaults defaults{dir.filePath(QStringLiteral("defaults.json"))};
    quarnkit::ReadingPositionStore positions{defaults};
    SignatureLibrary library{dir.filePath(QStringLiteral("data"))};
    std::unique_ptr<quarnkit::QuarnDocument> document;
    QMainWindow window;
    QUndoStack* stack = nullptr;
    ViewerModel* model = nullptr;
    SignToolbarItem* item = nullptr;
    PageViewHost* pageViewHost = nullptr;
    SignCommands* commands = nullptr;
};

} // namespace quarn::signtest
