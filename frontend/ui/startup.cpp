#include "frontend/ui/startup.h"

#include "frontend/core/job_settings.h"
#include "frontend/ui/dialog_services.h"
#include "frontend/ui/main_window.h"
#include "frontend/ui/splash_window.h"

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QSettings>
#include <QTimer>

namespace vekmrk {

namespace {

constexpr int kSplashMs = 5000;

} // namespace

int runFrontEnd(QApplication& app) {
    // The splash window may be the only window for a while: closing it must not end the program.
    app.setQuitOnLastWindowClosed(false);
    QPointer<SplashWindow> splash = new SplashWindow;
    splash->setAttribute(Qt::WA_DeleteOnClose);
    splash->show();
    QApplication::processEvents();

    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("vekmrk"),
                       settingsApplicationName());
    MainWindow window(settings, platformDialogServices());

    if (splash != nullptr) {
        QEventLoop wait;
        QTimer::singleShot(kSplashMs, &wait, &QEventLoop::quit);
        QObject::connect(splash, &SplashWindow::dismissed, &wait, &QEventLoop::quit);
        QObject::connect(splash, &QObject::destroyed, &wait, &QEventLoop::quit);
        wait.exec();
    }
    if (splash != nullptr) {
        splash->close();
    }
    window.show();
    app.setQuitOnLastWindowClosed(true);
    return app.exec();
}

} // namespace vekmrk
