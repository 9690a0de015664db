// One real encode job and one real decode job through the job runner, with the built vekmrkenc
// and vekmrkdec: the log writer of the programs and the log reader of the front end agree.

#include "frontend/core/job_options.h"
#include "frontend/core/job_result.h"
#include "frontend/ui/job_runner.h"
#include "tests/support/wav_fixture.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using vekmrk::JobProgram;
using vekmrk::JobRunner;

namespace {

constexpr int kJobTimeoutMs = 240000;

} // namespace

class EndToEndJobs : public QObject {
    Q_OBJECT
private slots:
    void encodeThenDecode();
};

void EndToEndJobs::encodeThenDecode() {
    QTemporaryDir dir;
    const QString folder = dir.filePath("my music");
    QVERIFY(QDir().mkpath(folder));
    const QString original = QDir::toNativeSeparators(QDir(folder).filePath("take 1.wav"));
    const QString marked = QDir::toNativeSeparators(QDir(folder).filePath("take 1-e.wav"));
    fixture::WavSpec wav;
    wav.rate = 44100;
    wav.channels = 1;
    wav.seconds = 20.0;
    wav.signal = fixture::Signal::Music;
    QVERIFY(fixture::write_wav(original.toStdString(), wav));

    QString shown;    // what the window would show, kept up to date as reports arrive
    JobRunner runner; // log files go to the programs' folder, as in an installation
    QObject::connect(&runner, &JobRunner::messageChanged,
                     [&shown](const QString& text) { shown = text; });
    QString report; // the last finished job's report
    QObject::connect(&runner, &JobRunner::jobDone,
                     [&report](JobProgram, const QString& text) { report = text; });

    vekmrk::EncodeJob encode;
    encode.inFile = original;
    encode.payload = QStringLiteral("0123ABCD");
    encode.outFile = marked;
    runner.setProgramFolder(QFileInfo(QStringLiteral(VEKMRKENC_PATH)).absolutePath());
    QVERIFY(runner.start(JobProgram::Encoder, vekmrk::encodeJobOptions(encode)));
    QTRY_VERIFY_WITH_TIMEOUT(!runner.isRunning(), kJobTimeoutMs);
    QVERIFY2(shown.startsWith(QStringLiteral("DONE\r\n")), qPrintable(shown));
    QVERIFY2(shown.contains(QStringLiteral("A watermarked file named: ") + marked +
                            QStringLiteral(" was created.\r\n")),
             qPrintable(shown));
    QCOMPARE(QFileInfo(runner.logFileName()).absolutePath(),
             QFileInfo(QStringLiteral(VEKMRKENC_PATH)).absolutePath());
    QVERIFY(!QFile::exists(runner.logFileName()));
    QVERIFY(QFileInfo(marked).size() > 44);
    // The encoder read its file back: the count stands under the created line.
    QVERIFY2(shown.contains(QRegularExpression("was created\\.\r\n[1-9]\\d* of \\d+ packets "
                                               "readable\r\n")),
             qPrintable(shown));

    vekmrk::DecodeJob decode;
    decode.inFile = marked;
    runner.setProgramFolder(QFileInfo(QStringLiteral(VEKMRKDEC_PATH)).absolutePath());
    QVERIFY(runner.start(JobProgram::Decoder, vekmrk::decodeJobOptions(decode)));
    QTRY_VERIFY_WITH_TIMEOUT(!runner.isRunning(), kJobTimeoutMs);
    QVERIFY2(shown.startsWith(QStringLiteral("DONE\r\nAnalysis summary for ") + marked +
                              QStringLiteral("\r\n")),
             qPrintable(shown));
    QVERIFY2(shown.contains(QStringLiteral("(x0123ABCD) - ")), qPrintable(shown));
    // The payload list reads the decoder's summary as it is written.
    const QList<vekmrk::FoundPayload> found = vekmrk::parseFoundPayloads(report);
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().payload, QStringLiteral("0123ABCD"));
    QVERIFY(found.first().instances > 0);
    QVERIFY(!QFile::exists(runner.logFileName()));
}

QTEST_GUILESS_MAIN(EndToEndJobs)
#include "e2e_jobs_tests.moc"
