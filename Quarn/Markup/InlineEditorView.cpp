// The mark editor's in-place typing of text boxes and notes: where the editor
// opens, how it looks, where it sits as the view scrolls and zooms, and what
// its text becomes when it closes.
#include "Quarn/Markup/InlineEditor.h"
#include "Quarn/Markup/MarkEditor.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "QuarnKit/Markup/MarkEdits.h"
#include "QuarnKit/Markup/Restyle.h"
#include "QuarnKit/Shell/Design.h"
#include "Quarn/Design/ErrorAlert.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>

namespace quarn {

using platform::PdfRect;
using quarnkit::Annotation;
namespace AnnotationFactory = quarnkit::AnnotationFactory;

namespace {

QColor colorOf(const quarnkit::AnnotationColor& c) { return QColor::fromRgbF(float(c.r), float(c.g), float(c.b)); }

constexpr double noteEditorWidth = 240;
constexpr double margin = 8; // the editor stays this far inside the view

// Moves a frame inside the area without changing its size; the top wins
// over the bottom when it does not fit.
QRectF keepInside(QRectF r, const QRectF& area)
{
    if (r.right() > area.right() - margin) r.moveLeft(std::max(area.right() - r.width() - margin, margin));
    if (r.left() < margin) r.moveLeft(margin);
    if (r.bottom() > area.bottom() - margin) r.moveTop(area.bottom() - margin - r.height());
    if (r.top() < margin) r.moveTop(margin);
    return r;
}

// The note about to be placed, drawn where it will land while its words are
// typed: the tool's colour with a thin outline and three bars of "text".
class PendingNote : public QWidget {
public:
    PendingNote(const QColor& tint, QWidget* parent) : QWidget(parent), tint_(tint)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_TranslucentBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(QPen(QColor::fromRgbF(0, 0, 0, 0.35f), 1));
        painter.setBrush(tint_);
        painter.drawRoundedRect(r, 4, 4);
        const QRectF inner = r.adjusted(r.width() * 0.24, r.height() * 0.3, -r.width() * 0.24, -r.height() * 0.3);
        const QColor bar = QColor::fromRgbF(0, 0, 0, 0.45f);
        const double h = 1.5;
        painter.fillRect(QRectF(inner.left(), inner.top() - h / 2, inner.width(), h), bar);
        painter.fillRect(QRectF(inner.left(), inner.center().y() - h / 2, inner.width(), h), bar);
        painter.fillRect(QRectF(inner.left(), inner.bottom() - h / 2, inner.width() * 0.6, h), bar);
    }

private:
    QColor tint_;
};

} // namespace

void MarkEditor::beginEditing(const EditorTarget& target)
{
    commitEditing();
    if (!document() || target.page < 0 || target.page >= view_.pageCount()) return;
    std::optional<Annotation> mark;
    if (!target.isNew()) {
        mark = annotation(MarkRef{target.page, target.object});
        if (!mark) return;
    }

    InlineEditor* editor = nullptr;
    if (target.isNote()) {
        QFont font = QApplication::font();
        font.setPixelSize(13);
        editor = new InlineEditor(InlineEditor::Style::note, font, quarnkit::Design::paper(),
                                  quarnkit::Design::chrome(), QSizeF(10, 8), view_.viewport());
        if (mark) editor->setPlainText(QString::fromStdString(mark->contents));
        editor->resize(int(noteEditorWidth), editor->height());
    } else {
        const QColor textColor = mark && mark->fontColor ? colorOf(*mark->fontColor) : view_.style().color.toQColor();
        std::optional<QColor> backing;
        if (mark && mark->interiorColor) backing = colorOf(*mark->interiorColor);
        else if ((textColor.redF() + textColor.greenF() + textColor.blueF()) / 3.0 > 0.82)
            backing = QColor::fromRgbF(0.12f, 0.12f, 0.12f, 0.92f); // white words need something dark under them
        const double size =
            mark ? (mark->fontSize > 0 ? mark->fontSize : view_.style().textSize) : view_.style().textSize;
        const quarnkit::TextFont face = mark ? quarnkit::textFontOf(mark->fontName) : view_.style().font;
        const double scale = std::max(view_.scaleFactor(), 0.05);
        // The words at their size on screen, never under 9 pixels.
        const QFont font = quarnkit::screenFont(face, std::max(size * scale, 9.0));
        const QSizeF inset(std::max(7 * scale, 3.0), std::max(5 * scale, 2.0));
        editor = backing
                     ? new InlineEditor(InlineEditor::Style::text, font, Qt::white, *backing, inset, view_.viewport())
                     : new InlineEditor(InlineEditor::Style::text, font, textColor, QColor::fromRgbF(1, 1, 1, 0.97f),
                                        inset, view_.viewport());
        if (mark) editor->setPlainText(QString::fromStdString(mark->contents));
    }
    if (target.kind == EditorTarget::Kind::newNote) {
        // The note to be, drawn where it will land while its words are typed.
        auto* box = new PendingNote(view_.style().color.toQColor(), view_.viewport());
        box->show();
        editor->setCompanion(box);
    }

    QPointer<QuarnPDFView> owner(&view_);
    editor->onCommit = [owner, this] {
        if (owner) commitEditing();
    };
    editor->onCancel = [owner, this] {
        if (owner) closeEditor();
    };
    editor->onGrow = [owner, this] {
        if (owner) layoutEditor();
    };
    editor_ = editor;
    editorTarget_ = std::make_shared<EditorTarget>(target);
    editor->show();
    editor->raise();
    layoutEditor();
    refresh();
    editor->setFocus(Qt::OtherFocusReason);
    editor->selectAll();
}

void MarkEditor::layoutEditor()
{
    auto* editor = qobject_cast<InlineEditor*>(editor_.data());
    if (!editor || !editorTarget_ || !document()) return;
    const EditorTarget& target = *editorTarget_;
    if (target.page < 0 || target.page >= view_.pageCount()) return;
    const QRectF area = view_.viewport()->rect();
    QRectF frame;

    const auto besideNote = [&](const QRectF& r) {
        const QSizeF size = editor->fittingSize(noteEditorWidth);
        double x = r.right() + 8;
        if (x + size.width() > area.right() - margin) x = r.left() - 8 - size.width(); // flips to the left
        return QRectF(QPointF(x, r.top()), size);
    };

    switch (target.kind) {
    case EditorTarget::Kind::newText: {
        const QSizeF size = editor->fittingSize(60);
        const QPointF p = view_.placement().convertFromPage(target.point, target.page);
        // The first line is centred on the click, as the built box will be.
        const double half = 0.5 * QFontMetricsF(editor->font()).lineSpacing();
        frame = QRectF(QPointF(p.x(), p.y() - half - editor->inset().height()), size);
        break;
    }
    case EditorTarget::Kind::text: {
        const auto mark = annotation(MarkRef{target.page, target.object});
        if (!mark) return;
        const QRectF r = view_.placement().convertFromPage(mark->rect, target.page);
        frame = QRectF(r.topLeft(), editor->fittingSize(std::max(r.width(), 60.0))); // grows right and down
        break;
    }
    case EditorTarget::Kind::newNote: {
        const double n = AnnotationFactory::noteSize;
        const PdfRect box =
            quarnkit::MarkupGeometry::clamp(PdfRect{target.point.x - n / 2, target.point.y - n / 2, n, n},
                                            (*view_.placement().geometry(target.page)).cropBox);
        const QRectF r = view_.placement().convertFromPage(box, target.page);
        if (QWidget* pending = editor->companion()) pending->setGeometry(r.toAlignedRect());
        frame = besideNote(r);
        break;
    }
    case EditorTarget::Kind::note: {
        const auto mark = annotation(MarkRef{target.page, target.object});
        if (!mark) return;
        frame = besideNote(view_.placement().convertFromPage(mark->rect, target.page));
        break;
    }
    }
    const QRectF r = keepInside(frame, area);
    // Rounded, not grown: a note editor stays exactly its width.
    editor->setGeometry(qRound(r.x()), qRound(r.y()), qRound(r.width()), qRound(r.height()));
}

void MarkEditor::closeEditor()
{
    if (!editor_) return;
    QPointer<QWidget> editor = std::exchange(editor_, nullptr);
    editorTarget_.reset();
    const bool hadFocus = editor->hasFocus();
    if (auto* inline_ = qobject_cast<InlineEditor*>(editor.data())) {
        // Taking the editor away ends its editing, which must commit nothing.
        inline_->onCommit = nullptr;
        inline_->onCancel = nullptr;
        inline_->onGrow = nullptr;
        if (QWidget* pending = inline_->companion()) pending->hide(); // the note to be goes with it
    }
    editor->hide();
    editor->deleteLater();
    refresh();
    if (hadFocus) view_.setFocus(Qt::OtherFocusReason);
}

void MarkEditor::commitEditing()
{
    if (committingText_ || !editor_ || !editorTarget_) return;
    committingText_ = true;
    const QString text = qobject_cast<QTextEdit*>(editor_.data())->toPlainText();
    const EditorTarget target = *editorTarget_;
    closeEditor();
    const std::string words = text.toStdString();
    // A new box or note on a page that takes no mark says so (addMark).
    if (target.page < view_.pageCount() && view_.placement().geometry(target.page)) {
        const PdfRect pageBounds = view_.placement().geometry(target.page)->cropBox;
        const quarnkit::ToolStyle& style = view_.style();
        try {
            switch (target.kind) {
            case EditorTarget::Kind::newText:
                if (const auto mark =
                        AnnotationFactory::freeText(target.point, words, style.color, style.textSize, style.font,
                                                    pageBounds, view_.placement().geometry(target.page)->rotation))
                    addMark(target.page, *mark, QStringLiteral("Text")); // left unselected
                break;
            case EditorTarget::Kind::newNote:
                if (const auto mark = AnnotationFactory::note(target.point, words, style.color, pageBounds)) {
                    if (const auto added = addMark(target.page, *mark, QStringLiteral("Note"))) select(added);
                }
                break;
            case EditorTarget::Kind::text:
            case EditorTarget::Kind::note: {
                const bool note = target.kind == EditorTarget::Kind::note;
                const auto page = pageId(target.page);
                const auto before = annotation(MarkRef{target.page, target.object});
                if (!page || !before) break;
                Annotation after = *before;
                // Empty words keep the old ones: removing a mark is a delete of its own.
                if (!quarnkit::Restyle::words(after, note ? quarnkit::MarkKind::note : quarnkit::MarkKind::text, words,
                                              style.font, style.textSize, pageBounds))
                    break;
                quarnkit::MarkEdits::change(*document(), *page, *before, after,
                                            note ? QStringLiteral("Note") : QStringLiteral("Text"));
                break;
            }
            }
        } catch (const std::exception& error) {
            showErrorAlert(&view_, QString::fromUtf8(error.what()));
        }
    }
    committingText_ = false;
}

} // namespace quarn
