#pragma once
// One document window: its document, its undo stack and the viewer screen.
// The title carries the modified mark while the undo stack is not clean;
// Save and Save As write atomically; Revert reloads the file; closing a
// modified window asks whether to save.
#include "Quarn/App/DocumentController.h"

#include <QMainWindow>

#include <memory>

class QUndoStack;

namespace quarnkit { class QuarnDocument; }

namespace quarn {

class DocumentController;
class ViewerScreen;

class DocumentWindow : public QMainWindow {
    Q_OBJECT
public:
    DocumentWindow(std::unique_ptr<quarnkit::QuarnDocument> document, const QString& filePath,
                   DocumentController& controller);
    ~DocumentWindow() override;

    quarnkit::QuarnDocument* document() const { return document_.get(); }
    QUndoStack* undoStack() const { return undoStack_; }
    ViewerScreen* screen() const { return screen_; }
    const QString& filePath() const { return filePath_; }
    QString displayName() const;
    bool isDocumentEdited() const;

    // Writes the document over its file; false (after an alert) when it
    // could not be written, in which case the file is as it was.
    bool save();
    // Writes the document to a new file and makes that the window's file.
    bool saveAs(const QString& path);
    // Asks for a new file name and saves there.
    bool saveAsWithPanel();
    // Reloads the file, dropping every change since the last save.
    bool revert();
    void revertWithQuestion();

    // The unsaved-changes question, asked only when there are changes
    // (after words still being typed become an edit); discard otherwise.
    DocumentController::CloseAnswer askBeforeClosing();
    // Closes without asking again: the question was answered already.
    void closeAnswered();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildMenus();
    void updateTitle();
    void fitToScreen();
    void setFilePath(const QString& path);

    DocumentController& controller_;
    void watchUnrecordedEdits();
    void commitPendingTyping();
    std::unique_ptr<quarnkit::QuarnDocument> document_;
    bool unrecordedEdits_ = false; // edits no undo step records, since the last save
    QString filePath_;
    QUndoStack* undoStack_;
    ViewerScreen* screen_;
    bool closing_ = false;
    bool fitted_ = false;
};

} // namespace quarn
