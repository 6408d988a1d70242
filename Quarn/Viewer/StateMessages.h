#pragma once
// What a document window shows in place of its pages when there is nothing
// to read yet: a centred message (an empty or unreadable PDF), and the
// password gate of a locked PDF.
#include <QWidget>

#include <functional>

class QLabel;

namespace quarn {

class AccentButton;
class FlatField;
class Shake;

// The icon tile of both views: a symbol in a 56 × 56 rounded tile.
class StateIcon : public QWidget {
    Q_OBJECT
public:
    explicit StateIcon(const QString& symbol, QWidget* parent = nullptr);
    QString symbol() const { return symbol_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
};

// An icon tile, a title, a detail line (wrapped within 340) and optional actions, centred.
class StateMessage : public QWidget {
    Q_OBJECT
public:
    // `actions` may be null; the message then has none. It takes ownership.
    StateMessage(const QString& symbol, const QString& title, const QString& detail, QWidget* actions = nullptr,
                 QWidget* parent = nullptr);
    QString title() const;
    QString detail() const;
    QWidget* actions() const { return actions_; }

private:
    QLabel* title_;
    QLabel* detail_;
    QWidget* actions_;
};

// The password form of an encrypted PDF. `unlock` is asked with the typed
// password and calls its answer, at once or later on this thread, with
// whether it opened the document; `onUnlock` runs once it did. The field
// and the button wait for the answer.
class LockedGate : public QWidget {
    Q_OBJECT
public:
    using Answer = std::function<void(bool opened)>;
    LockedGate(std::function<void(const QString&, Answer)> unlock, std::function<void()> onUnlock,
               QWidget* parent = nullptr);

    // An unlock attempt, as Return in the field or the Unlock button start it.
    void attempt();
    // An attempt waits for its answer.
    bool checking() const { return checking_; }

    QString password() const;
    bool failed() const { return failed_; }
    int attempts() const { return attempts_; }
    FlatField* field() const { return field_; }
    AccentButton* unlockButton() const { return button_; }
    QLabel* errorLine() const { return error_; }
    Shake* shake() const { return shake_; }
    // When the desktop asks for less motion (motion::reduced()), a wrong
    // password shows the error line but does not shake.

protected:
    void showEvent(QShowEvent* event) override;

private:
    void setFailed(bool failed);
    void setChecking(bool checking);
    void answered(bool opened);
    std::function<void(const QString&, Answer)> unlock_;
    std::function<void()> onUnlock_;
    FlatField* field_;
    AccentButton* button_;
    QLabel* error_;
    Shake* shake_;
    bool failed_ = false;
    bool checking_ = false;
    int attempts_ = 0;
    bool focusedOnce_ = false;
};

} // namespace quarn
