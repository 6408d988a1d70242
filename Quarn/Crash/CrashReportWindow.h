#pragma once
// The crash-report prompt: a small dark window that says the application
// quit unexpectedly last time and what a report holds, with "Don't Send",
// "Send" and a check box to send automatically from then on. It names no
// report, count or date: the same prompt serves one report or three. Made
// once by the reporter and reused; Send and Don't Send hide it.
//
// Return sends; Escape, the Close key and the window's close button decline.
// A close that the user did not ask for (the application quitting for an
// update, or the session ending) is no answer: the reports stay unhandled
// and are asked about at the next launch.
#include <QWidget>

class QCheckBox;
class QLabel;

namespace quarn {

class AccentButton;
class CrashReporter;
class QuietButton;

// The window's content: the message, the check box and the button bar; it
// follows the reporter's check box and calls its answers.
class CrashReportPrompt : public QWidget {
    Q_OBJECT
public:
    static constexpr int width = 460;

    CrashReportPrompt(CrashReporter& reporter, const QString& appName, QWidget* parent = nullptr);

    QLabel* title() const { return title_; }
    QLabel* explanation() const { return explanation_; }
    QCheckBox* sendAutomatically() const { return sendAutomatically_; }
    QuietButton* dontSendButton() const { return dontSend_; }
    AccentButton* sendButton() const { return send_; }

private:
    QLabel* title_ = nullptr;
    QLabel* explanation_ = nullptr;
    QCheckBox* sendAutomatically_ = nullptr;
    QuietButton* dontSend_ = nullptr;
    AccentButton* send_ = nullptr;
};

class CrashReportWindow : public QWidget {
    Q_OBJECT
public:
    CrashReportWindow(CrashReporter& reporter, const QString& appName);
    ~CrashReportWindow() override;

    CrashReportPrompt* prompt() const { return prompt_; }
    // Centred when it is not showing, then shown in front; it takes the
    // focus only from ravlen's own windows, never from another application.
    void present();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    CrashReporter& reporter_;
    CrashReportPrompt* prompt_;
};

} // namespace quarn
