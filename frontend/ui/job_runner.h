#pragma once
// Runs one encode or decode job at a time: picks a fresh progress log file, starts the program
// as a hidden process with its command line, and follows the job by reading the log file on
// every heartbeat (200 ms) until it reports the end or a failure. A program that cannot be
// started, or that ends without reporting, also ends the job with an error.

#include "frontend/core/job_options.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

class QProcess;
class QTimer;

namespace vekmrk {

class JobRunner : public QObject {
    Q_OBJECT
public:
    struct Launch {
        int jobId = 0;       // pass back to processFailedToStart / processFinished
        QString commandLine; // the whole command line, as built
        QString program;     // its first word
        QStringList arguments;
    };
    // Starts the program. It reports back through processFailedToStart or processFinished, with
    // the launch's jobId; the default one starts a QProcess without a window.
    using Launcher = std::function<void(const Launch& launch, JobRunner& runner)>;

    explicit JobRunner(QObject* parent = nullptr);
    // A job still running is cancelled: its program is asked to end, and given a few seconds to
    // clean up after itself.
    ~JobRunner() override;

    // Where vekmrkenc and vekmrkdec live; the front end's own folder unless set.
    void setProgramFolder(const QString& folder);
    QString programFolder() const { return m_programFolder; }
    // Where log files go; unless set, the program folder when writable, else the temporary folder.
    void setLogFolder(const QString& folder) { m_logFolder = folder; }
    void setLauncher(Launcher launcher) { m_launcher = std::move(launcher); }
    void setDraw(std::function<double()> draw) { m_draw = std::move(draw); }

    bool isRunning() const { return m_running; }
    QString logFileName() const { return m_logFileName; }
    QTimer* heartBeatTimer() const { return m_timer; }

    // Starts a job with the dialog's `jobOptions`; nothing happens when they are empty or a job
    // runs already. False when nothing was started.
    bool start(JobProgram program, const QString& jobOptions);

    void processFailedToStart(int jobId, const QString& reason);
    void processFinished(int jobId, int exitCode, bool crashed);
    // More of the program's error output; its last lines give the reason for a failure.
    void processErrorOutput(int jobId, const QByteArray& output);

public slots:
    // Ends the running job: its program is asked to stop (it removes its unfinished output
    // file), and the job ends with "CANCELLED" once the program is gone.
    void cancel();
    // One read of the log file: shows the progress, or ends the job on a final code.
    void heartBeat();

signals:
    void messageChanged(const QString& text); // lines end with CR LF
    void progressChanged(int percent);        // 0 ... 100
    void runningChanged(bool running);
    // A job ended with its program's final report (status 1000 and above): its lines after
    // the status line, each ending with CR LF.
    void jobDone(JobProgram program, const QString& report);

private:
    void launchProcess(const Launch& launch);
    void endJob(const QString& message);
    QString resolvedLogFolder() const;

    QString m_programFolder;
    QString m_logFolder;
    Launcher m_launcher;
    std::function<double()> m_draw;
    QTimer* m_timer = nullptr;
    QPointer<QProcess> m_process;
    QString m_logFileName;
    QString m_program;
    JobProgram m_jobProgram = JobProgram::Encoder;
    int m_jobId = 0;
    bool m_running = false;
    bool m_processEnded = false;
    int m_exitCode = 0;
    bool m_crashed = false;
    QByteArray m_errorOutput;
    bool m_failureSeen = false;
    bool m_cancelled = false;
};

} // namespace vekmrk
