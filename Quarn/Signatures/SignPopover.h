#pragma once
// The panel under the toolbar's "Fill and sign" button: the saved signatures
// and initials as cards (a click places one; the corner badge asks to delete
// it, inline, before anything is deleted), the chips that start a new
// signature or initials, and the quick-fill stamps (date, checkmark, cross).
// A popup: Escape or a click elsewhere closes it.
#include "QuarnKit/Signatures/Signature.h"

#include <QAbstractButton>
#include <QFrame>
#include <QPointer>
#include <QUuid>

#include <functional>
#include <optional>
#include <vector>

class QHBoxLayout;
class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace quarn {

class ChipButton;
class SignatureLibrary;
class ViewerModel;

// One saved entry: its ink on a paper card, the delete badge under the
// pointer, and the Delete / Keep question while it confirms. A reader meets
// it named by what it holds; while it asks, it places nothing and is not
// enabled, to a reader or to the keys.
class SignatureCard : public QAbstractButton {
    Q_OBJECT
public:
    // `drawnNumber`: which of the drawn entries of its kind it is, from 1.
    SignatureCard(const quarnkit::Signature& signature, QWidget* parent = nullptr, int drawnNumber = 1);
    // What it holds, as a reader hears it: the typed words and the kind
    // ("Ann Lee, signature"), or which drawn one it is ("Drawn initials 2").
    static QString readerName(const quarnkit::Signature& signature, int drawnNumber);
    const quarnkit::Signature& signature() const { return signature_; }
    int cardHeight() const;
    bool isConfirming() const { return confirming_; }
    void setConfirming(bool confirming);
    bool isHovered() const { return hover_; }
    QAbstractButton* deleteBadge() const { return badge_; }
    QAbstractButton* deleteButton() const { return delete_; }
    QAbstractButton* keepButton() const { return keep_; }
    // "Delete?" beside the buttons of a signature card; none on initials.
    QLabel* question() const { return question_; }
    // The card, its badge and its Delete and Keep, in the order Tab visits them.
    QList<QWidget*> tabStops() const;
    QSize sizeHint() const override;

signals:
    void placeRequested();
    void deleteAsked();
    void deleteConfirmed();
    void kept();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void layoutChildren();
    void refresh();
    // The keyboard is on the card or its badge.
    bool holdsKeys() const;

    quarnkit::Signature signature_;
    QImage preview_;
    bool confirming_ = false;
    bool hover_ = false;
    QAbstractButton* badge_;
    QWidget* overlay_;
    QAbstractButton* delete_;
    QAbstractButton* keep_;
    QLabel* question_ = nullptr;
    QHBoxLayout* questionRow_ = nullptr;
};

class SignPopover : public QFrame {
    Q_OBJECT
public:
    SignPopover(ViewerModel* model, SignatureLibrary& library, std::function<void(quarnkit::Signature::Kind)> onAdd,
                std::function<void()> onDone, QWidget* anchor = nullptr);

    // Shows the popover under its anchor, centred on it, on the anchor's screen.
    void present();

    const std::optional<QUuid>& confirming() const { return confirming_; }
    const std::optional<QString>& error() const { return error_; }
    void askDelete(const QUuid& id);
    void deleteEntry(const QUuid& id);
    void keep();
    void place(const quarnkit::Signature& signature);

    const std::vector<SignatureCard*>& cards() const { return cards_; }
    ChipButton* chip(const QString& title) const;
    QLabel* errorLabel() const { return errorLabel_; }
    // The Date chip's help text at this moment.
    static QString dateHelp();

signals:
    void closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void rebuildCards();
    // The controls in the order Tab visits them, hidden ones too.
    QList<QWidget*> tabOrder() const;
    void setError(std::optional<QString> message);
    QWidget* makeSection(const QString& title, bool hint, const std::vector<quarnkit::Signature>& entries, int columns);

    QPointer<ViewerModel> model_;
    SignatureLibrary& library_;
    std::function<void(quarnkit::Signature::Kind)> onAdd_;
    std::function<void()> onDone_;
    QPointer<QWidget> anchor_;
    std::optional<QUuid> confirming_;
    std::optional<QString> error_;

    QVBoxLayout* entriesHost_ = nullptr;
    QWidget* entries_ = nullptr;
    std::vector<SignatureCard*> cards_;
    std::vector<ChipButton*> chips_;
    ChipButton* dateChip_ = nullptr;
    QLabel* errorLabel_ = nullptr;
};

} // namespace quarn
