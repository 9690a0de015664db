// The main window with its job runner: layout, menus, and what the heartbeat shows for each
// state of the progress log; jobs run through a launcher the test controls, or through the real
// QProcess with a stand-in program.

#include "main_window_tests.h"

#include "fake_services.h"
#include "frontend/core/job_options.h"
#include "frontend/ui/job_runner.h"
#include "frontend/ui/main_window.h"
#include "frontend/ui/owner_dialog.h"
#include "frontend/ui/payload_window.h"
#include "frontend/ui/splash_window.h"
#include "ui_test_support.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>

using vekmrk::JobProgram;
using vekmrk::JobRunner;
using vekmrk::MainWindow;

namespace {

const QString kWelcome = QStringLiteral("Welcome to the Vek Audio Watermark desktop tool.\n"
                                        "To get started choose encoding or decoding from the File "
                                        "menu.");
const QString kEncodeOptions = QStringLiteral(" -gain 1.0 -layer public -addts 0 \"in.wav\" AA "
                                              "\"out.wav\"");

// A main window whose jobs are launched by the test: launches are recorded, nothing runs.
struct Window {
    QTemporaryDir dir;
    QSettings settings{dir.filePath("vekmrkwin.ini"), QSettings::IniFormat};
    FakeServices services;
    MainWindow window{settings, services.make()};
    QList<JobRunner::Launch> launches;

    Window() {
        JobRunner* runner = window.runner();
        runner->setProgramFolder(dir.path());
        runner->setLogFolder(dir.path());
        runner->setLauncher(
            [this](const JobRunner::Launch& launch, JobRunner&) { launches.append(launch); });
        window.setJobDialog([](JobProgram) { return kEncodeOptions; });
    }

    JobRunner* runner() const { return window.runner(); }
    QString message() { return child<QPlainTextEdit>(&window, "txtMessage")->toPlainText(); }
    int progress() { return child<QProgressBar>(&window, "pbProgress")->value(); }
    bool menusEnabled() {
        return child<QMenu>(&window, "FileMenu")->menuAction()->isEnabled() &&
               child<QMenu>(&window, "HelpMenu")->menuAction()->isEnabled();
    }
    bool idle() {
        return !runner()->isRunning() && menusEnabled() &&
               !child<QTimer>(&window, "tmrHeartBeat")->isActive() &&
               window.cursor().shape() != Qt::WaitCursor;
    }

    void startJob() { child<QAction>(&window, "miEncode")->trigger(); }
    bool copyLog(const QString& sample) {
        QFile::remove(runner()->logFileName());
        return QFile::copy(QStringLiteral(VEKMRK_LOG_SAMPLES "/") + sample,
                           runner()->logFileName());
    }
};

} // namespace

void MainWindowTests::startsIdleWithWelcomeText() {
    Window w;
    QCOMPARE(w.window.objectName(), QString("frmMain"));
    QCOMPARE(w.window.windowTitle(), QString("Vek Audio Watermarking"));
    QCOMPARE(w.message(), kWelcome);
    QCOMPARE(w.progress(), 0);
    auto* timer = child<QTimer>(&w.window, "tmrHeartBeat");
    QCOMPARE(timer->interval(), 200);
    QVERIFY(w.idle());
    QVERIFY(child<QLabel>(&w.window, "Image1") != nullptr);
}

void MainWindowTests::menusHaveTheirCaptionsAndShortcuts() {
    Window w;
    const struct {
        const char* name;
        const char* caption;
        QKeySequence shortcut;
    } items[] = {
        {"miEncode", "&Encode File...", QKeySequence(Qt::Key_F1)},
        {"miDecode", "&Decode File...", QKeySequence(Qt::Key_F2)},
        {"miExit", "E&xit", QKeySequence(Qt::CTRL | Qt::Key_X)},
        {"miHelp", "Contents", QKeySequence()},
        {"miAbout", "About", QKeySequence()},
        {"miWeb", "https://vekmrk.example.org/", QKeySequence()},
    };
    for (const auto& item : items) {
        auto* action = child<QAction>(&w.window, item.name);
        QVERIFY2(action != nullptr, item.name);
        QCOMPARE(action->text(), QString::fromLatin1(item.caption));
        QCOMPARE(action->shortcut(), item.shortcut);
    }
    QCOMPARE(child<QMenu>(&w.window, "FileMenu")->title(), QString("&File"));
    QCOMPARE(child<QMenu>(&w.window, "HelpMenu")->title(), QString("&Help"));
}

void MainWindowTests::resizeRuleLaysOutControls() {
    Window w;
    w.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    QWidget* client = w.window.centralWidget();
    auto* message = child<QPlainTextEdit>(&w.window, "txtMessage");
    auto* progress = child<QProgressBar>(&w.window, "pbProgress");
    // The designed client area of 464 x 116 pixels gives the designed layout.
    QCOMPARE(client->size(), QSize(464, 116));
    QCOMPARE(message->geometry(), QRect(96, 8, 361, 81));
    QCOMPARE(progress->geometry(), QRect(8, 96, 449, 17));

    // 200 pixels more each way: outer 10080 x 5430 twips.
    w.window.resize(w.window.width() + 200, w.window.height() + 200);
    QTRY_COMPARE(client->size(), QSize(664, 316));
    QCOMPARE(message->geometry(), QRect(96, 8, 561, 281));
    QCOMPARE(progress->geometry(), QRect(8, 296, 649, 17));

    // Far too small: the window stops at a size where the message box keeps its place beside
    // the logo and the progress bar stays below it.
    w.window.resize(60, w.window.height() - 300);
    QTRY_COMPARE(client->height(), 116);
    QCOMPARE(message->width(), 160);
    QVERIFY(progress->y() >= child<QLabel>(&w.window, "Image1")->geometry().bottom());
}

void MainWindowTests::sizeIsRemembered() {
    QTemporaryDir dir;
    QSettings settings(dir.filePath("vekmrkwin.ini"), QSettings::IniFormat);
    FakeServices services;
    {
        MainWindow window(settings, services.make());
        window.show();
        window.resize(700, 300);
        window.close();
    }
    QCOMPARE(settings.value("window/size").toString(), QString("700x300"));
    MainWindow window(settings, services.make());
    QCOMPARE(window.size(), QSize(700, 300));
    settings.setValue("window/size", "5x5");
    MainWindow tiny(settings, services.make());
    QVERIFY(tiny.width() >= tiny.minimumSizeHint().width());
}

void MainWindowTests::cancelledDialogStartsNothing() {
    Window w;
    w.window.setJobDialog([](JobProgram) { return QString(); });
    w.startJob();
    QVERIFY(w.launches.isEmpty());
    QCOMPARE(w.message(), kWelcome);
    QVERIFY(w.idle());
}

void MainWindowTests::runningJobLocksTheMenus() {
    Window w;
    JobProgram asked = JobProgram::Encoder;
    w.window.setJobDialog([&](JobProgram program) {
        asked = program;
        return QString(" -layer public \"in.wav\"");
    });
    child<QAction>(&w.window, "miDecode")->trigger();
    QCOMPARE(asked, JobProgram::Decoder);
    QCOMPARE(w.launches.size(), 1);
    const JobRunner::Launch& launch = w.launches.first();
    QCOMPARE(launch.program,
             QDir(w.dir.path()).filePath(vekmrk::programFileName(JobProgram::Decoder)));
    QCOMPARE(launch.arguments,
             (QStringList{"-logfile", w.runner()->logFileName(), "-layer", "public", "in.wav"}));
    QVERIFY(QFileInfo(w.runner()->logFileName())
                .fileName()
                .contains(QRegularExpression("^wmtmp\\d{3,4}\\.txt$")));

    QCOMPARE(w.message(), QString());
    QVERIFY(!w.menusEnabled());
    QVERIFY(child<QTimer>(&w.window, "tmrHeartBeat")->isActive());
    QCOMPARE(w.window.cursor().shape(), Qt::WaitCursor);
    w.startJob(); // a second job cannot start while one runs
    QCOMPARE(w.launches.size(), 1);
}

void MainWindowTests::heartBeatShowsLogStates_data() {
    QTest::addColumn<QString>("sample");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("progress");
    QTest::addColumn<bool>("ended");

    QTest::newRow("0") << "enc_start.txt"
                       << "CRUNCHING... Please wait" << 0 << false;
    QTest::newRow("42") << "enc_42.txt"
                        << "CRUNCHING... Please wait\n12 packets encoded at an average of 9.0x"
                        << 42 << false;
    QTest::newRow("110 fills the bar") << "dec_110.txt"
                                       << "CRUNCHING... Please wait\n"
                                          "  14 packet(s) decoded at an average of 21.0x"
                                       << 100 << false;
    QTest::newRow("1000") << "enc_done.txt"
                          << "DONE\n6 packets encoded at an average of 12.0x\n"
                             "A watermarked file named: C:\\Music\\in-e.wav was created."
                          << 0 << true;
    QTest::newRow("1000xyz") << "status_long.txt"
                             << "DONE\nfinished" << 0 << true;
    QTest::newRow("-11") << "dec_rate.txt"
                         << "ERROR\nThe job failed with error code 11.\n   0 packet(s) decoded at "
                            "an average of 0.0x\n"
                            "This sampling rate is not supported"
                         << 0 << true;
    QTest::newRow("-10 without its final empty line")
        << "dec_open.txt"
        << "ERROR\nThe job failed with error code 10.\n   0 packet(s) decoded at an average of "
           "0.0x\n"
           "Failure to open C:\\Music\\gone.wav for reading."
        << 0 << true;
}

void MainWindowTests::heartBeatShowsLogStates() {
    Window w;
    w.startJob();
    QFETCH(QString, sample);
    QVERIFY(w.copyLog("enc_42.txt"));
    w.runner()->heartBeat(); // an earlier report, so that a final one visibly resets the bar
    QVERIFY(w.copyLog(sample));
    w.runner()->heartBeat();
    QTEST(w.message(), "message");
    QTEST(w.progress(), "progress");
    QFETCH(bool, ended);
    QCOMPARE(w.idle(), ended);
    QCOMPARE(QFile::exists(w.runner()->logFileName()), !ended);

    // An empty file (the writer truncating it) changes nothing.
    if (!ended) {
        const QString shown = w.message();
        QVERIFY(w.copyLog("empty.txt"));
        w.runner()->heartBeat();
        QCOMPARE(w.message(), shown);
        QVERIFY(w.runner()->isRunning());
    }
}

void MainWindowTests::noLogFileYetChangesNothing() {
    Window w;
    w.startJob();
    QVERIFY(!QFile::exists(w.runner()->logFileName()));
    w.runner()->heartBeat();
    QCOMPARE(w.message(), QString());
    QVERIFY(w.runner()->isRunning());
}

void MainWindowTests::endStateStaysInSight() {
    Window w;
    w.window.show();
    w.startJob();
    QFile log(w.runner()->logFileName());
    QVERIFY(log.open(QIODevice::WriteOnly));
    log.write("1000\r\n");
    for (int line = 0; line < 60; ++line) {
        log.write("A watermarked file named: a long path name was created.\r\n");
    }
    log.close();
    w.runner()->heartBeat();
    auto* box = child<QPlainTextEdit>(&w.window, "txtMessage");
    QVERIFY(box->verticalScrollBar()->maximum() > 0);
    QCOMPARE(box->verticalScrollBar()->value(), 0);
    QVERIFY(!w.message().endsWith('\n'));
}

void MainWindowTests::cancelEndsTheJob() {
    Window w;
    w.window.show();
    w.startJob();
    auto* cancel = child<QPushButton>(&w.window, "butCancelJob");
    QVERIFY(cancel->isVisible());
    QVERIFY(w.copyLog("enc_42.txt"));
    cancel->click();
    QCOMPARE(w.message(), QString("CANCELLED"));
    QVERIFY(w.idle());
    QVERIFY(!cancel->isVisible());
    QVERIFY(!QFile::exists(w.runner()->logFileName()));

    w.startJob();
    w.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    QTest::keyClick(&w.window, Qt::Key_Escape);
    QCOMPARE(w.message(), QString("CANCELLED"));
    QVERIFY(w.idle());
}

void MainWindowTests::readBackAndPayloadsFoundAreShown() {
    Window w;
    w.startJob();
    QCOMPARE(w.launches.first().arguments.last(), QString("-verify"));
    QFile log(w.runner()->logFileName());
    QVERIFY(log.open(QIODevice::WriteOnly));
    log.write("1000\r\nA watermarked file named: out.wav was created.\r\n"
              "2 of 12 packets readable\r\n");
    log.close();
    w.runner()->heartBeat();
    QVERIFY2(w.message().contains("\n2 of 12 packets readable\nWarning: few packets"),
             qPrintable(w.message()));
    QVERIFY(w.window.payloadWindow() == nullptr);

    w.window.setJobDialog([](JobProgram) { return QString(" -layer public \"in.wav\""); });
    child<QAction>(&w.window, "miDecode")->trigger();
    QVERIFY(!w.launches.last().arguments.contains("-verify"));
    log.setFileName(w.runner()->logFileName());
    QVERIFY(log.open(QIODevice::WriteOnly));
    log.write("1000\r\nAnalysis summary for in.wav\r\n"
              "   7 packet(s) decoded at an average of 9.0x\r\n"
              "(x0A1B) - 5 instance(s) - (T 00:15) through (T 01:00)\r\n"
              "(xFF) - 2 instance(s)\r\n");
    log.close();
    w.runner()->heartBeat();
    QVERIFY(w.message().contains("(x0A1B) - 5 instance(s)")); // the raw report stays
    vekmrk::PayloadWindow* payloads = w.window.payloadWindow();
    QVERIFY(payloads != nullptr && payloads->isVisible());
    auto* table = child<QTableWidget>(payloads, "lstPayloads");
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(0, 2)->text(), QString("00:15 - 01:00"));
    table->selectRow(1);
    child<QPushButton>(payloads, "butCopy")->click();
    QCOMPARE(QApplication::clipboard()->text(), QString("FF\t2\t\n"));
}

void MainWindowTests::ownerNameShownCheckedAndWritten() {
    QTemporaryDir dir;
    vekmrk::OwnerPlaces places;
    places.programFolder = dir.filePath("bin");
    places.systemFolder = dir.filePath("system");
    QVERIFY(QDir().mkpath(places.programFolder));
    vekmrk::OwnerDialog dialog(places);
    auto* current = child<QLabel>(&dialog, "lblCurrent");
    auto* name = child<QLineEdit>(&dialog, "txtOwner");
    auto* save = child<QPushButton>(&dialog, "butSave");
    QVERIFY(current->text().contains("No owner name is configured"));
    QVERIFY(child<QLabel>(&dialog, "lblPlace")->text().contains(places.programFolder));

    QTest::keyClicks(name, "private");
    QVERIFY(child<QLabel>(&dialog, "lblProblem")->text().contains("a value of -layer"));
    QVERIFY(!save->isEnabled());
    name->setText("AcmeOwner");
    QVERIFY(save->isEnabled());
    save->click();
    QVERIFY2(current->text().contains("\"AcmeOwner\", from " +
                                      nativePath(places.programFolder + "/vekmrk-owner.txt")),
             qPrintable(current->text()));
}

void MainWindowTests::finalReportWrittenJustBeforeExit() {
    Window w;
    w.startJob();
    QVERIFY(w.copyLog("enc_done.txt"));
    w.runner()->processFinished(w.launches.first().jobId, 0, false);
    QVERIFY(w.message().startsWith("DONE\n"));
    QVERIFY(w.idle());
    QVERIFY(!QFile::exists(w.runner()->logFileName()));
}

void MainWindowTests::programEndingWithoutReport_data() {
    QTest::addColumn<QString>("sample"); // what the log holds when the program ends
    QTest::addColumn<bool>("crashed");
    QTest::addColumn<QString>("message");
    QTest::newRow("no log at all")
        << QString() << false
        << "ERROR\nThe job failed with error code 1.\nThe program ended without reporting the end "
           "of the job.";
    QTest::newRow("progress only") << "enc_42.txt" << false
                                   << "ERROR\nThe job failed with error code 1.\nThe program ended "
                                      "without reporting the end of the job.\n"
                                      "12 packets encoded at an average of 9.0x";
    QTest::newRow("crashed") << "enc_start.txt" << true
                             << "ERROR\nThe program stopped abnormally before it reported the end "
                                "of the job.";
}

void MainWindowTests::programEndingWithoutReport() {
    Window w;
    w.startJob();
    QFETCH(QString, sample);
    if (!sample.isEmpty()) {
        QVERIFY(w.copyLog(sample));
    }
    QFETCH(bool, crashed);
    w.runner()->processFinished(w.launches.first().jobId, 1, crashed);
    QTEST(w.message(), "message");
    QCOMPARE(w.progress(), 0);
    QVERIFY(w.idle());
    QVERIFY(!QFile::exists(w.runner()->logFileName()));
}

void MainWindowTests::programThatCannotStart() {
    Window w;
    w.startJob();
    w.runner()->processFailedToStart(w.launches.first().jobId, "No such file or directory");
    QCOMPARE(w.message(), "ERROR\nThe program could not be started: " + w.launches.first().program +
                              "\nNo such file or directory");
    QVERIFY(w.idle());
}

void MainWindowTests::staleProcessEndIsIgnored() {
    Window w;
    w.startJob();
    QVERIFY(w.copyLog("enc_done.txt"));
    w.runner()->heartBeat();
    w.startJob();
    QCOMPARE(w.launches.size(), 2);
    // The first job's program ends only now: the second job goes on.
    w.runner()->processFinished(w.launches.first().jobId, 0, false);
    w.runner()->processFailedToStart(w.launches.first().jobId, "late");
    QVERIFY(w.runner()->isRunning());
    QCOMPARE(w.message(), QString());
}

void MainWindowTests::everyLogNameTaken() {
    Window w;
    for (int n = 0; n <= 1000; ++n) {
        QVERIFY(touchFile(
            QDir(w.dir.path()).filePath(QString("wmtmp%1.txt").arg(n, 3, 10, QChar('0')))));
    }
    w.startJob();
    QVERIFY(w.launches.isEmpty());
    QVERIFY(w.message().startsWith("ERROR\n"));
    QVERIFY(w.message().contains("wmtmp1000.txt"));
    QVERIFY(w.idle());
}

void MainWindowTests::missingProgramFile() {
    // The default launcher (a real QProcess) on a folder without the programs.
    QTemporaryDir empty;
    JobRunner runner;
    runner.setProgramFolder(empty.path());
    QStringList messages;
    QObject::connect(&runner, &JobRunner::messageChanged,
                     [&](const QString& text) { messages.append(text); });
    QVERIFY(runner.start(JobProgram::Encoder, kEncodeOptions));
    QTRY_VERIFY(!runner.isRunning());
    QVERIFY(messages.last().startsWith("ERROR\r\nThe program could not be started: " +
                                       nativePath(empty.filePath("vekmrkenc"))));
    QVERIFY(!runner.heartBeatTimer()->isActive());
}

void MainWindowTests::realProcessReports_data() {
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QString>("firstLines");
    QTest::newRow("done") << "AA"
                          << "DONE\r\narg: -logfile\r\n";
    QTest::newRow("ends without report") << "BB"
                                         << "ERROR\r\nThe job failed with error code 3.\r\n";
    QTest::newRow("failure report")
        << "CC"
        << "ERROR\r\nThe job failed with error code 10.\r\nFailure to open x.wav";
    QTest::newRow("reason from the error output")
        << "DD"
        << "ERROR\r\nThe job failed with error code 20.\r\nThe output file is the input file: "
           "choose another name.\r\nFailure to open out.wav for writing.\r\n";
}

void MainWindowTests::realProcessReports() {
    QTemporaryDir dir;
    const QString logs = dir.filePath("log folder");
    QVERIFY(QDir().mkpath(logs));
    JobRunner runner;
    runner.setProgramFolder(QStringLiteral(FAKE_PROGRAM_FOLDER));
    runner.setLogFolder(logs);
    QString shown;
    QObject::connect(&runner, &JobRunner::messageChanged,
                     [&](const QString& text) { shown = text; });
    QFETCH(QString, payload);
    const QString input = nativePath(dir.filePath("my music/take 1.wav"));
    vekmrk::EncodeJob job;
    job.inFile = input;
    job.payload = payload;
    job.outFile = nativePath(dir.filePath("my music/take 1-e.wav"));
    QVERIFY(runner.start(JobProgram::Encoder, vekmrk::encodeJobOptions(job)));
    QTRY_VERIFY_WITH_TIMEOUT(!runner.isRunning(), 30000);
    QFETCH(QString, firstLines);
    QVERIFY2(shown.startsWith(firstLines), qPrintable(shown));
    if (payload == "AA") {
        // Paths with blanks arrive as single arguments.
        QVERIFY(shown.contains("\r\narg: " + runner.logFileName() + "\r\n"));
        QVERIFY(shown.contains("\r\narg: " + input + "\r\n"));
    }
    QCOMPARE(QDir(logs).entryList(QDir::Files), QStringList());
}

void MainWindowTests::splashClosesOnCharacterKeysAndClicks() {
    const Qt::Key closing[] = {Qt::Key_A,      Qt::Key_5,      Qt::Key_Space,
                               Qt::Key_Return, Qt::Key_Escape, Qt::Key_Backspace};
    for (const Qt::Key key : closing) {
        QPointer<vekmrk::SplashWindow> splash = new vekmrk::SplashWindow;
        splash->setAttribute(Qt::WA_DeleteOnClose);
        splash->show();
        QTest::keyClick(splash, Qt::Key_Left);
        QTest::keyClick(splash, Qt::Key_F1);
        QTest::keyClick(splash, Qt::Key_Shift);
        QVERIFY(splash->isVisible());
        QTest::keyClick(splash, key);
        QVERIFY2(splash.isNull() || !splash->isVisible(), qPrintable(QKeySequence(key).toString()));
        delete splash;
    }

    vekmrk::SplashWindow splash;
    splash.show();
    QCOMPARE(child<QLabel>(&splash, "lblVersion")->text(), QString("Version 1.1.0"));
    QCOMPARE(child<QLabel>(&splash, "lblProductName")->text(), QString("Vekmrk GUI"));
    QTest::mouseClick(&splash, Qt::LeftButton, {}, QPoint(3, 3)); // the margin outside Frame1
    QVERIFY(splash.isVisible());
    QTest::mouseClick(child<QLabel>(&splash, "lblCopyright"), Qt::LeftButton);
    QVERIFY(!splash.isVisible());
}

void MainWindowTests::missingHelpFileIsReported() {
    Window w;
    const QString bin = w.dir.filePath("bin");
    w.window.setProgramFolder(bin);
    child<QAction>(&w.window, "miHelp")->trigger();
    QCOMPARE(w.services.messages.size(), 1);
    // Both places are named.
    QVERIFY(w.services.messages.first().contains(
        QDir::toNativeSeparators(bin + "/vekmrkguiHelp.html")));
    QVERIFY(w.services.messages.first().contains(
        QDir::toNativeSeparators(w.dir.filePath("share/vekmrk/vekmrkguiHelp.html"))));
}

void MainWindowTests::helpFileFoundInTheInstalledDataFolder() {
    // An installed tree: the program in bin/, the help file in share/vekmrk/.
    Window w;
    QVERIFY(QDir(w.dir.path()).mkpath("bin"));
    QVERIFY(QDir(w.dir.path()).mkpath("share/vekmrk"));
    QFile help(w.dir.filePath("share/vekmrk/vekmrkguiHelp.html"));
    QVERIFY(help.open(QIODevice::WriteOnly));
    help.write("<html><body><h1>Installed help</h1></body></html>");
    help.close();
    w.window.setProgramFolder(w.dir.filePath("bin"));
    child<QAction>(&w.window, "miHelp")->trigger();
    QCOMPARE(w.services.messages.size(), 0);
    QTextBrowser* viewer = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == "helpViewer") {
            viewer = qobject_cast<QTextBrowser*>(top);
        }
    }
    QVERIFY(viewer != nullptr);
    QVERIFY(viewer->toPlainText().contains("Installed help"));
    viewer->close();
}
