#pragma once
// The document-info panel: what is known about the open PDF (size, pages,
// page size, version, dates, creator, producer, security) and its four
// editable texts. Edits stay in a draft until Return, a focus move out of a
// field or the panel's closing commits them through the viewer model, which
// writes them as one undo step. The facts follow every edit of the document;
// the draft follows the document only while no field has the keyboard focus,
// so typing in progress is never overwritten.
#include "QuarnKit/Document/DocumentMetadata.h"

#include <QFrame>
#include <QPointer>
#include <QWidget>

#include <array>
#include <optional>

class QGridLayout;
class QLabel;
class QLineEdit;

namespace quarnkit {
class QuarnDocument;
}

namespace quarn {

class ViewerModel;

class DocumentInfoView : public QWidget {
    Q_OBJECT
public:
    enum class Field { title, author, subject, keywords };

    DocumentInfoView(ViewerModel* model, quarnkit::QuarnDocument* document, QWidget* parent = nullptr);
    // Commits a draft still uncommitted.
    ~DocumentInfoView() override;

    const std::optional<quarnkit::DocumentInfo>& info() const { return info_; }
    std::optional<qint64> fileSize() const { return fileSize_; }
    const quarnkit::DocumentMetadata& draft() const { return draft_; }
    QLineEdit* field(Field field) const { return fields_[size_t(field)]; }
    QString fileName() const;
    QString summary() const;
    // The value shown beside a facts label ("Version", "Producer", …); empty
    // without a facts grid.
    QString fact(const QString& label) const;
    bool showsFacts() const { return factsGrid_ != nullptr; }

    // Hands the draft to the model (which writes only a real change).
    void commit();

    // "12 KB, 3 pages", "Not saved yet, 1 page".
    static QString summaryLine(std::optional<qint64> fileSize, std::optional<int> pageCount);
    // A date as the facts show it; "Unknown" for none.
    static QString dateText(const std::optional<QDateTime>& date);

protected:
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    QWidget* makeHeader();
    QWidget* makeFacts();
    QWidget* makeFields();
    void refresh();
    void fillFacts();
    void showDraft();
    std::optional<Field> focusedField() const;
    void focusMoved(QWidget* from, QWidget* to);

    QPointer<ViewerModel> model_;
    QPointer<quarnkit::QuarnDocument> document_;
    std::optional<quarnkit::DocumentInfo> info_;
    std::optional<qint64> fileSize_;
    quarnkit::DocumentMetadata draft_;

    QLabel* name_ = nullptr;
    QLabel* summary_ = nullptr;
    QWidget* factsGrid_ = nullptr;
    std::vector<std::pair<QString, QLabel*>> facts_;
    std::array<QLineEdit*, 4> fields_{};
};

// The panel as a popover under the window's Document Info button: shown
// while the model's infoPresented is true; closing it (a click elsewhere,
// Escape) sets infoPresented back to false.
class DocumentInfoPopover : public QFrame {
    Q_OBJECT
public:
    DocumentInfoPopover(ViewerModel* model, quarnkit::QuarnDocument* document, QWidget* anchor);
    DocumentInfoView* view() const { return view_; }
    // Places the popover under the anchor, centred on it, and shows it.
    void present();

    // Opens and closes a popover at `anchor` as the model's infoPresented
    // changes, for as long as the anchor lives.
    static void follow(ViewerModel* model, QWidget* anchor);
    // The popover `follow` shows for `anchor`, if any.
    static DocumentInfoPopover* shownFor(QWidget* anchor);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QPointer<ViewerModel> model_;
    QPointer<QWidget> anchor_;
    DocumentInfoView* view_;
};

} // namespace quarn
