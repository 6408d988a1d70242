#pragma once
// One document window: its document and the viewer screen. The title
// carries the modified mark while the document is edited;
// Save and Save As write atomically; Revert reloads the file; closing a
// modified window asks whether to save.
#include "Quarn/App/DocumentController.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <QMainWindow>

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QUndoStack;

namespace quarnkit {
class DocumentError;
class DocumentSaver;
struct SaveRemedies;
class QuarnDocument;
using FileKey = std::pair<quint64, quint64>; // as QuarnDocument.h has it
} // namespace quarnkit

namespace quarn {

class DocumentController;
class QuarnCommands;
class ViewerScreen;

class DocumentWindow : public QMainWindow {
    Q_OBJECT
public:
    DocumentWindow(std::unique_ptr<quarnkit::QuarnDocument> document, const QString& filePath,
                   DocumentController& controller);
    ~DocumentWindow() override;

    quarnkit::QuarnDocument* document() const { return document_.get(); }
    // The document's own stack, behind the title's modified mark.
    QUndoStack* undoStack() const;
    ViewerScreen* screen() const { return screen_; }
    const QString& filePath() const { return filePath_; }
    QString displayName() const;
    bool isDocumentEdited() const;

    // Writes the document over its file; false (after an alert) when it
    // could not be written, in which case the file is as it was. The write
    // runs on a worker while the window stays usable; this waits for it.
    // A file changed on disk since it was opened or saved is not written over
    // without asking. While a save runs, saving again and closing are refused.
    bool save();
    // Writes the document to a new file and makes that the window's file:
    // a file there is replaced only once the user said so (confirmReplace,
    // naming the file written over when a link at the name leads
    // elsewhere), and only that file.
    bool saveAs(const QString& path);
    bool isSaving() const;
    quarnkit::DocumentSaver& saver() const { return *saver_; }
    // Asks for a new file name and saves there (saveAsChosen).
    bool saveAsWithPanel();
    // Saves at the name chosen in the panel: ".pdf" added, a file open in
    // another window refused, then as saveAs.
    bool saveAsChosen(QString path);
    // The same after the save to `refused` was refused: the panel proposes
    // a new name beside it (newNameBeside), not the file refused.
    bool saveAsWithPanel(const QString& refused);
    // A name no file has beside `refused`: "<name> copy.pdf", "<name> copy
    // 2.pdf"…, in its folder, or in the home folder when that folder takes
    // no new file of ours.
    static QString newNameBeside(const QString& refused);
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
    // What identifies the file's version on disk, to see another program's change.
    struct FileStamp {
        dev_t device = 0;
        ino_t inode = 0;
        qint64 modified = 0; // nanoseconds
        qint64 size = 0;
        bool operator==(const FileStamp&) const = default;
    };
    static std::optional<FileStamp> stampOf(const QString& path);

    void buildMenus();
    // Follows the document: the title's mark, the File menu, Undo and Redo, failed steps.
    void followDocument();
    void updateTitle();
    void fitToScreen();
    void setFilePath(const QString& path);
    // Writes to `path` on the worker and waits. A failure is shown; the
    // refusal to write over a file that had to be repaired offers Save As
    // instead (`elsewhere` when the user took it). A new file that may show
    // less than the damaged original is written once the user said so.
    enum class Written { yes, failed, elsewhere };
    // `file` carries what its question saw: the window's own file for
    // Save, which another file at its name now does not stand for (the user
    // is asked first), the file the user agreed to write over, or none.
    Written writeFile(const quarnkit::ChosenFile& file, const QString& shownName);
    // Asks about another program's file at `path` before writing over it,
    // naming the file that would be written when a link at the name leads
    // elsewhere; Overwrite sets `overwriting` to the file asked about. A name
    // saving does not write through is refused instead, with what still works offered.
    DocumentController::ChangedFileAnswer askAboutChange(const QString& path, const QString& shownName,
                                                         std::optional<quarnkit::ChosenFile>* overwriting);
    // The question's value for Save of the window's file; none after a
    // refusal told (`elsewhere` set when the user took Save As).
    std::optional<quarnkit::ChosenFile> ownFile(bool* elsewhere);
    // The one way a refused or failed save is told: `text`, why, and what
    // still works (quarnkit::saveRemedies), each offered; `elsewhere` when
    // the user took Save As (`tookSaveAs` runs first). Export opens the
    // export sheet on a kind that still works; Revert reverts.
    Written refuseSave(const QString& text, const quarnkit::DocumentError& error);
    Written refuseSave(const QString& text, const QString& why, const quarnkit::SaveRemedies& remedies,
                       const std::function<void()>& tookSaveAs = {});
    // saveAs and saveAsChosen, `declined` set when the user said not to
    // replace the file at the name (the panel then opens again on it).
    bool saveAs(const QString& path, bool* declined);
    bool saveAsChosen(QString path, bool* declined);

    DocumentController& controller_;
    void commitPendingTyping();
    std::unique_ptr<quarnkit::QuarnDocument> document_;
    quarnkit::DocumentSaver* saver_;
    std::optional<FileStamp> fileStamp_; // the file as it was at open or at our last save
    std::function<void()> refreshFileActions_;
    QString filePath_;
    ViewerScreen* screen_;
    QuarnCommands* commands_ = nullptr;
    bool closing_ = false;
    // The user chose to keep their work in a new file that could not be read back to be checked.
    bool unverifiedAccepted_ = false;
    bool fitted_ = false;
};

} // namespace quarn
