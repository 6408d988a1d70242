#pragma once
// The Software Update window: a small, fixed-width dark panel that redraws
// from the updater's published fields. A heading and subtitle for the state,
// a spinner while work runs, the release notes, the line that says why this
// copy cannot replace itself, the progress or failure line, the updater's
// note, and a row of buttons that changes with the state. Closing it with its
// title-bar button means "later"; its own buttons only hide it.
#include "Quarn/Update/UpdateController.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>

class QAbstractButton;
class QLabel;
class QVariantAnimation;

namespace quarn {

class AccentButton;
class DownloadProgress;
class InfoLine;
class QuietButton;
class ReleaseNotes;
class Spinner;
class UpdateController;

class UpdateView : public QWidget {
    Q_OBJECT
public:
    static constexpr int panelWidth = 460;

    explicit UpdateView(UpdateController& updates, QWidget* parent = nullptr);
    ~UpdateView() override;

    // Recomputes every text, line and button from the controller.
    void refresh();
    // Sizes the window to the panel: 460 wide, as tall as its content; the
    // top-left corner stays where it is.
    void fitToContent();

    QString heading() const;
    QString subtitle() const;
    // The buttons on show, leading to trailing.
    QList<QAbstractButton*> shownButtons() const;
    bool spinnerShown() const;
    // While the panel eases to the height of a new state (0.15 s, ease-out).
    bool easing() const;

signals:
    // A button that ends the interaction asks its holder to hide the window.
    void hideRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    enum class Action { none, hide, check, cancelCheck, later, skip, install, retry };
    struct Button {
        QString title;
        Action action = Action::none;
        bool enabled = true;
        bool key = false; // Escape for the quiet button, Return for the accent one
    };
    void run(Action action);
    // What a copy without an update feed shows, whatever the state.
    void showCannotUpdate(const QString& name, const QString& current);
    void setButtons(bool skip, const std::optional<Button>& quiet, const std::optional<Button>& accent);

    UpdateController& updates_;
    QLabel* heading_ = nullptr;
    QLabel* subtitle_ = nullptr;
    Spinner* spinner_ = nullptr;
    QWidget* notesBox_ = nullptr;
    ReleaseNotes* notes_ = nullptr;
    QWidget* blockerBox_ = nullptr;
    InfoLine* blocker_ = nullptr;
    QWidget* progressBox_ = nullptr;
    DownloadProgress* progress_ = nullptr;
    QWidget* stateLineBox_ = nullptr;
    InfoLine* stateLine_ = nullptr;
    QWidget* noteBox_ = nullptr;
    InfoLine* noteLine_ = nullptr;
    QuietButton* skip_ = nullptr;
    QuietButton* quiet_ = nullptr;
    AccentButton* accent_ = nullptr;
    Button quietRole_;
    Button accentRole_;
    std::optional<UpdateState::Kind> shownKind_;
    bool easeNextFit_ = false;
    QVariantAnimation* resize_ = nullptr;
};

// The holder of the one Software Update window.
class UpdateWindow : public QObject {
    Q_OBJECT
public:
    // Over the shared updater; never released.
    static UpdateWindow& shared();
    explicit UpdateWindow(UpdateController& updates, QObject* parent = nullptr);
    ~UpdateWindow() override;

    // Makes the window on first use, fits it, centres it unless it is on
    // screen, and brings it to the front; with `activate` it also takes the
    // keyboard focus, without it the application stays where it was.
    void show(bool activate);
    // Puts the window away without closing it: the updater is not told.
    void hide();
    // None until the first show().
    UpdateView* window() const { return window_; }

private:
    UpdateController& updates_;
    QPointer<UpdateView> window_;
};

} // namespace quarn
