#include "frontend/ui/splash_window.h"

#include "frontend/ui/dialog_parts.h"
#include "frontend/ui/logo.h"
#include "frontend/ui/text_fit.h"
#include "frontend/ui/twips.h"

#include <QEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QSysInfo>
#include <algorithm>

namespace vekmrk {

QString frontEndVersionText() {
    return QStringLiteral("Version %1.%2.%3")
        .arg(VEKMRKWIN_VERSION_MAJOR)
        .arg(VEKMRKWIN_VERSION_MINOR)
        .arg(VEKMRKWIN_VERSION_PATCH);
}

QString platformName() {
#if defined(Q_OS_WIN)
    return QSysInfo::WordSize == 64 ? QStringLiteral("Win64") : QStringLiteral("Win32");
#elif defined(Q_OS_MACOS)
    return QStringLiteral("macOS");
#elif defined(Q_OS_LINUX)
    return QStringLiteral("Linux");
#else
    return QSysInfo::kernelType();
#endif
}

namespace {

// A label that takes the size of its text: left-aligned ones grow to the right, right-aligned
// ones keep their right edge.
QLabel* addSplashLabel(QWidget* parent, const char* name, const QString& text, const QFont& font,
                       const QRect& twips, Qt::Alignment alignment, bool fitToText) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(font);
    label->setAlignment(alignment | Qt::AlignVCenter);
    placeTwips(label, twips.left(), twips.top(), twips.width(), twips.height());
    if (fitToText) {
        const QRect designed = label->geometry();
        const QSize fitted = label->sizeHint();
        QRect rect(designed.topLeft(), fitted);
        if (alignment & Qt::AlignRight) {
            rect.moveRight(designed.right());
        }
        label->setGeometry(rect);
    }
    return label;
}

} // namespace

SplashWindow::SplashWindow(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("frmSplash"));
    setFont(arialFont(8.25));
    usePaperBackground(this);
    setFixedSize(twipsToPixels(7380), twipsToPixels(4245));
    setFocusPolicy(Qt::StrongFocus);

    auto* frame = new QGroupBox(this);
    frame->setObjectName(QStringLiteral("Frame1"));
    placeTwips(frame, 150, 60, 7080, 4050);
    frame->installEventFilter(this);

    auto* logo = new QLabel(frame);
    logo->setObjectName(QStringLiteral("imgLogo"));
    placeTwips(logo, 360, 1080, 2685, 2250);
    logo->setPixmap(productLogo(logo->size()));
    logo->setScaledContents(true);
    logo->installEventFilter(this);

    const QList<QLabel*> labels = {
        addSplashLabel(frame, "lblCompanyProduct", QStringLiteral("Vek Audio Watermark"),
                       arialFont(18, true), {2160, 480, 3090, 435}, Qt::AlignLeft, true),
        addSplashLabel(frame, "lblProductName", QStringLiteral("Vekmrk GUI"),
                       arialFont(32.25, true), {2520, 960, 4440, 765}, Qt::AlignLeft, true),
        addSplashLabel(frame, "lblPlatform", platformName(), arialFont(15.75, true),
                       {5910, 2160, 945, 360}, Qt::AlignRight, true),
        addSplashLabel(frame, "lblVersion", frontEndVersionText(), arialFont(12, true),
                       {5640, 2520, 1245, 285}, Qt::AlignRight, true),
        addSplashLabel(frame, "lblCopyright",
                       QStringLiteral("(c) 2026 Vek Audio Watermark developers"), arialFont(8.25),
                       {2760, 3120, 4095, 255}, Qt::AlignRight, false),
        addSplashLabel(frame, "lblCompany",
                       QStringLiteral("Written by the Vek Audio Watermark developers"),
                       arialFont(8.25), {2760, 3360, 4095, 255}, Qt::AlignRight, false),
        addSplashLabel(frame, "lblWarning", QStringLiteral("(click or press a key to dismiss)"),
                       arialFont(8.25), {150, 3720, 6855, 195}, Qt::AlignLeft, false),
    };
    for (QLabel* label : labels) {
        label->installEventFilter(this);
    }
    // The title and the two lines beside the logo start right of it, and no text runs past the
    // frame: what does not fit then makes the window grow.
    const int clearOfLogo = logo->geometry().right() + twipsToPixels(60);
    const int frameEnd = frame->width() - twipsToPixels(150);
    for (QLabel* label : labels) {
        QRect room = label->geometry();
        if (label->objectName() != QStringLiteral("lblWarning") && room.left() < clearOfLogo &&
            room.bottom() > logo->geometry().top()) {
            if (label->alignment() & Qt::AlignRight) {
                room.setLeft(clearOfLogo);
            } else {
                room.moveLeft(clearOfLogo);
            }
        }
        room.setRight(std::min(room.right(), frameEnd));
        label->setGeometry(room);
    }
    growWithText(this);
}

void SplashWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect centred = frameGeometry();
        centred.moveCenter(screen->availableGeometry().center());
        move(centred.topLeft());
    }
    activateWindow();
    setFocus();
}

void SplashWindow::keyPressEvent(QKeyEvent* event) {
    if (!event->text().isEmpty()) {
        dismiss();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool SplashWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        dismiss();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void SplashWindow::dismiss() {
    if (m_dismissed) {
        return;
    }
    m_dismissed = true;
    emit dismissed();
    close();
}

} // namespace vekmrk
