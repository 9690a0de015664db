#pragma once
// Building blocks shared by the two job dialogs.

#include <QString>

class QDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace vekmrk {

class DropFrame;

// The background and text colours of the theme's text fields (white paper in a light theme).
void usePaperBackground(QWidget* widget);

// The dialogs' common look: fixed size in twips, paper background, Arial 8.25 pt, no minimize or
// maximize button.
void setUpJobDialog(QDialog* dialog, const char* name, const QString& caption, int widthTwips,
                    int heightTwips);

QGroupBox* addFrame(QWidget* parent, const char* name, const QString& caption, int left, int top,
                    int width, int height);
// A button that Enter and Escape never press.
QPushButton* addButton(QWidget* parent, const char* name, const QString& caption, int left, int top,
                       int width, int height);
QLabel* addLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                 int width, int height);
// The frame "frameSrc" that takes dropped files, at the top of both dialogs.
DropFrame* addSourceFrame(QWidget* parent, const QString& caption);

// A path box and its button on one line of a frame.
struct PathRow {
    QLineEdit* edit = nullptr;
    QPushButton* button = nullptr;
};
PathRow addPathRow(QWidget* frame, const char* editName, const char* buttonName,
                   const QString& buttonCaption);

QRadioButton* addOption(QWidget* parent, const char* name, const QString& caption, int left,
                        int top, int width, int height);

} // namespace vekmrk
