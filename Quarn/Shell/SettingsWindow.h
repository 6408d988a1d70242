#pragma once
// The Settings window: two tabs, General and Reading. Every control is bound
// to its user-defaults key and writes a change at once (there is no Apply, OK
// or Cancel); a key that is unset shows the default its readers apply.
#include "QuarnKit/Shell/DefaultPDFHandler.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QAbstractButton;
class QLabel;
class QStackedWidget;
class QTabWidget;

namespace platform {
class UserDefaults;
}
namespace quarnkit {
class ReadingPositionStore;
}

namespace quarn {

class AccentButton;
class ChromeSegmented;
class QuietButton;

// What the window needs of the subsystems that own the settings it shows. A
// service left empty hides what depends on it; the window still binds the
// setting's key.
struct SettingsServices {
    // The default-PDF-app role.
    // Asks who opens PDF files; the answer comes later, on the UI thread (the
    // desktop is asked through a program that may be slow).
    std::function<void(QObject* context, std::function<void(quarnkit::DefaultPDFHandler::HandlerState)>)>
        queryDefaultPDFApp;
    std::function<void(quarnkit::DefaultPDFHandler::Completion, quarnkit::DefaultPDFHandler::Ask)> claimDefaultPDFApp;

    // The history library: how many PDFs it holds, emptying it, and keeping
    // it or not (through the library, so that every view of it hears). The
    // owner calls SettingsView::refreshHistory() when its entries or that
    // choice change.
    std::function<int()> historyCount;
    std::function<void()> clearHistory;
    std::function<void(bool)> setKeepHistory;

    // The updater, for the version row. The owner calls
    // SettingsView::refreshUpdates() when its state changes.
    struct UpdateStatus {
        QString text;              // the state told in a sentence
        bool updateReady = false;  // an update is available or ready to install
        bool busy = false;         // checking, downloading, verifying or installing
        bool updatesItself = true; // false for a copy built without a feed
    };
    std::function<UpdateStatus()> updateStatus;
    std::function<void()> checkForUpdates; // a check asked for from Settings
    std::function<void()> showUpdate;      // the update window, brought to the front

    // Whether this copy has anywhere to send crash reports (its build names
    // report servers); without one the choice of sending is left out.
    std::function<bool()> canSendCrashReports;

    // The default-PDF-app role over DefaultPDFHandler; the history library and
    // the updater are left for their owners to connect (SettingsWindow::setServices).
    static SettingsServices standard();
};

// The version row's title: "Version 1.4 (57), x86-64".
QString settingsVersionLine(const QString& shortVersion, const QString& build, const QString& cpuArchitecture);

class SettingsView : public QWidget {
    Q_OBJECT
public:
    SettingsView(platform::UserDefaults& defaults, quarnkit::ReadingPositionStore& positions, SettingsServices services,
                 QWidget* parent = nullptr);
    ~SettingsView() override;

    void setServices(SettingsServices services);
    QTabWidget* tabs() const { return tabs_; }

    // Reads again whether ravlen opens PDFs, and who does.
    void refreshDefaultApp();
    void showDefaultApp(const quarnkit::DefaultPDFHandler::HandlerState& state);
    // The history's entries, whether it is kept, or the updater's state changed.
    void refreshHistory();
    void refreshUpdates();

protected:
    bool event(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Bindings;
    QWidget* makeGeneral();
    QWidget* makeReading();
    // Shows every bound control as its key reads now.
    void readDefaults();
    void claimDefault();
    void claimFinished(const std::optional<QString>& failure);
    void askToClaim(std::function<void(bool)> answer);
    void forgetPositions();
    void fitToTab();

    platform::UserDefaults& defaults_;
    quarnkit::ReadingPositionStore& positions_;
    SettingsServices services_;
    std::unique_ptr<Bindings> bound_;
    QTabWidget* tabs_ = nullptr;
    QWidget* general_ = nullptr;
    QWidget* reading_ = nullptr;

    // General
    QLabel* handlerStatus_ = nullptr;
    QStackedWidget* handlerControl_ = nullptr;
    QLabel* claimFailure_ = nullptr;
    QWidget* historyRow_ = nullptr;
    QWidget* historyLine_ = nullptr;
    QLabel* historyLineText_ = nullptr;
    QLabel* updateDetail_ = nullptr;
    QLabel* crashDetail_ = nullptr;
    AccentButton* updateButton_ = nullptr;
    QuietButton* checkButton_ = nullptr;
    // Reading
    QuietButton* forgetButton_ = nullptr;
    int remembered_ = 0;
};

// The application's Settings window: made on first use, hidden when closed.
class SettingsWindow : public QObject {
    Q_OBJECT
public:
    // Over the standard user defaults and reading positions; never released.
    static SettingsWindow& shared();

    SettingsWindow(platform::UserDefaults& defaults, quarnkit::ReadingPositionStore& positions,
                   SettingsServices services = SettingsServices::standard());
    ~SettingsWindow() override;

    void setServices(SettingsServices services);
    const SettingsServices& services() const { return services_; }
    // Makes the window on the first call (centred), then brings it to the front.
    void show();
    // None until the first show().
    SettingsView* window() const { return window_; }

private:
    platform::UserDefaults& defaults_;
    quarnkit::ReadingPositionStore& positions_;
    SettingsServices services_;
    QPointer<SettingsView> window_;
};

} // namespace quarn
