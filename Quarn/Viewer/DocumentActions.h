#pragma once
// The actions of one document window on its document as a whole: whether the
// export sheet shows and with which format, whether the document-info panel
// shows, metadata edits (one undo step each) and the file to share. They act
// only on a document that is not locked and has a page, and beep otherwise.
#include "QuarnKit/Document/DocumentMetadata.h"
#include "QuarnKit/Export/ExportSettings.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace quarnkit {
class ShareFolder;
}

namespace quarn {

class ViewerModel;

class DocumentActions : public QObject {
    Q_OBJECT

public:
    // The actions of the window whose viewer is `viewer`: made on first use,
    // a child of the viewer model.
    static DocumentActions& of(ViewerModel& viewer);

    // The window has a document that is not locked and has a page.
    bool available() const;

    bool exportPresented() const { return exportPresented_; }
    void setExportPresented(bool presented);
    // Shows the export sheet, with `preset` chosen when given.
    void presentExport(std::optional<quarnkit::ExportFormat> preset = std::nullopt);
    // The format the next export sheet opens with; the sheet clears it.
    std::optional<quarnkit::ExportFormat> exportPreset() const { return exportPreset_; }
    void setExportPreset(std::optional<quarnkit::ExportFormat> preset) { exportPreset_ = preset; }

    bool infoPresented() const { return infoPresented_; }
    void setInfoPresented(bool presented);
    void toggleInfo();
    // Writes new metadata as one undo step "Document Info", only when it
    // differs from the PDF's once normalised.
    void updateMetadata(const quarnkit::DocumentMetadata& metadata);
    // Replaces the PDF's attributes as one undo step of the document.
    void setDocumentAttributes(const quarnkit::DocumentAttributes& attributes);

    // The file on disk holds everything the window shows.
    bool isSavedAndUnchanged() const;
    // The file to share, or why there is none (`failure`, a sentence).
    struct ShareFile {
        QString path;
        QString failure;
        // None made: the copy may show less than the damaged original, and
        // the user is asked first (acceptCopyLoss, then again).
        bool mayShowLess = false;
    };
    using ShareFileDone = std::function<void(const ShareFile&)>;
    // Hands `done` the file to share: at once the file itself when it is up
    // to date, else, once a worker has made it, a fresh copy in the private
    // share folder (one made in `temporaryRoot` when it is given, for tests).
    // False, and `done` is never called, while another copy is being made.
    bool makeShareFile(ShareFileDone done, const QString& temporaryRoot = {});
    bool isMakingShareFile() const { return makingShareFile_; }
    // Hands `done` Share's own copy for a mail program, once a worker has
    // made it: written from the open document, whether or not the file is up
    // to date, never the file at its path (which another user may have
    // replaced since), under ShareFolder::plainName. Every request makes one.
    void makeMailFile(ShareFileDone done, const QString& temporaryRoot = {});
    // The user agreed that a new copy may show less than the damaged original.
    void acceptCopyLoss();
    // The name the working copy is given.
    QString shareName() const;
    // Runs on the worker before it makes a copy: tests hold it there.
    std::function<void()> shareWorkerHook;
    // Asks the window for its Share menu (ShareMenu::offer).
    void shareCopy();

signals:
    void exportPresentedChanged(bool presented);
    void infoPresentedChanged(bool presented);
    void shareRequested();
    // Any of the above but the request.
    void changed();

private:
    explicit DocumentActions(ViewerModel& viewer);
    // Writes the open document on a worker and hands `done` what `write`
    // made of its bytes in `folder`.
    using WriteCopy = std::function<QString(const quarnkit::ShareFolder& folder, const QByteArray& bytes)>;
    void makeCopy(ShareFileDone done, const QString& temporaryRoot, WriteCopy write);

    ViewerModel& viewer_;
    bool exportPresented_ = false;
    std::optional<quarnkit::ExportFormat> exportPreset_;
    bool infoPresented_ = false;
    bool makingShareFile_ = false;
};

} // namespace quarn
