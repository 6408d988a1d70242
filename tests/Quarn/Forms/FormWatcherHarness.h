#pragma once
// A document window in small for the form tests: a real page view on a
// document from the sample files, the forms banner above it, the window's
// undo stack behind Ctrl+Z and Ctrl+Shift+Z, and a viewer model with its own
// settings file.
#include "Platform/PdfForms.h"
#include "Platform/UserDefaults.h"
#include <QUndoStack> // before the view header, which keeps a QPointer to one
#include "Quarn/App/PageViewHost.h"
#include "Quarn/Forms/FormEditor.h"
#include "Quarn/Forms/FormWatcher.h"
#include "Quarn/Forms/FormsBanner.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace quarn::testing {

// A one-page PDF written by hand: the page carries `annots` (references to
// the objects of `extra`, numbered from 4), and the catalog's /AcroForm is
// `acroForm` (none when empty).
inline QByteArray formPdf(const std::string& annots, const std::vector<std::string>& extra, const std::string& acroForm)
{
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R" + (acroForm.empty() ? std::string() : " /AcroForm " + acroForm) + " >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [" + annots + "] >>",
    };
    objects.insert(objects.end(), extra.begin(), extra.end());
    return testsupport::writePdf(objects, "1.7");
}

class FormWindow {
public:
    // `name` is a sample file.
    explicit FormWindow(const std::string& name)
        : FormWindow(quarnkit::QuarnDocument::open(QString::fromStdString(testsupport::corpusPath(name))))
    {}

    FormWindow(std::unique_ptr<quarnkit::QuarnDocument> opened) : document(std::move(opened))
    {
        stack = &document->undoStack();
        model = new ViewerModel(&defaults, &positions, &window);
        auto* content = new QWidget;
        auto* column = new QVBoxLayout(content);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        pageViewHost = new PageViewHost(document.get(), model, content);
        banner = new FormBanner(model, document.get(), content);
        column->addWidget(banner);
        column->addWidget(pageViewHost, 1);
        other = new QLineEdit(content); // a control outside the page view
        column->addWidget(other);
        window.setCentralWidget(content);
        QAction* undo = stack->createUndoAction(&window);
        undo->setShortcut(QKeySequence::Undo);
        window.addAction(undo);
        QAction* redo = stack->createRedoAction(&window);
        redo->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
        window.addAction(redo);
        window.resize(900, 900);
        window.show();
        QApplication::setActiveWindow(&window);
        (void)QTest::qWaitForWindowActive(&window);
        model->start();
        // The view lays its pages out and restores the reading position on the next turns.
        (void)testsupport::waitFor([this] { return model->isReading(); });
        // And a worker reads the form's fields.
        (void)testsupport::waitFor([this] { return !forms().reading(); });
        view()->setFocus(Qt::OtherFocusReason);
        QApplication::processEvents();
    }

    ~FormWindow() { model->stop(); }

    QuarnPDFView* view() const { return pageViewHost->view(); }
    FormWatcher& forms() const { return FormWatcher::of(*model); }
    FormEditor& editor() const { return *forms().editor(); }

    // The field of that name as the watcher knows it (the first widget of a group).
    platform::PdfWidget field(const std::string& name) const
    {
        for (const auto& w : forms().fields())
            if (w.name == name) return w;
        ADD_FAILURE() << "no field " << name;
        return {};
    }
    std::string nameOf(std::optional<int> object) const
    {
        for (const auto& w : forms().fields())
            if (object && w.objectNumber == *object) return w.name;
        return {};
    }
    // The field being typed into, by name.
    std::string editing() const { return nameOf(editor().editingField()); }
    // The field the keyboard is on, typed into or not.
    std::string focused() const
    {
        const auto field = editor().focusedField();
        return field ? field->name : std::string();
    }

    QPoint centreOf(const platform::PdfWidget& w) const
    {
        return view()->placement().convertFromPage(platform::PdfPoint{w.rect.midX(), w.rect.midY()}, w.page).toPoint();
    }
    void click(const platform::PdfWidget& w) const
    {
        QTest::mouseClick(view()->viewport(), Qt::LeftButton, Qt::NoModifier, centreOf(w));
        QApplication::processEvents();
    }
    void click(const std::string& name) const { click(field(name)); }

    // A key to whatever has the focus, as the keyboard would send it.
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) const
    {
        QWidget* target = QApplication::focusWidget();
        QTest::keyClick(target ? target : static_cast<QWidget*>(const_cast<QMainWindow*>(&window)), key, modifiers);
        QApplication::processEvents();
    }
    void type(const QString& text) const { QTest::keyClicks(QApplication::focusWidget(), text); }

    // The widget of that name read afresh from a document.
    static platform::PdfWidget read(const platform::PdfDocument& pdf, const std::string& name)
    {
        for (const auto& w : platform::PdfForms::widgets(pdf))
            if (w.name == name) return w;
        ADD_FAILURE() << "no widget " << name;
        return {};
    }
    platform::PdfWidget read(const std::string& name) const { return read(*pdfOf(*document), name); }

    // Writes the document as a save does and opens what was written.
    std::shared_ptr<platform::PdfDocument> saveAndReopen() const
    {
        const QString path = folder.filePath(QStringLiteral("saved.pdf"));
        document->writeTo(testsupport::chosen(path));
        return platform::PdfDocument::openFile(path.toStdString());
    }

    QTemporaryDir folder;
    platform::UserDefaults defaults{folder.filePath(QStringLiteral("defaults.json"))};
    quarnkit::ReadingPositionStore positions{defaults};
    std::unique_ptr<quarnkit::QuarnDocument> document;
    QMainWindow window; // destroyed before the document it shows
    QUndoStack* stack = nullptr;
    ViewerModel* model = nullptr;
    PageViewHost* pageViewHost = nullptr;
    FormBanner* banner = nullptr;
    QLineEdit* other = nullptr;
};

} // namespace quarn::testing
