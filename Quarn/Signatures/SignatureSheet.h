#pragma once
// The window-modal sheet in which the user makes a new signature or new
// initials: drawn on a paper-coloured pad or typed and set in a handwriting
// font. It builds the Signature and hands it to its save handler; it neither
// stores nor places anything itself. Ctrl+Z removes the last stroke while the
// pad shows; Escape cancels; Return saves when Save is enabled.
#include "QuarnKit/Signatures/Signature.h"
#include "QuarnKit/Signatures/SignatureFont.h"

#include <QAbstractButton>
#include <QDialog>

#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QStackedWidget;

namespace quarn {

class AccentButton;
class ChipButton;
class ChromeSegmented;
class FlatField;
class SignaturePad;
class SignatureFontCard;

class SignatureSheet : public QDialog {
    Q_OBJECT
public:
    enum class Mode { draw, type };
    // Keeps the new signature; throws (a SignatureStoreError, or any
    // std::exception) when it could not, and the sheet shows the message.
    using SaveHandler = std::function<void(const quarnkit::Signature&)>;

    // `fullName`: the account's full name, the default text of type mode.
    SignatureSheet(quarnkit::Signature::Kind kind, SaveHandler onSave, QWidget* parent = nullptr,
                   std::vector<quarnkit::SignatureFont> fonts = quarnkit::SignatureFont::installed(),
                   QString fullName = defaultFullName());
    ~SignatureSheet() override;

    // The account's full name (from its GECOS entry).
    static QString defaultFullName();
    // The default text for a kind: the full name trimmed, or for initials the
    // first letters of its first three words, upper-cased.
    static QString defaultName(quarnkit::Signature::Kind kind, const QString& fullName);

    quarnkit::Signature::Kind kind() const { return kind_; }
    void setKind(quarnkit::Signature::Kind kind);
    Mode mode() const { return mode_; }
    void setMode(Mode mode);
    const quarnkit::InkStrokes& strokes() const { return strokes_; }
    QString name() const;
    const std::optional<std::string>& fontId() const { return fontId_; }
    void chooseFont(const std::string& id);
    std::optional<quarnkit::SignatureFont> selectedFont() const;
    const std::optional<QString>& error() const { return error_; }
    bool canSave() const;
    bool isSaved() const { return saved_; }

    void undoStroke();
    void clearStrokes();
    // Builds the signature and hands it over; closes the sheet when it was kept.
    void save();

    SignaturePad* pad() const { return pad_; }
    FlatField* nameField() const { return nameField_; }
    AccentButton* saveButton() const { return saveButton_; }
    ChipButton* undoButton() const { return undoButton_; }
    ChipButton* clearButton() const { return clearButton_; }
    QLabel* errorLabel() const { return errorLabel_; }
    const std::vector<SignatureFontCard*>& fontCards() const { return cards_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeDrawArea();
    QWidget* makeTypeArea();
    void setError(std::optional<QString> message);
    void refresh();

    SaveHandler onSave_;
    quarnkit::Signature::Kind kind_;
    Mode mode_ = Mode::draw;
    quarnkit::InkStrokes strokes_;
    std::optional<std::string> fontId_;
    std::optional<QString> error_;
    bool saved_ = false;
    bool nameSet_ = false;
    std::vector<quarnkit::SignatureFont> fonts_;
    QString fullName_;

    QLabel* title_ = nullptr;
    ChromeSegmented* kindSwitch_ = nullptr;
    ChromeSegmented* modeSwitch_ = nullptr;
    QStackedWidget* work_ = nullptr;
    QWidget* drawArea_ = nullptr;
    SignaturePad* pad_ = nullptr;
    FlatField* nameField_ = nullptr;
    std::vector<SignatureFontCard*> cards_;
    ChipButton* undoButton_ = nullptr;
    ChipButton* clearButton_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    AccentButton* saveButton_ = nullptr;
};

// One font of type mode: the name set in the font on a paper card, and the
// font's name below. The chosen card is checked, drawn with the accent
// outline; a click only asks for the card (the sheet chooses).
class SignatureFontCard : public QAbstractButton {
    Q_OBJECT
public:
    SignatureFontCard(const quarnkit::SignatureFont& font, QWidget* parent = nullptr);
    const quarnkit::SignatureFont& signatureFont() const { return font_; }
    // The text shown; `placeholder` draws it faint.
    void setPreview(const QString& text, bool placeholder);
    const QString& previewText() const { return preview_; }
    bool showsPlaceholder() const { return placeholder_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void nextCheckState() override {}

private:
    quarnkit::SignatureFont font_;
    QString family_;
    QString preview_;
    bool placeholder_ = true;
};

} // namespace quarn
