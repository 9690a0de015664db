#include "frontend/core/job_options.h"

#include <QDir>
#include <QProcess>

namespace vekmrk {

QString formatGain(float gain) {
    return QString::number(static_cast<double>(gain), 'f', 1);
}

QString encodeJobOptions(const EncodeJob& job) {
    return QStringLiteral(" -gain ") + formatGain(job.gain) + QStringLiteral(" -layer ") +
           job.layer + QStringLiteral(" -addts ") + QString::number(job.addts) +
           QStringLiteral(" \"") + job.inFile + QStringLiteral("\" ") + job.payload +
           QStringLiteral(" \"") + job.outFile + QStringLiteral("\"");
}

QString decodeJobOptions(const DecodeJob& job) {
    // Ahead of the layer, which may be a code of several words.
    const QString speed =
        job.speedSearch ? QStringLiteral(" -speed %1").arg(kSpeedSearchPercent) : QString();
    return speed + QStringLiteral(" -layer ") + job.layer + QStringLiteral(" \"") + job.inFile +
           QStringLiteral("\"");
}

QString programFileName(JobProgram program) {
    QString name =
        program == JobProgram::Encoder ? QStringLiteral("vekmrkenc") : QStringLiteral("vekmrkdec");
#ifdef Q_OS_WIN
    name += QStringLiteral(".exe");
#endif
    return name;
}

QString programPath(const QString& programFolder, JobProgram program) {
    QString folder = QDir::toNativeSeparators(programFolder);
    while (folder.size() > 1 && folder.endsWith(QDir::separator())) {
        folder.chop(1);
    }
    if (!folder.endsWith(QDir::separator())) {
        folder += QDir::separator();
    }
    return folder + programFileName(program);
}

QString jobCommandLine(const QString& programFolder, JobProgram program, const QString& logFileName,
                       const QString& jobOptions) {
    return programPath(programFolder, program) + QStringLiteral(" -logfile \"") + logFileName +
           QStringLiteral("\" ") + jobOptions;
}

SplitCommand splitCommandLine(const QString& commandLine) {
    QStringList words = QProcess::splitCommand(commandLine);
    SplitCommand split;
    if (!words.isEmpty()) {
        split.program = words.takeFirst();
        split.arguments = words;
    }
    return split;
}

SplitCommand splitJobCommandLine(const QString& commandLine, const QString& program) {
    if (program.isEmpty() || !commandLine.startsWith(program + u' ')) {
        return splitCommandLine(commandLine);
    }
    SplitCommand split;
    split.program = program;
    split.arguments = QProcess::splitCommand(commandLine.mid(program.size()));
    return split;
}

} // namespace vekmrk
