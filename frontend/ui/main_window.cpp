#include "frontend/ui/main_window.h"

#include "frontend/core/help_file.h"
#include "frontend/core/job_result.h"
#include "frontend/ui/decode_dialog.h"
#include "frontend/ui/dialog_parts.h"
#include "frontend/ui/encode_dialog.h"
#include "frontend/ui/job_runner.h"
#include "frontend/ui/logo.h"
#include "frontend/ui/owner_dialog.h"
#include "frontend/ui/payload_window.h"
#include "frontend/ui/splash_window.h"
#include "frontend/ui/twips.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>

namespace vekmrk {

namespace {

// The installed data folder as seen from the installed bin folder.
#ifndef VEKMRKWIN_DATA_FROM_BIN
#define VEKMRKWIN_DATA_FROM_BIN "../share/vekmrk"
#endif

// Borders, title bar and menu bar of the designed window, in twips: the rule works on the outer
// size, which is the client size plus these.
constexpr int kNonClientWidth = kMainOuterWidth - kMainClientWidth;
constexpr int kNonClientHeight = kMainOuterHeight - kMainClientHeight;

// The smallest client area: the logo's height above the progress bar, and a message box of at
// least this width beside the logo (the resize rule leaves it 1665 twips narrower than the
// window).
constexpr int kMinMessageWidth = 2400;
constexpr int kMinClientWidth = kMinMessageWidth + 1665 - kNonClientWidth;
constexpr int kMinClientHeight = kMainClientHeight;

// The window's size as the user left it, "<width>x<height>" in pixels.
const QString kSizeKey = QStringLiteral("window/size");

} // namespace

MainWindow::MainWindow(QSettings& settings, DialogServices services, QWidget* parent)
    : QMainWindow(parent), m_settings(settings), m_services(std::move(services)),
      m_runner(new JobRunner(this)), m_programFolder(QCoreApplication::applicationDirPath()) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Vek Audio Watermarking"));
    setFont(arialFont(8.25));
    m_jobDialog = [this](JobProgram program) { return showJobDialog(program); };

    buildControls();
    buildMenus();

    connect(m_runner, &JobRunner::messageChanged, this, &MainWindow::setMessage);
    connect(m_runner, &JobRunner::progressChanged, m_progress, &QProgressBar::setValue);
    connect(m_runner, &JobRunner::runningChanged, this, &MainWindow::setRunning);
    connect(m_runner, &JobRunner::jobDone, this, &MainWindow::showResult);

    m_cancelJob = new QPushButton(QStringLiteral("Cancel job"), this);
    m_cancelJob->setObjectName(QStringLiteral("butCancelJob"));
    m_cancelJob->setToolTip(QStringLiteral("Stops the running job (Esc)"));
    m_cancelJob->setVisible(false);
    menuBar()->setCornerWidget(m_cancelJob);
    connect(m_cancelJob, &QPushButton::clicked, m_runner, &JobRunner::cancel);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, m_runner, &JobRunner::cancel);
    if (QApplication::windowIcon().isNull()) {
        QApplication::setWindowIcon(QIcon(productLogo(QSize(64, 64))));
    }

    m_progress->setValue(0);
    setMessage(QStringLiteral("Welcome to the Vek Audio Watermark desktop tool.\r\n"
                              "To get started choose encoding or decoding from the File menu."));
    m_client->setMinimumSize(twipsToPixels(kMinClientWidth), twipsToPixels(kMinClientHeight));
    resize(twipsToPixels(kMainClientWidth),
           twipsToPixels(kMainClientHeight) + menuBar()->sizeHint().height());
    restoreSize();
}

void MainWindow::restoreSize() {
    const QStringList parts = m_settings.value(kSizeKey).toString().split(u'x');
    if (parts.size() != 2) {
        return;
    }
    bool wideOk = false;
    bool highOk = false;
    const int width = parts.at(0).toInt(&wideOk);
    const int height = parts.at(1).toInt(&highOk);
    // The minimum size keeps a stored size that is too small (or absurd) from hiding controls.
    constexpr int kLargest = 16384;
    if (wideOk && highOk && width > 0 && height > 0 && width <= kLargest && height <= kLargest) {
        resize(QSize(width, height).expandedTo(minimumSizeHint()));
    }
}

void MainWindow::buildControls() {
    m_client = new QWidget(this);
    usePaperBackground(m_client);
    setCentralWidget(m_client);
    m_client->installEventFilter(this);

    m_image = new QLabel(m_client);
    m_image->setObjectName(QStringLiteral("Image1"));
    placeTwips(m_image, 120, 120, 1275, 1275);
    m_image->setPixmap(productLogo(m_image->size()));

    m_message = new QPlainTextEdit(m_client);
    m_message->setObjectName(QStringLiteral("txtMessage"));
    m_message->setReadOnly(true);
    m_message->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    m_progress = new QProgressBar(m_client);
    m_progress->setObjectName(QStringLiteral("pbProgress"));
    m_progress->setRange(0, 100);
    m_progress->setTextVisible(false);
    applyLayout();
}

void MainWindow::buildMenus() {
    m_fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    m_fileMenu->setObjectName(QStringLiteral("FileMenu"));
    QAction* encode = m_fileMenu->addAction(QStringLiteral("&Encode File..."));
    encode->setObjectName(QStringLiteral("miEncode"));
    encode->setShortcut(QKeySequence(Qt::Key_F1));
    connect(encode, &QAction::triggered, this, [this] { runJob(JobProgram::Encoder); });
    QAction* decode = m_fileMenu->addAction(QStringLiteral("&Decode File..."));
    decode->setObjectName(QStringLiteral("miDecode"));
    decode->setShortcut(QKeySequence(Qt::Key_F2));
    connect(decode, &QAction::triggered, this, [this] { runJob(JobProgram::Decoder); });
    QAction* owner = m_fileMenu->addAction(QStringLiteral("&Owner Name..."));
    owner->setObjectName(QStringLiteral("miOwner"));
    connect(owner, &QAction::triggered, this, &MainWindow::showOwnerName);
    m_fileMenu->addSeparator()->setObjectName(QStringLiteral("FileSep"));
    QAction* exitAction = m_fileMenu->addAction(QStringLiteral("E&xit"));
    exitAction->setObjectName(QStringLiteral("miExit"));
    exitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    connect(exitAction, &QAction::triggered, this, &MainWindow::exitRequested);

    m_helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    m_helpMenu->setObjectName(QStringLiteral("HelpMenu"));
    QAction* help = m_helpMenu->addAction(QStringLiteral("Contents"));
    help->setObjectName(QStringLiteral("miHelp"));
    connect(help, &QAction::triggered, this, &MainWindow::showHelp);
    m_helpMenu->addSeparator()->setObjectName(QStringLiteral("HelpSep"));
    QAction* about = m_helpMenu->addAction(QStringLiteral("About"));
    about->setObjectName(QStringLiteral("miAbout"));
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);
    QAction* web = m_helpMenu->addAction(QString::fromLatin1(kWebAddress));
    web->setObjectName(QStringLiteral("miWeb"));
    connect(web, &QAction::triggered, this, &MainWindow::openWebPage);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_client && event->type() == QEvent::Resize) {
        const QSize client = static_cast<QResizeEvent*>(event)->size();
        m_layout = applyResizeRule(m_layout, pixelsToTwips(client.width()) + kNonClientWidth,
                                   pixelsToTwips(client.height()) + kNonClientHeight);
        applyLayout();
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::applyLayout() {
    m_message->setGeometry(twipsToPixels(m_layout.message));
    m_progress->setGeometry(twipsToPixels(m_layout.progress));
}

void MainWindow::setMessage(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    while (shown.endsWith(u'\n')) {
        shown.chop(1);
    }
    m_message->setPlainText(shown);
    // A running job shows its latest lines; an ended one its first line, "DONE" or "ERROR",
    // however long the report below it.
    const bool running = m_runner->isRunning();
    m_message->moveCursor(running ? QTextCursor::End : QTextCursor::Start);
    m_message->ensureCursorVisible();
}

void MainWindow::exitRequested() {
    // Ctrl+X is also the habit of "cut": a running job's result is not thrown away unasked.
    if (m_runner->isRunning() &&
        !m_services.askYesNo(this, QStringLiteral("Vek Audio Watermarking"),
                             QStringLiteral("A job is running. Cancel it and quit?"))) {
        return;
    }
    m_runner->cancel();
    QCoreApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    m_settings.setValue(kSizeKey, QStringLiteral("%1x%2").arg(width()).arg(height()));
    m_settings.sync();
    m_runner->cancel();
    QMainWindow::closeEvent(event);
}

void MainWindow::setRunning(bool running) {
    m_cancelJob->setVisible(running);
    m_fileMenu->setEnabled(!running);
    m_fileMenu->menuAction()->setEnabled(!running);
    m_helpMenu->setEnabled(!running);
    m_helpMenu->menuAction()->setEnabled(!running);
    if (running) {
        setCursor(Qt::WaitCursor);
    } else {
        unsetCursor();
    }
}

void MainWindow::runJob(JobProgram program) {
    if (m_runner->isRunning()) {
        return;
    }
    const QString options = m_jobDialog(program);
    if (options.isEmpty()) {
        return;
    }
    m_runner->start(program, options);
}

QString MainWindow::showJobDialog(JobProgram program) {
    if (program == JobProgram::Encoder) {
        EncodeDialog dialog(m_settings, m_services, this);
        dialog.exec();
        return dialog.jobOptions();
    }
    DecodeDialog dialog(m_settings, m_services, this);
    dialog.exec();
    return dialog.jobOptions();
}

void MainWindow::showHelp() {
    const QStringList candidates =
        helpFileCandidates(m_programFolder, QStringLiteral(VEKMRKWIN_DATA_FROM_BIN));
    const QString path =
        findHelpFile(candidates, [](const QString& file) { return QFileInfo(file).isFile(); });
    if (path.isEmpty()) {
        m_services.showMessage(this, QStringLiteral("Vekmrk GUI Help"),
                               QStringLiteral("The help file was found neither at %1 nor at %2; "
                                              "reinstalling the program restores it.")
                                   .arg(QDir::toNativeSeparators(candidates.at(0)),
                                        QDir::toNativeSeparators(candidates.at(1))));
        return;
    }
    auto* browser = new QTextBrowser;
    browser->setObjectName(QStringLiteral("helpViewer"));
    browser->setAttribute(Qt::WA_DeleteOnClose);
    browser->setWindowTitle(QStringLiteral("Vekmrk GUI Help"));
    browser->setOpenExternalLinks(true);
    browser->setSource(QUrl::fromLocalFile(path));
    browser->resize(640, 560);
    browser->show();
}

void MainWindow::showResult(JobProgram program, const QString& report) {
    if (program != JobProgram::Decoder) {
        return;
    }
    const QList<FoundPayload> found = parseFoundPayloads(report);
    if (found.isEmpty()) {
        if (m_payloads != nullptr) {
            m_payloads->hide();
        }
        return;
    }
    static const QRegularExpression analysed(QStringLiteral("^Analysis summary for (.*)\r$"),
                                             QRegularExpression::MultilineOption);
    if (m_payloads == nullptr) {
        m_payloads = new PayloadWindow(this);
        // Beside the report, on the main window's right.
        m_payloads->move(frameGeometry().topRight() + QPoint(8, 0));
    }
    m_payloads->setPayloads(found, analysed.match(report).captured(1));
    m_payloads->show();
    m_payloads->raise();
}

void MainWindow::showOwnerName() {
    OwnerDialog dialog(installedOwnerPlaces(m_runner->programFolder()), this);
    dialog.exec();
}

void MainWindow::showAbout() {
    auto* about = new SplashWindow;
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->show();
    about->activateWindow();
}

void MainWindow::openWebPage() {
    const QString address = QString::fromLatin1(kWebAddress);
    if (!QDesktopServices::openUrl(QUrl(address))) {
        m_services.showMessage(
            this, QStringLiteral("Vek Audio Watermarking"),
            QStringLiteral("No web browser could be opened for %1.").arg(address));
    }
}

} // namespace vekmrk
