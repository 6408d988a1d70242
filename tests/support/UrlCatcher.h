#pragma once
// While it lives, the desktop is not asked to open URLs of one scheme: each
// goes to a function of the test's instead (what "Show in Folder" opens
// when no file manager answers on the session bus, as under the tests).
#include <QDesktopServices>
#include <QObject>
#include <QUrl>

#include <functional>

namespace testsupport {

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher(const QString& scheme, std::function<void(const QUrl&)> seen) : scheme_(scheme), seen_(std::move(seen))
    {
        QDesktopServices::setUrlHandler(scheme_, this, "open");
    }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(scheme_); }

public slots:
    void open(const QUrl& url) { seen_(url); }

private:
    QString scheme_;
    std::function<void(const QUrl&)> seen_;
};

} // namespace testsupport
