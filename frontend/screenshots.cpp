// vekmrkwin_screenshots <folder>: saves pictures of the main window, both job dialogs and the
// About box as PNG files, for the README. Run it on a display (scripts/screenshots.sh uses Xvfb).
// Nothing is started and no setting of the user is read or written.

#include "frontend/ui/decode_dialog.h"
#include "frontend/ui/dialog_services.h"
#include "frontend/ui/encode_dialog.h"
#include "frontend/ui/job_runner.h"
#include "frontend/ui/main_window.h"
#include "frontend/ui/splash_window.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

using namespace vekmrk;

namespace {

bool save(QWidget* widget, const QString& folder, const QString& name) {
    widget->show();
    QApplication::processEvents();
    const QString path = QDir(folder).filePath(name);
    if (!widget->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::fprintf(stderr, "wrote %s\n", qPrintable(path));
    return true;
}

template <typename T> T* find(QWidget* parent, const char* name) {
    return parent->findChild<T*>(QString::fromLatin1(name));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 1;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    QTemporaryDir scratch;
    QSettings settings(scratch.filePath("vekmrkwin.ini"), QSettings::IniFormat);
    DialogServices services = platformDialogServices();
    bool ok = true;

    MainWindow window(settings, services);
    ok = save(&window, folder, "main_window.png") && ok;

    // A decode job as it ends, fed with a report in the programs' format.
    window.runner()->setLogFolder(scratch.path());
    window.runner()->setLauncher([](const JobRunner::Launch&, JobRunner&) {});
    window.setJobDialog([](JobProgram) { return QStringLiteral(" -layer public \"x.wav\""); });
    window.runJob(JobProgram::Decoder);
    QFile log(window.runner()->logFileName());
    if (log.open(QIODevice::WriteOnly)) {
        log.write("1000\r\nAnalysis summary for /home/ana/Music/concert-e.wav\r\n"
                  "  12 packet(s) decoded at an average of 21.4x\r\n"
                  "(x0123ABCD) - 12 instance(s) - (T 00:00) through (T 02:45)\r\n");
        log.close();
    }
    window.runner()->heartBeat();
    ok = save(&window, folder, "main_window_done.png") && ok;

    EncodeDialog encode(settings, services);
    find<QLineEdit>(&encode, "txtInFile")->setText("/home/ana/Music/concert.wav");
    find<QLineEdit>(&encode, "txtOutFile")->setText("/home/ana/Music/concert-e.wav");
    find<QLineEdit>(&encode, "txtOutFile")->setEnabled(true);
    find<QPushButton>(&encode, "butBrowseOut")->setEnabled(true);
    find<QLineEdit>(&encode, "txtPayload")->setText("0123ABCD");
    find<QSlider>(&encode, "sldGain")->setValue(15);
    encode.UpdateOkButton();
    ok = save(&encode, folder, "encode_dialog.png") && ok;

    DecodeDialog decode(settings, services);
    find<QLineEdit>(&decode, "txtInFile")->setText("/home/ana/Music/concert-e.wav");
    find<QRadioButton>(&decode, "optLayer2")->click();
    find<QLineEdit>(&decode, "txtLayerCode")->setText("Acme Records");
    decode.UpdateOkButton();
    ok = save(&decode, folder, "decode_dialog.png") && ok;

    SplashWindow about;
    ok = save(&about, folder, "about_box.png") && ok;
    return ok ? 0 : 1;
}
