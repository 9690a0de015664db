#pragma once
// The main window frmMain: logo, message box, progress bar, File and Help menus. It runs the
// encode and decode jobs through its JobRunner and shows their progress.

#include "frontend/core/job_options.h"
#include "frontend/core/resize_rule.h"
#include "frontend/ui/dialog_services.h"

#include <QMainWindow>
#include <functional>

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSettings;

namespace vekmrk {

class JobRunner;
class PayloadWindow;

// The maker's home page, also the caption of its menu command.
inline constexpr const char* kWebAddress = "https://vekmrk.example.org/";

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // `settings` holds the dialogs' remembered choices and must outlive the window.
    MainWindow(QSettings& settings, DialogServices services, QWidget* parent = nullptr);

    JobRunner* runner() const { return m_runner; }
    // Shows the job's dialog and returns its `jobOptions` (empty when not confirmed); tests
    // replace it so that no dialog runs modally.
    void setJobDialog(std::function<QString(JobProgram)> dialog) {
        m_jobDialog = std::move(dialog);
    }
    // The folder from which the Help command looks for vekmrkguiHelp.html (beside it, then in
    // its ../share/vekmrk); the program's folder unless set.
    void setProgramFolder(const QString& folder) { m_programFolder = folder; }

    // The layout the resize rule gave last, in twips.
    const MainLayout& layoutTwips() const { return m_layout; }

    // The payloads of the last decode job that found any; null before.
    PayloadWindow* payloadWindow() const { return m_payloads; }

public slots:
    void runJob(JobProgram program);
    void showHelp();
    void showAbout();
    void openWebPage();
    void showOwnerName();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Closing the window cancels a running job.
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void applyLayout();
    void setMessage(const QString& text);
    void setRunning(bool running);
    QString showJobDialog(JobProgram program);
    void exitRequested();
    void showResult(JobProgram program, const QString& report);
    void restoreSize();

    QSettings& m_settings;
    DialogServices m_services;
    JobRunner* m_runner = nullptr;
    std::function<QString(JobProgram)> m_jobDialog;
    QString m_programFolder;
    MainLayout m_layout;

    QWidget* m_client = nullptr;
    QLabel* m_image = nullptr;
    QPlainTextEdit* m_message = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_cancelJob = nullptr;
    PayloadWindow* m_payloads = nullptr;
    QMenu* m_fileMenu = nullptr;
    QMenu* m_helpMenu = nullptr;
};

} // namespace vekmrk
