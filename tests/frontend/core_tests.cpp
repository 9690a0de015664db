// Front-end rules that need no window: job options and command lines, the payload filter, log
// reports and what a finished job found, log file names and folders, settings, the owner name,
// dialog rules and the main window's resize rule.

#include "frontend/core/dialog_rules.h"
#include "frontend/core/help_file.h"
#include "frontend/core/job_options.h"
#include "frontend/core/job_result.h"
#include "frontend/core/job_settings.h"
#include "frontend/core/log_file_name.h"
#include "frontend/core/log_report.h"
#include "frontend/core/owner_name.h"
#include "frontend/core/payload.h"
#include "frontend/core/resize_rule.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace vekmrk;

Q_DECLARE_METATYPE(vekmrk::JobState)

class CoreTests : public QObject {
    Q_OBJECT
private slots:
    void encodeJobOptions_data();
    void encodeJobOptions();
    void decodeJobOptions_data();
    void decodeJobOptions();
    void commandLineKeepsQuotedLogPathAndTwoSpaces();
    void splitCommandLine_data();
    void splitCommandLine();
    void programFolderWithBlanksStaysOneWord();

    void filterPayload_data();
    void filterPayload();
    void payloadByteCount_data();
    void payloadByteCount();

    void statusCode_data();
    void statusCode();
    void recordedLogReport_data();
    void recordedLogReport();
    void emptyLogChangesNothing();
    void readBackAndPayloadsFound();

    void logNumberRoundsHalfToEven_data();
    void logNumberRoundsHalfToEven();
    void newLogFileNameSkipsExistingFiles();
    void newLogFileNameFindsTheLastFreeName();
    void newLogFileNameGivesUpWhenEveryNameExists();
    void logNumberSourceRepeatsItsSequence();
    void logFolderFallsBackToTemporaryFolder();
    void privateLogFolderIsTheUsersOnly();
    void helpFileBesideTheProgramThenInTheDataFolder();

    void settingsDefaultsWhenAbsent();
    void settingsReopenAsStored();
    void storedGain_data();
    void storedGain();
    void decodeSettingsLeaveEncodeSettingsAlone();
    void ownerNameProblems_data();
    void ownerNameProblems();
    void ownerNameFoundAndWrittenWhereTheProgramsLook();

    void proposeOutputName_data();
    void proposeOutputName();
    void gainSlider_data();
    void gainSlider();
    void decodeLayerRules_data();
    void decodeLayerRules();

    void resizeRule_data();
    void resizeRule();
};

void CoreTests::encodeJobOptions_data() {
    QTest::addColumn<int>("sliderPosition");
    QTest::addColumn<QString>("layer");
    QTest::addColumn<int>("addts");
    QTest::addColumn<QString>("inFile");
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QString>("outFile");
    QTest::addColumn<QString>("expected");

    QTest::newRow("private, time stamp, gain 1.5")
        << 15 << "private" << 1 << "C:\\a.wav"
        << "0A1B"
        << "C:\\a-e.wav"
        << " -gain 1.5 -layer private -addts 1 \"C:\\a.wav\" 0A1B \"C:\\a-e.wav\"";
    QTest::newRow("defaults, blanks in paths")
        << 10 << "public" << 0 << "/home/me/My Music/take 1.wav"
        << "1A2"
        << "/home/me/My Music/take 1-e.wav"
        << " -gain 1.0 -layer public -addts 0 \"/home/me/My Music/take 1.wav\" 1A2 "
           "\"/home/me/My Music/take 1-e.wav\"";
    QTest::newRow("lowest gain") << 3 << "public" << 0 << "a.wav"
                                 << "FF"
                                 << "b.wav"
                                 << " -gain 0.3 -layer public -addts 0 \"a.wav\" FF \"b.wav\"";
    QTest::newRow("highest gain") << 30 << "public" << 0 << "a.wav"
                                  << "FF"
                                  << "b.wav"
                                  << " -gain 3.0 -layer public -addts 0 \"a.wav\" FF \"b.wav\"";
}

void CoreTests::encodeJobOptions() {
    QFETCH(int, sliderPosition);
    EncodeJob job;
    job.gain = gainOfSlider(sliderPosition);
    QFETCH(QString, layer);
    job.layer = layer;
    QFETCH(int, addts);
    job.addts = addts;
    QFETCH(QString, inFile);
    job.inFile = inFile;
    QFETCH(QString, payload);
    job.payload = payload;
    QFETCH(QString, outFile);
    job.outFile = outFile;
    QTEST(vekmrk::encodeJobOptions(job), "expected");
}

void CoreTests::decodeJobOptions_data() {
    QTest::addColumn<QString>("layer");
    QTest::addColumn<QString>("inFile");
    QTest::addColumn<bool>("speedSearch");
    QTest::addColumn<QString>("expected");
    QTest::newRow("public") << "public"
                            << "C:\\a-e.wav" << false << " -layer public \"C:\\a-e.wav\"";
    QTest::newRow("own private") << "private"
                                 << "x.wav" << false << " -layer private \"x.wav\"";
    QTest::newRow("code with blanks, not quoted")
        << "Acme Records"
        << "/tmp/my file.wav" << false << " -layer Acme Records \"/tmp/my file.wav\"";
    QTest::newRow("speed search ahead of a code with blanks")
        << "Acme Records"
        << "a.wav" << true << " -speed 1 -layer Acme Records \"a.wav\"";
}

void CoreTests::decodeJobOptions() {
    DecodeJob job;
    QFETCH(QString, layer);
    job.layer = layer;
    QFETCH(QString, inFile);
    job.inFile = inFile;
    QFETCH(bool, speedSearch);
    job.speedSearch = speedSearch;
    QTEST(vekmrk::decodeJobOptions(job), "expected");
}

void CoreTests::commandLineKeepsQuotedLogPathAndTwoSpaces() {
#ifdef Q_OS_WIN
    QCOMPARE(jobCommandLine("C:/Program Files/Vek", JobProgram::Encoder, "C:\\Temp\\wmtmp007.txt",
                            " -gain 1.0 -layer public -addts 0 \"a.wav\" FF \"b.wav\""),
             QString("C:\\Program Files\\Vek\\vekmrkenc.exe -logfile \"C:\\Temp\\wmtmp007.txt\"  "
                     "-gain 1.0 -layer public -addts 0 \"a.wav\" FF \"b.wav\""));
#else
    QCOMPARE(jobCommandLine("/opt/vek/", JobProgram::Decoder, "/opt/vek/wmtmp007.txt",
                            " -layer public \"a.wav\""),
             QString("/opt/vek/vekmrkdec -logfile \"/opt/vek/wmtmp007.txt\"  -layer public "
                     "\"a.wav\""));
    QCOMPARE(jobCommandLine("/opt/vek", JobProgram::Encoder, "/tmp/wmtmp100.txt", " -layer x"),
             QString("/opt/vek/vekmrkenc -logfile \"/tmp/wmtmp100.txt\"  -layer x"));
#endif
}

void CoreTests::splitCommandLine_data() {
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("encode, blanks in quoted paths")
        << "/opt/vek/vekmrkenc -logfile \"/home/me/my logs/wmtmp007.txt\"  -gain 1.5 -layer "
           "private -addts 1 \"/home/me/My Music/a.wav\" 0A1B \"/home/me/My Music/a-e.wav\""
        << "/opt/vek/vekmrkenc"
        << QStringList{"-logfile",
                       "/home/me/my logs/wmtmp007.txt",
                       "-gain",
                       "1.5",
                       "-layer",
                       "private",
                       "-addts",
                       "1",
                       "/home/me/My Music/a.wav",
                       "0A1B",
                       "/home/me/My Music/a-e.wav"};
    QTest::newRow("layer code with blanks becomes several words")
        << "C:\\Vek\\vekmrkdec -logfile \"C:\\Vek\\wmtmp012.txt\"  -layer Acme Records "
           "\"C:\\a.wav\""
        << "C:\\Vek\\vekmrkdec"
        << QStringList{"-logfile", "C:\\Vek\\wmtmp012.txt", "-layer", "Acme", "Records",
                       "C:\\a.wav"};
    QTest::newRow("backslashes are not escapes") << "vekmrkdec \"C:\\Music\\\" x"
                                                 << "vekmrkdec" << QStringList{"C:\\Music\\", "x"};
}

void CoreTests::splitCommandLine() {
    QFETCH(QString, commandLine);
    const SplitCommand split = vekmrk::splitCommandLine(commandLine);
    QTEST(split.program, "program");
    QTEST(split.arguments, "arguments");
}

void CoreTests::programFolderWithBlanksStaysOneWord() {
    const QString folder = QStringLiteral("/opt/Vek Audio");
    const QString line = jobCommandLine(folder, JobProgram::Decoder, "/tmp/wmtmp001.txt",
                                        " -layer public \"a b.wav\"");
    const SplitCommand split = splitJobCommandLine(line, programPath(folder, JobProgram::Decoder));
    QCOMPARE(split.program,
             QDir::toNativeSeparators("/opt/Vek Audio/") + programFileName(JobProgram::Decoder));
    QCOMPARE(split.arguments,
             (QStringList{"-logfile", "/tmp/wmtmp001.txt", "-layer", "public", "a b.wav"}));
}

void CoreTests::filterPayload_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<bool>("dropped");
    QTest::newRow("1a2g") << "1a2g"
                          << "1A2" << true;
    QTest::newRow("every digit") << "0123456789abcdefABCDEF"
                                 << "0123456789ABCDEFABCDEF" << false;
    QTest::newRow("pasted with blanks") << " 0a 1b\t"
                                        << "0A1B" << true;
    QTest::newRow("nothing left") << "xyz"
                                  << "" << true;
    QTest::newRow("empty") << ""
                           << "" << false;
    QTest::newRow("non-ASCII letters") << QString::fromUtf8("\xc3\xa9"
                                                            "f")
                                       << "F" << true;
}

void CoreTests::filterPayload() {
    QFETCH(QString, typed);
    const FilteredPayload filtered = vekmrk::filterPayload(typed);
    QTEST(filtered.text, "kept");
    QTEST(filtered.dropped, "dropped");
}

void CoreTests::payloadByteCount_data() {
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QString>("label");
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("one digit") << "1"
                               << "(1 byte)";
    QTest::newRow("three digits") << "1A2"
                                  << "(2 bytes)";
    QTest::newRow("four digits") << "0A1B"
                                 << "(2 bytes)";
    QTest::newRow("nine digits") << "0123ABCD5"
                                 << "(5 bytes)";
}

void CoreTests::payloadByteCount() {
    QFETCH(QString, payload);
    QTEST(vekmrk::payloadByteCount(payload), "label");
}

void CoreTests::statusCode_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("code");
    QTest::newRow("zero") << "   0" << 0;
    QTest::newRow("failure with leading blank") << " -10" << -10;
    QTest::newRow("progress above 100") << " 110" << 110;
    QTest::newRow("finished") << "1000" << 1000;
    QTest::newRow("only the first four characters") << "12345" << 1234;
    QTest::newRow("trailing text") << "1000xyz" << 1000;
    QTest::newRow("no number") << "abcd" << 0;
    QTest::newRow("minus alone") << "  - " << 0;
    QTest::newRow("stops at a blank") << " 4 2" << 4;
    QTest::newRow("empty") << "" << 0;
}

void CoreTests::statusCode() {
    QFETCH(QString, line);
    QTEST(parseStatusCode(line), "code");
}

void CoreTests::recordedLogReport_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<JobState>("state");
    QTest::addColumn<int>("progress");
    QTest::addColumn<QString>("message");

    QTest::newRow("encoder starts")
        << "enc_start.txt" << JobState::Running << 0 << "CRUNCHING... Please wait\r\n";
    QTest::newRow("encoder at 42") << "enc_42.txt" << JobState::Running << 42
                                   << "CRUNCHING... Please wait\r\n"
                                      "12 packets encoded at an average of 9.0x\r\n";
    QTest::newRow("decoder at 110, bar full")
        << "dec_110.txt" << JobState::Running << 100
        << "CRUNCHING... Please wait\r\n"
           "  14 packet(s) decoded at an average of 21.0x\r\n";
    QTest::newRow("encoder done")
        << "enc_done.txt" << JobState::Done << 100
        << "DONE\r\n6 packets encoded at an average of 12.0x\r\n"
           "A watermarked file named: C:\\Music\\in-e.wav was created.\r\n";
    QTest::newRow("decoder summary") << "dec_done.txt" << JobState::Done << 100
                                     << "DONE\r\nAnalysis summary for C:\\Music\\in-e.wav\r\n"
                                        "   5 packet(s) decoded at an average of 18.5x\r\n"
                                        "(x0A1B) - 5 instance(s) - (T 00:00) through (T 01:00)\r\n";
    QTest::newRow("sampling rate refused") << "dec_rate.txt" << JobState::Failed << 0
                                           << "ERROR\r\nThe job failed with error code 11.\r\n"
                                              "   0 packet(s) decoded at an average of 0.0x\r\n"
                                              "This sampling rate is not supported\r\n";
    QTest::newRow("open failure keeps its empty line")
        << "dec_open.txt" << JobState::Failed << 0
        << "ERROR\r\nThe job failed with error code 10.\r\n   0 packet(s) decoded at an average of "
           "0.0x\r\n"
           "Failure to open C:\\Music\\gone.wav for reading.\r\n\r\n";
    QTest::newRow("output failure") << "enc_output.txt" << JobState::Failed << 0
                                    << "ERROR\r\nThe job failed with error code 20.\r\n"
                                       "Failure to open C:\\Music\\out.wav for writing.\r\n";
    QTest::newRow("1000xyz") << "status_long.txt" << JobState::Done << 100
                             << "DONE\r\nfinished\r\n";
    QTest::newRow("status without number runs") << "status_text.txt" << JobState::Running << 0
                                                << "CRUNCHING... Please wait\r\nstarting\r\n";
    QTest::newRow("lone CR ends lines") << "lone_cr.txt" << JobState::Running << 35
                                        << "CRUNCHING... Please wait\r\n"
                                           "12 packets encoded at an average of 9.0x\r\n";
    QTest::newRow("status line still being written")
        << "partial.txt" << JobState::Running << 5 << "CRUNCHING... Please wait\r\n";
}

void CoreTests::recordedLogReport() {
    QFETCH(QString, file);
    QFile log(QStringLiteral(VEKMRK_LOG_SAMPLES "/") + file);
    QVERIFY2(log.open(QIODevice::ReadOnly), qPrintable(log.fileName()));
    const std::optional<LogReport> report = parseLogReport(log.readAll());
    QVERIFY(report.has_value());
    QTEST(report->state, "state");
    QFETCH(int, progress);
    if (report->state == JobState::Running) {
        QCOMPARE(reportProgress(*report), progress);
    }
    QTEST(reportMessage(*report), "message");
}

void CoreTests::emptyLogChangesNothing() {
    QFile log(QStringLiteral(VEKMRK_LOG_SAMPLES "/empty.txt"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(!parseLogReport(log.readAll()).has_value());
}

void CoreTests::logNumberRoundsHalfToEven_data() {
    QTest::addColumn<double>("draw");
    QTest::addColumn<int>("number");
    QTest::newRow("0") << 0.0 << 0;
    QTest::newRow("62.5 goes down to even") << 0.0625 << 62;
    QTest::newRow("187.5 goes up to even") << 0.1875 << 188;
    QTest::newRow("7.8125") << 0.0078125 << 8;
    QTest::newRow("999.9 gives 1000") << 0.9999 << 1000;
}

void CoreTests::logNumberRoundsHalfToEven() {
    QFETCH(double, draw);
    QTEST(logNumberOfDraw(draw), "number");
}

void CoreTests::newLogFileNameSkipsExistingFiles() {
    const QList<double> draws{0.007, 0.007, 0.042};
    qsizetype next = 0;
    const QString taken = logFilePath("/logs", 7);
    const std::optional<QString> name = NewLogFileName(
        "/logs", [&] { return draws.at(next++); },
        [&](const QString& path) { return path == taken; });
    QVERIFY(name.has_value());
#ifdef Q_OS_WIN
    QCOMPARE(taken, QString("\\logs\\wmtmp007.txt"));
    QCOMPARE(*name, QString("\\logs\\wmtmp042.txt"));
#else
    QCOMPARE(taken, QString("/logs/wmtmp007.txt"));
    QCOMPARE(*name, QString("/logs/wmtmp042.txt"));
#endif
    QCOMPARE(next, 3);
}

void CoreTests::newLogFileNameFindsTheLastFreeName() {
    const QString free = logFilePath("/logs", 1000);
    const std::optional<QString> name = NewLogFileName(
        "/logs", [] { return 0.5; }, [&](const QString& path) { return path != free; });
    QCOMPARE(name, std::optional<QString>(free));
}

void CoreTests::newLogFileNameGivesUpWhenEveryNameExists() {
    QSet<QString> tried;
    const std::optional<QString> name = NewLogFileName(
        "/logs", [] { return 0.25; },
        [&](const QString& path) {
            tried.insert(path);
            return true;
        });
    QVERIFY(!name.has_value());
    QCOMPARE(tried.size(), qsizetype(1001));
}

void CoreTests::logNumberSourceRepeatsItsSequence() {
    LogNumberSource first;
    LogNumberSource second;
    QSet<int> numbers;
    for (int i = 0; i < 200; ++i) {
        const double r = first();
        QCOMPARE(second(), r);
        QVERIFY(r >= 0.0 && r < 1.0);
        numbers.insert(logNumberOfDraw(r));
    }
    QVERIFY(numbers.size() > 150); // spread over the candidates, not stuck on a few
}

void CoreTests::logFolderFallsBackToTemporaryFolder() {
    QCOMPARE(logFolder(
                 "/opt/vek", [](const QString&) { return true; }, "/tmp"),
             QString("/opt/vek"));
    QCOMPARE(logFolder(
                 "/opt/vek", [](const QString&) { return false; }, "/tmp"),
             QString("/tmp"));
    QTemporaryDir dir;
    QVERIFY(folderIsWritable(dir.path()));
    QVERIFY(!folderIsWritable(dir.filePath("missing/deeper")));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 0); // the probe leaves nothing
}

void CoreTests::helpFileBesideTheProgramThenInTheDataFolder() {
    const QStringList installed = helpFileCandidates("/usr/bin", "../share/vekmrk");
    QCOMPARE(installed,
             (QStringList{"/usr/bin/vekmrkguiHelp.html", "/usr/share/vekmrk/vekmrkguiHelp.html"}));
    QCOMPARE(helpFileCandidates("/opt/Vek Audio/bin/", "../share/vekmrk").at(1),
             QString("/opt/Vek Audio/share/vekmrk/vekmrkguiHelp.html"));

    QStringList asked;
    const auto onlyInstalled = [&](const QString& path) {
        asked.append(path);
        return path.startsWith("/usr/share/");
    };
    QCOMPARE(findHelpFile(installed, onlyInstalled), installed.at(1));
    QCOMPARE(asked, installed);
    QCOMPARE(findHelpFile(installed, [](const QString&) { return true; }), installed.at(0));
    QCOMPARE(findHelpFile(installed, [](const QString&) { return false; }), QString());
}

namespace {

struct IniFile {
    QTemporaryDir dir;
    QString path() const { return dir.filePath("vekmrkwin.ini"); }
};

} // namespace

void CoreTests::settingsDefaultsWhenAbsent() {
    IniFile ini;
    QSettings settings(ini.path(), QSettings::IniFormat);
    const EncodeSettings encode = loadEncodeSettings(settings);
    QCOMPARE(encode.gain, 1.0f);
    QCOMPARE(encode.layer, QString("public"));
    QCOMPARE(encode.dest, QString());
    QCOMPARE(encode.orig, QString());
    QCOMPARE(encode.addts, 0);
    const DecodeSettings decode = loadDecodeSettings(settings);
    QCOMPARE(decode.layer, QString("public"));
    QCOMPARE(decode.otherlayer, QString());
    QCOMPARE(decode.src, QString());
    QVERIFY(!decode.speedsearch);
}

void CoreTests::settingsReopenAsStored() {
    IniFile ini;
    {
        QSettings settings(ini.path(), QSettings::IniFormat);
        EncodeSettings encode;
        encode.gain = gainOfSlider(7);
        encode.layer = "private";
        encode.dest = "D:\\Out\\";
        encode.orig = "C:\\A";
        encode.addts = 1;
        saveEncodeSettings(settings, encode);
        DecodeSettings decode;
        decode.layer = "Acme Records";
        decode.otherlayer = "Acme Records";
        decode.src = "/home/me/My Music";
        decode.speedsearch = true;
        saveDecodeSettings(settings, decode);
    }
    QSettings settings(ini.path(), QSettings::IniFormat);
    // Stored as text, in the sections and keys other installations read.
    QCOMPARE(settings.value("encoding/gain").toString(), QString("0.7"));
    QCOMPARE(settings.value("encoding/addts").toString(), QString("1"));
    QCOMPARE(settings.value("encoding/dest").toString(), QString("D:\\Out\\"));
    QCOMPARE(settings.value("decoding/otherlayer").toString(), QString("Acme Records"));

    const EncodeSettings encode = loadEncodeSettings(settings);
    QCOMPARE(sliderOfGain(encode.gain), 7);
    QCOMPARE(encode.layer, QString("private"));
    QCOMPARE(encode.dest, QString("D:\\Out\\"));
    QCOMPARE(encode.orig, QString("C:\\A"));
    QCOMPARE(encode.addts, 1);
    const DecodeSettings decode = loadDecodeSettings(settings);
    QCOMPARE(decode.layer, QString("Acme Records"));
    QCOMPARE(decode.otherlayer, QString("Acme Records"));
    QCOMPARE(decode.src, QString("/home/me/My Music"));
    QCOMPARE(settings.value("decoding/speedsearch").toString(), QString("1"));
    QVERIFY(decode.speedsearch);
}

void CoreTests::storedGain_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("slider");
    QTest::newRow("0.7") << "0.7" << 7;
    QTest::newRow("lowest") << "0.3" << 3;
    QTest::newRow("highest") << "3.0" << 30;
    QTest::newRow("between steps rounds") << "1.26" << 13;
    QTest::newRow("too high resets") << "5.0" << 10;
    QTest::newRow("too low resets") << "0.1" << 10;
    QTest::newRow("not a number resets") << "loud" << 10;
}

void CoreTests::storedGain() {
    IniFile ini;
    QSettings settings(ini.path(), QSettings::IniFormat);
    QFETCH(QString, stored);
    settings.setValue("encoding/gain", stored);
    QTEST(sliderOfGain(loadEncodeSettings(settings).gain), "slider");
}

void CoreTests::decodeSettingsLeaveEncodeSettingsAlone() {
    IniFile ini;
    QSettings settings(ini.path(), QSettings::IniFormat);
    DecodeSettings decode;
    decode.layer = "private";
    saveDecodeSettings(settings, decode);
    QCOMPARE(loadEncodeSettings(settings).layer, QString("public"));
}

void CoreTests::proposeOutputName_data() {
    QTest::addColumn<QString>("dest");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("proposed");
    QTest::newRow("in.wav") << "C:\\Music\\"
                            << "in.wav"
                            << "C:\\Music\\in-e.wav";
    QTest::newRow("other folder") << "D:\\Out\\"
                                  << "song.wav"
                                  << "D:\\Out\\song-e.wav";
    QTest::newRow("longer extension") << "/a/"
                                      << "song.wave"
                                      << "/a/song.-e.wav";
    QTest::newRow("four characters") << "/a/"
                                     << "a.wa"
                                     << "/a/-e.wav";
    QTest::newRow("short name kept whole") << "/a/"
                                           << "abc"
                                           << "/a/abc-e.wav";
}

void CoreTests::proposeOutputName() {
    QFETCH(QString, dest);
    QFETCH(QString, fileName);
    QTEST(vekmrk::proposeOutputName(dest, fileName), "proposed");
}

void CoreTests::gainSlider_data() {
    QTest::addColumn<float>("gain");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("text");
    QTest::newRow("0.3") << 0.3f << 3 << "0.3";
    QTest::newRow("0.7") << 0.7f << 7 << "0.7";
    QTest::newRow("1.0") << 1.0f << 10 << "1.0";
    QTest::newRow("1.5") << 1.5f << 15 << "1.5";
    QTest::newRow("3.0") << 3.0f << 30 << "3.0";
}

void CoreTests::gainSlider() {
    QFETCH(float, gain);
    QFETCH(int, position);
    QCOMPARE(sliderOfGain(gain), position);
    QTEST(formatGain(gainOfSlider(position)), "text");
}

void CoreTests::decodeLayerRules_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("option");
    QTest::addColumn<QString>("otherlayer");
    QTest::addColumn<QString>("layer");
    QTest::newRow("public") << "public" << 0 << "Acme"
                            << "public";
    QTest::newRow("private") << "private" << 1 << "Acme"
                             << "private";
    QTest::newRow("a code") << "Acme" << 2 << "Acme"
                            << "Acme";
    QTest::newRow("empty code") << "" << 2 << ""
                                << "";
    QTest::newRow("case matters") << "Public" << 2 << "Public"
                                  << "Public";
}

void CoreTests::decodeLayerRules() {
    QFETCH(QString, stored);
    QFETCH(int, option);
    QFETCH(QString, otherlayer);
    QCOMPARE(decodeLayerOption(stored), option);
    QTEST(decodeLayerOfOption(option, otherlayer), "layer");
    QCOMPARE(decodeOkEnabled("x.wav", decodeLayerOfOption(option, otherlayer)),
             !decodeLayerOfOption(option, otherlayer).isEmpty());
}

void CoreTests::resizeRule_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QRect>("message");
    QTest::addColumn<QRect>("progress");
    QTest::newRow("designed size gives the designed layout")
        << 7080 << 2430 << QRect(1440, 120, 5415, 1215) << QRect(120, 1440, 6735, 255);
    QTest::newRow("larger") << 9000 << 4000 << QRect(1440, 120, 7335, 2785)
                            << QRect(120, 3010, 8655, 255);
    QTest::newRow("too small keeps sizes")
        << 1000 << 900 << QRect(1440, 120, 5415, 1215) << QRect(120, 1440, 655, 255);
    QTest::newRow("narrow but tall")
        << 300 << 3000 << QRect(1440, 120, 5415, 1785) << QRect(120, 2010, 6735, 255);
}

void CoreTests::resizeRule() {
    QFETCH(int, width);
    QFETCH(int, height);
    const MainLayout layout = applyResizeRule(MainLayout{}, width, height);
    QTEST(layout.message, "message");
    QTEST(layout.progress, "progress");
}

void CoreTests::readBackAndPayloadsFound() {
    const QString created = "6 packets encoded at an average of 12.0x\r\n"
                            "A watermarked file named: a-e.wav was created.\r\n";
    const std::optional<ReadBack> count = parseReadBack(created + "11 of 12 packets readable\r\n");
    QVERIFY(count.has_value());
    QCOMPARE(count->readable, 11);
    QCOMPARE(count->written, 12);
    QVERIFY(!parseReadBack(created).has_value());
    QCOMPARE(readBackWarning(created + "11 of 12 packets readable\r\n"), QString());
    QVERIFY(readBackWarning(created + "5 of 12 packets readable\r\n").startsWith("Warning: few"));
    QVERIFY(readBackWarning(created + "0 of 0 packets readable\r\n").contains("too short"));
    // The encoder's own warning says why already.
    QCOMPARE(readBackWarning(created + "0 of 3 packets readable\r\n"
                                       "Warning: the input is silent\r\n"),
             QString());

    const QString summary = "Analysis summary for a-e.wav\r\n"
                            "   7 packet(s) decoded at an average of 18.5x\r\n"
                            "(x0A1B) - 5 instance(s) - (T 00:00) through (T 101:45)\r\n"
                            "(xFF) - 2 instance(s)\r\n";
    const QList<FoundPayload> found = parseFoundPayloads(summary);
    QCOMPARE(found.size(), 2);
    QCOMPARE(found.at(0).payload, QString("0A1B"));
    QCOMPARE(found.at(0).instances, 5);
    QCOMPARE(timeRange(found.at(0)), QString("00:00 - 101:45"));
    QCOMPARE(timeRange(found.at(1)), QString());
    QCOMPARE(foundPayloadsText(found), QString("0A1B\t5\t00:00 - 101:45\nFF\t2\t\n"));
    QVERIFY(parseFoundPayloads("   0 packet(s) decoded at an average of 9.0x\r\n").isEmpty());
}

void CoreTests::privateLogFolderIsTheUsersOnly() {
    QTemporaryDir base;
    const std::optional<QString> folder = privateLogFolder(base.path());
    QVERIFY(folder.has_value());
    QVERIFY(QFileInfo(*folder).isDir());
    QVERIFY(folderIsPrivate(*folder));
#ifdef Q_OS_UNIX
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    QCOMPARE(QFileInfo(*folder).permissions() & others, QFile::Permissions());
    // Access widened by someone is narrowed again at the next job.
    QVERIFY(QFile::setPermissions(*folder, QFileInfo(*folder).permissions() | QFile::WriteOther));
    QVERIFY(!folderIsPrivate(*folder));
    QCOMPARE(privateLogFolder(base.path()), folder);
    QVERIFY(folderIsPrivate(*folder));

    // A link planted under the folder's name is never followed.
    QTemporaryDir elsewhere;
    QTemporaryDir linked;
    QVERIFY(QFile::link(elsewhere.path(), QDir(linked.path()).filePath("vekmrkwin")));
    QVERIFY(!privateLogFolder(linked.path()).has_value());
#endif
}

void CoreTests::ownerNameProblems_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("words");
    QTest::newRow("fine") << QByteArray("Acme-Records_2026") << QString();
    QTest::newRow("empty") << QByteArray() << "VEKMRK_OWNER";
    QTest::newRow("blank") << QByteArray("Acme Records") << "holds a blank";
    QTest::newRow("layer word") << QByteArray("private") << "a value of -layer";
    QTest::newRow("option") << QByteArray("-acme") << "starts with \"-\"";
    QTest::newRow("32 bytes") << QByteArray(32, 'a') << "only its last 31 bytes";
    QTest::newRow("check mask 0") << QByteArray("ycianjkiuncopltq") << "check mask 0";
    QTest::newRow("UTF-16") << QByteArray("\xFF\xFE"
                                          "A\0",
                                          4)
                            << "UTF-16";
}

void CoreTests::ownerNameProblems() {
    QFETCH(QByteArray, name);
    QFETCH(QString, words);
    const QString problem = ownerNameProblem(name, "/etc/vekmrk");
    QVERIFY2(words.isEmpty() ? problem.isEmpty() : problem.contains(words), qPrintable(problem));
}

void CoreTests::ownerNameFoundAndWrittenWhereTheProgramsLook() {
    QCOMPARE(ownerNameFolders("/usr/bin/", "/etc/vekmrk"),
             (QStringList{"/usr/bin", "/usr/etc/vekmrk", "/etc/vekmrk"}));
    QCOMPARE(ownerNameFolders("/etc/../usr/bin", "/usr/etc/vekmrk").size(), 2);

    QTemporaryDir dir;
    const QStringList folders{dir.filePath("bin"), dir.filePath("etc/vekmrk"),
                              dir.filePath("system")};
    const auto read = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QVERIFY(QDir().mkpath(folders.at(2)));
    {
        QFile system(folders.at(2) + "/vekmrk-owner.txt");
        QVERIFY(system.open(QIODevice::WriteOnly));
        system.write("\xEF\xBB\xBFSystemOwner\r\nsecond line\r\n");
    }
    OwnerNameSource found = findOwnerName({}, folders, read);
    QCOMPARE(found.name, QByteArray("SystemOwner"));
    QCOMPARE(found.folder, 2);
    QVERIFY(findOwnerName("FromEnvironment", folders, read).fromEnvironment);

    // The first place that can be written comes first for the programs as well; a place they
    // read after one holding a name that cannot be replaced would change nothing.
    const auto onlyEtc = [&](const QString& folder) { return folder == folders.at(1); };
    QCOMPARE(ownerNameWriteFolder(folders, found, onlyEtc), folders.at(1));
    const auto onlySystem = [&](const QString& folder) { return folder == folders.at(2); };
    OwnerNameSource earlier = found;
    earlier.folder = 0;
    QCOMPARE(ownerNameWriteFolder(folders, earlier, onlySystem), QString());
    QVERIFY(ownerFolderWritable(folders.at(1))); // created on writing

    QCOMPARE(writeOwnerName(folders.at(1), "NewOwner"), QString());
    found = findOwnerName({}, folders, read);
    QCOMPARE(found.name, QByteArray("NewOwner"));
    QCOMPARE(found.folder, 1);
    QCOMPARE(read(folders.at(1) + "/vekmrk-owner.txt"), QByteArray("NewOwner\n"));
}

QTEST_GUILESS_MAIN(CoreTests)
#include "core_tests.moc"
