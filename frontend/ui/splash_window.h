#pragma once
// frmSplash: the product window shown while the program starts and as the About box. Any key
// that produces a character, or a click on the frame, the logo or a text, closes it.

#include <QWidget>

class QFrame;

namespace vekmrk {

// The three parts of the front end's version, and the texts of the window.
QString frontEndVersionText(); // "Version 1.1.0"
QString platformName();        // "Win32" / "Win64", "Linux", "macOS", ...

class SplashWindow : public QWidget {
    Q_OBJECT
public:
    explicit SplashWindow(QWidget* parent = nullptr);

signals:
    void dismissed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void dismiss();
    bool m_dismissed = false;
};

} // namespace vekmrk
