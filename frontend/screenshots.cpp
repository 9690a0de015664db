// vekmrkwin_screenshots <folder> [--dark] [--suffix TEXT] [picture...]: saves pictures of the
// front end's windows as PNG files for the README, named <picture><suffix>.png; all of them
// unless some are named (main_window, main_window_encoded, main_window_done, payloads,
// encode_dialog, decode_dialog, owner_name, about_box). --dark takes them in the Fusion style
// with a dark palette. Run it on a display (scripts/screenshots.sh uses Xvfb). Nothing is
// started and no setting of the user is read or written.

#include "frontend/ui/decode_dialog.h"
#include "frontend/ui/dialog_services.h"
#include "frontend/ui/encode_dialog.h"
#include "frontend/ui/job_runner.h"
#include "frontend/ui/main_window.h"
#include "frontend/ui/owner_dialog.h"
#include "frontend/ui/payload_window.h"
#include "frontend/ui/splash_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QStyleFactory>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

using namespace vekmrk;

namespace {

struct Pictures {
    QString folder;
    QString suffix;
    QStringList wanted; // empty: all
    bool ok = true;

    bool wants(const QString& name) const { return wanted.isEmpty() || wanted.contains(name); }

    void save(QWidget* widget, const QString& name) {
        widget->show();
        QApplication::processEvents();
        const QString path = QDir(folder).filePath(name + suffix + QStringLiteral(".png"));
        // 256 colours are plenty for a window and keep the files small.
        const QImage picture = widget->grab().toImage().convertToFormat(
            QImage::Format_Indexed8, Qt::AutoColor | Qt::ThresholdDither);
        if (!picture.save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ok = false;
            return;
        }
        std::fprintf(stderr, "wrote %s\n", qPrintable(path));
    }
};

template <typename T> T* find(QWidget* parent, const char* name) {
    return parent->findChild<T*>(QString::fromLatin1(name));
}

// A dark theme as many desktops have one: light text on dark grey.
QPalette darkPalette() {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Base, QColor(0x24, 0x24, 0x24));
    dark.setColor(QPalette::AlternateBase, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Button, QColor(0x40, 0x40, 0x40));
    dark.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::ToolTipBase, QColor(0x24, 0x24, 0x24));
    dark.setColor(QPalette::ToolTipText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::PlaceholderText, QColor(0x90, 0x90, 0x90));
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    return dark;
}

// Ends the window's job with `report` as the program's final log.
void finishJob(MainWindow& window, JobProgram program, const QString& options,
               const QByteArray& report) {
    window.setJobDialog([options](JobProgram) { return options; });
    window.runJob(program);
    QFile log(window.runner()->logFileName());
    if (log.open(QIODevice::WriteOnly)) {
        log.write(report);
        log.close();
    }
    window.runner()->heartBeat();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Pictures pictures;
    bool dark = false;
    const QStringList args = QApplication::arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) == QStringLiteral("--dark")) {
            dark = true;
        } else if (args.at(i) == QStringLiteral("--suffix") && i + 1 < args.size()) {
            pictures.suffix = args.at(++i);
        } else if (pictures.folder.isEmpty()) {
            pictures.folder = args.at(i);
        } else {
            pictures.wanted.append(args.at(i));
        }
    }
    if (pictures.folder.isEmpty()) {
        std::fprintf(stderr, "usage: %s <folder> [--dark] [--suffix TEXT] [picture...]\n", argv[0]);
        return 1;
    }
    if (dark) {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(darkPalette());
    }
    QDir().mkpath(pictures.folder);
    QTemporaryDir scratch;
    QSettings settings(scratch.filePath("vekmrkwin.ini"), QSettings::IniFormat);
    DialogServices services = platformDialogServices();

    MainWindow window(settings, services);
    window.runner()->setLogFolder(scratch.path());
    window.runner()->setLauncher([](const JobRunner::Launch&, JobRunner&) {});
    if (pictures.wants(QStringLiteral("main_window"))) {
        pictures.save(&window, QStringLiteral("main_window"));
    }
    if (pictures.wants(QStringLiteral("main_window_encoded"))) {
        finishJob(window, JobProgram::Encoder,
                  QStringLiteral(" -gain 1.0 -layer public -addts 0 \"a.wav\" 0123ABCD \"b.wav\""),
                  "1000\r\n  38 packets encoded at an average of 24.6x\r\n"
                  "A watermarked file named: /home/ana/Music/concert-e.wav was created.\r\n"
                  "38 of 38 packets readable\r\n");
        pictures.save(&window, QStringLiteral("main_window_encoded"));
    }
    if (pictures.wants(QStringLiteral("main_window_done")) ||
        pictures.wants(QStringLiteral("payloads"))) {
        finishJob(window, JobProgram::Decoder, QStringLiteral(" -layer public \"x.wav\""),
                  "1000\r\nAnalysis summary for /home/ana/Music/concert-e.wav\r\n"
                  "  14 packet(s) decoded at an average of 21.4x\r\n"
                  "(x0123ABCD) - 12 instance(s) - (T 00:00) through (T 02:45)\r\n"
                  "(x5EED) - 2 instance(s) - (T 03:00) through (T 03:15)\r\n");
        if (pictures.wants(QStringLiteral("main_window_done"))) {
            pictures.save(&window, QStringLiteral("main_window_done"));
        }
        if (pictures.wants(QStringLiteral("payloads")) && window.payloadWindow() != nullptr) {
            find<QTableWidget>(window.payloadWindow(), "lstPayloads")->selectRow(0);
            pictures.save(window.payloadWindow(), QStringLiteral("payloads"));
        }
    }
    if (window.payloadWindow() != nullptr) {
        window.payloadWindow()->hide();
    }
    window.hide();

    if (pictures.wants(QStringLiteral("encode_dialog"))) {
        EncodeDialog encode(settings, services);
        find<QLineEdit>(&encode, "txtInFile")->setText("/home/ana/Music/concert.wav");
        find<QLineEdit>(&encode, "txtOutFile")->setText("/home/ana/Music/concert-e.wav");
        find<QLineEdit>(&encode, "txtOutFile")->setEnabled(true);
        find<QPushButton>(&encode, "butBrowseOut")->setEnabled(true);
        find<QLineEdit>(&encode, "txtPayload")->setText("0123ABCD");
        find<QSlider>(&encode, "sldGain")->setValue(15);
        encode.UpdateOkButton();
        pictures.save(&encode, QStringLiteral("encode_dialog"));
    }
    if (pictures.wants(QStringLiteral("decode_dialog"))) {
        DecodeDialog decode(settings, services);
        find<QLineEdit>(&decode, "txtInFile")->setText("/home/ana/Music/concert-e.wav");
        find<QRadioButton>(&decode, "optLayer2")->click();
        find<QLineEdit>(&decode, "txtLayerCode")->setText("AcmeRecords");
        find<QCheckBox>(&decode, "chkSpeed")->click();
        decode.UpdateOkButton();
        pictures.save(&decode, QStringLiteral("decode_dialog"));
    }
    if (pictures.wants(QStringLiteral("owner_name"))) {
        OwnerPlaces places;
        places.programFolder = scratch.filePath(QStringLiteral("bin"));
        places.systemFolder = QStringLiteral("/etc/vekmrk");
        QDir().mkpath(places.programFolder);
        OwnerDialog owner(places);
        find<QLineEdit>(&owner, "txtOwner")->setText(QStringLiteral("Acme Records"));
        pictures.save(&owner, QStringLiteral("owner_name"));
    }
    if (pictures.wants(QStringLiteral("about_box"))) {
        SplashWindow about;
        pictures.save(&about, QStringLiteral("about_box"));
    }
    return pictures.ok ? 0 : 1;
}
