#pragma once
// The small text view laid over a text box or a note while its words are
// typed on the page. Plain text only, with its own undo history (the
// document's undo stack never sees keystrokes); it reports text changes,
// commits and cancels to its owner, which places it and builds the mark.
#include "Platform/PdfGeometry.h"
#include "Quarn/Markup/MarkRef.h"
#include "Quarn/Viewer/QuarnPDFView.h"

#include <QPointer>
#include <QTextEdit>

#include <functional>

namespace quarn {

class InlineEditor : public QTextEdit {
    Q_OBJECT

public:
    enum class Style { text, note };

    InlineEditor(Style style, const QFont& font, const QColor& textColor, const QColor& background, QSizeF inset,
                 QWidget* parent = nullptr);
    ~InlineEditor() override;

    Style style() const { return style_; }
    QSizeF inset() const { return inset_; }
    // The size the editor needs for its text: a text box grows right and
    // down and never wraps; a note keeps its width, wraps and grows down.
    QSizeF fittingSize(double minWidth) const;

    // A widget that lives and dies with the editor (the box of a note being
    // placed); deleted with it.
    void setCompanion(QWidget* widget);
    QWidget* companion() const { return companion_; }

    std::function<void()> onCommit;
    std::function<void()> onCancel;
    std::function<void()> onGrow;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    const Style style_;
    const QSizeF inset_;
    QPointer<QWidget> companion_;
};

// What the open editor types into: a new box or note at a page point, or an
// existing one (by object number).
struct EditorTarget {
    enum class Kind { newText, text, newNote, note };
    Kind kind = Kind::newText;
    int page = -1;
    platform::PdfPoint point; // where a new one was asked for
    int object = 0;           // an existing one

    bool isNew() const { return kind == Kind::newText || kind == Kind::newNote; }
    bool isNote() const { return kind == Kind::newNote || kind == Kind::note; }
    static EditorTarget newText(int page, platform::PdfPoint at) { return {Kind::newText, page, at, 0}; }
    static EditorTarget newNote(int page, platform::PdfPoint at) { return {Kind::newNote, page, at, 0}; }
    static EditorTarget text(const MarkRef& mark) { return {Kind::text, mark.page, {}, mark.object}; }
    static EditorTarget note(const MarkRef& mark) { return {Kind::note, mark.page, {}, mark.object}; }
};

} // namespace quarn
