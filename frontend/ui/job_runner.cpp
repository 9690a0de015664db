#include "frontend/ui/job_runner.h"

#include "frontend/core/job_result.h"
#include "frontend/core/log_file_name.h"
#include "frontend/core/log_report.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

namespace vekmrk {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
constexpr int kHeartBeatMs = 200;

} // namespace

JobRunner::JobRunner(QObject* parent)
    : QObject(parent), m_programFolder(QCoreApplication::applicationDirPath()),
      m_launcher([](const Launch& launch, JobRunner& runner) { runner.launchProcess(launch); }),
      m_draw(LogNumberSource{}), m_timer(new QTimer(this)) {
    m_timer->setObjectName(QStringLiteral("tmrHeartBeat"));
    m_timer->setInterval(kHeartBeatMs);
    connect(m_timer, &QTimer::timeout, this, &JobRunner::heartBeat);
}

JobRunner::~JobRunner() {
    if (m_process != nullptr && m_process->state() != QProcess::NotRunning) {
        m_process->disconnect(this);
        m_process->terminate();
        constexpr int kCleanUpMs = 5000;
        if (!m_process->waitForFinished(kCleanUpMs)) {
            // Destroying a QProcess kills its program, which would leave its temporary file
            // behind: a program that takes longer is let go instead.
            m_process->setParent(nullptr);
        }
    }
    if (m_running) {
        QFile::remove(m_logFileName);
    }
}

void JobRunner::cancel() {
    if (!m_running || m_cancelled) {
        return;
    }
    m_cancelled = true;
    if (m_process != nullptr && m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        return;
    }
    heartBeat();
}

void JobRunner::setProgramFolder(const QString& folder) {
    m_programFolder = folder;
}

QString JobRunner::resolvedLogFolder() const {
    if (!m_logFolder.isEmpty()) {
        return m_logFolder;
    }
    // The program's folder serves when nobody else can write there; otherwise the user's own
    // log folder, never a folder that others share (they could plant links under log names).
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return logFolder(
        m_programFolder,
        [](const QString& folder) { return folderIsPrivate(folder) && folderIsWritable(folder); },
        privateLogFolder(runtime.isEmpty() ? QDir::tempPath() : runtime).value_or(QString()));
}

bool JobRunner::start(JobProgram program, const QString& jobOptions) {
    if (jobOptions.isEmpty() || m_running) {
        return false;
    }
    const QString folder = resolvedLogFolder();
    if (folder.isEmpty()) {
        emit messageChanged(QStringLiteral("ERROR") + kCrLf +
                            QStringLiteral("No job was started: no folder for its log file could "
                                           "be made that only you can write to.") +
                            kCrLf);
        return false;
    }
    const std::optional<QString> logName =
        NewLogFileName(folder, m_draw, [](const QString& path) { return QFile::exists(path); });
    if (!logName) {
        emit messageChanged(QStringLiteral("ERROR") + kCrLf +
                            QStringLiteral("No job was started: every log file name from "
                                           "wmtmp000.txt to wmtmp1000.txt is taken in ") +
                            QDir::toNativeSeparators(folder) + kCrLf);
        return false;
    }
    m_logFileName = *logName;

    Launch launch;
    launch.jobId = ++m_jobId;
    // The encoder reads its new file back and reports how many packets can be read.
    const QString options =
        program == JobProgram::Encoder ? jobOptions + QStringLiteral(" -verify") : jobOptions;
    launch.commandLine = jobCommandLine(m_programFolder, program, m_logFileName, options);
    const SplitCommand split =
        splitJobCommandLine(launch.commandLine, programPath(m_programFolder, program));
    launch.program = split.program;
    launch.arguments = split.arguments;
    m_program = split.program;
    m_jobProgram = program;
    m_processEnded = false;
    m_exitCode = 0;
    m_crashed = false;
    m_errorOutput.clear();
    m_failureSeen = false;
    m_cancelled = false;

    m_running = true;
    emit messageChanged(QString());
    emit runningChanged(true);
    m_timer->start();
    m_launcher(launch, *this);
    return true;
}

void JobRunner::launchProcess(const Launch& launch) {
    auto* process = new QProcess(this);
    m_process = process;
    process->setProgram(launch.program);
    process->setArguments(launch.arguments);
    // The log file is the program's report; its error output says why a job failed.
    process->setStandardOutputFile(QProcess::nullDevice());
    const int jobId = launch.jobId;
    connect(process, &QProcess::readyReadStandardError, this,
            [this, process, jobId] { processErrorOutput(jobId, process->readAllStandardError()); });
    connect(process, &QProcess::errorOccurred, this,
            [this, process, jobId](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart) {
                    processFailedToStart(jobId, process->errorString());
                    process->deleteLater();
                }
            });
    connect(process, &QProcess::finished, this,
            [this, process, jobId](int exitCode, QProcess::ExitStatus status) {
                processErrorOutput(jobId, process->readAllStandardError());
                processFinished(jobId, exitCode, status == QProcess::CrashExit);
                process->deleteLater();
            });
    process->start(QIODevice::ReadOnly);
}

void JobRunner::processFailedToStart(int jobId, const QString& reason) {
    if (jobId != m_jobId || !m_running) {
        return;
    }
    endJob(QStringLiteral("ERROR") + kCrLf + QStringLiteral("The program could not be started: ") +
           QDir::toNativeSeparators(m_program) + kCrLf + reason + kCrLf);
}

void JobRunner::processFinished(int jobId, int exitCode, bool crashed) {
    if (jobId != m_jobId || !m_running) {
        return;
    }
    m_processEnded = true;
    m_exitCode = exitCode;
    m_crashed = crashed;
    // The program may have written its final report just before it ended.
    heartBeat();
}

void JobRunner::processErrorOutput(int jobId, const QByteArray& output) {
    if (jobId != m_jobId || !m_running) {
        return;
    }
    m_errorOutput += output;
    // Only the last lines matter; a chatty program must not fill the memory.
    constexpr qsizetype kKeptBytes = 8192;
    if (m_errorOutput.size() > kKeptBytes) {
        m_errorOutput.remove(0, m_errorOutput.size() - kKeptBytes);
    }
}

void JobRunner::heartBeat() {
    if (!m_running) {
        return;
    }
    if (m_cancelled) {
        // The program's own final status (a failure on the stop request) is not news.
        if (m_processEnded || m_process == nullptr) {
            endJob(QStringLiteral("CANCELLED") + kCrLf);
        }
        return;
    }
    std::optional<LogReport> report;
    QFile file(m_logFileName);
    if (file.exists() && file.open(QIODevice::ReadOnly)) {
        report = parseLogReport(file.readAll());
        file.close();
    }
    if (report && report->state == JobState::Failed && !m_processEnded && !m_failureSeen &&
        m_process != nullptr && m_process->state() != QProcess::NotRunning) {
        // The program writes its reason before the final code and ends right after: wait one
        // beat for its end, so that the whole reason has arrived.
        m_failureSeen = true;
        return;
    }
    if (report && report->state != JobState::Running) {
        QString message = reportMessage(*report, failureReason(m_errorOutput, report->text));
        if (report->state == JobState::Done) {
            message += readBackWarning(report->text);
        }
        endJob(message);
        if (report->state == JobState::Done) {
            emit jobDone(m_jobProgram, report->text);
        }
        return;
    }
    if (report) {
        emit messageChanged(reportMessage(*report));
        emit progressChanged(reportProgress(*report));
    }
    if (m_processEnded) {
        // The program is gone and its log shows no end: it will never report one.
        QString message = QStringLiteral("ERROR") + kCrLf;
        const QString shown = report ? report->text : QString();
        if (m_crashed) {
            message += QStringLiteral("The program stopped abnormally before it reported the end "
                                      "of the job.") +
                       kCrLf + failureReason(m_errorOutput, shown);
        } else {
            message += failureCodeLine(m_exitCode) + failureReason(m_errorOutput, shown) +
                       QStringLiteral("The program ended without reporting the end of the job.") +
                       kCrLf;
        }
        if (report) {
            message += report->text;
        }
        endJob(message);
    }
}

void JobRunner::endJob(const QString& message) {
    m_timer->stop();
    // A log file that cannot be removed does not keep the window busy; its name is skipped by
    // later jobs.
    QFile::remove(m_logFileName);
    m_running = false;
    emit messageChanged(message);
    emit progressChanged(0);
    emit runningChanged(false);
}

} // namespace vekmrk
