#include "frontend/ui/dialog_parts.h"

#include "frontend/ui/drop_frame.h"
#include "frontend/ui/twips.h"

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace vekmrk {

void setUpJobDialog(QDialog* dialog, const char* name, const QString& caption, int widthTwips,
                    int heightTwips) {
    dialog->setObjectName(QString::fromLatin1(name));
    dialog->setWindowTitle(caption);
    dialog->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    dialog->setFont(arialFont(8.25));
    usePaperBackground(dialog);
    dialog->setFixedSize(twipsToPixels(widthTwips), twipsToPixels(heightTwips));
}

void usePaperBackground(QWidget* widget) {
    // The theme's text-field colours: white paper with dark text in a light theme, dark paper
    // with light text in a dark one, so every label stays readable.
    QPalette paper = widget->palette();
    paper.setColor(QPalette::Window, paper.color(QPalette::Base));
    paper.setColor(QPalette::WindowText, paper.color(QPalette::Text));
    widget->setPalette(paper);
    widget->setAutoFillBackground(true);
}

QGroupBox* addFrame(QWidget* parent, const char* name, const QString& caption, int left, int top,
                    int width, int height) {
    auto* frame = new QGroupBox(caption, parent);
    frame->setObjectName(QString::fromLatin1(name));
    frame->setFont(arialFont(8.25, false, true));
    placeTwips(frame, left, top, width, height);
    return frame;
}

QPushButton* addButton(QWidget* parent, const char* name, const QString& caption, int left, int top,
                       int width, int height) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setFont(arialFont(8.25));
    button->setAutoDefault(false);
    button->setDefault(false);
    placeTwips(button, left, top, width, height);
    return button;
}

QLabel* addLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                 int width, int height) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(arialFont(8.25, false, true));
    label->setWordWrap(true);
    placeTwips(label, left, top, width, height);
    return label;
}

DropFrame* addSourceFrame(QWidget* parent, const QString& caption) {
    auto* frame = new DropFrame(caption, parent);
    frame->setObjectName(QStringLiteral("frameSrc"));
    frame->setFont(arialFont(8.25, false, true));
    placeTwips(frame, 120, 120, 7575, 855);
    return frame;
}

PathRow addPathRow(QWidget* frame, const char* editName, const char* buttonName,
                   const QString& buttonCaption) {
    PathRow row;
    row.edit = new QLineEdit(frame);
    row.edit->setObjectName(QString::fromLatin1(editName));
    row.edit->setFont(arialFont(8.25));
    // A file dropped on the box goes to the frame around it, which takes it as a path rather
    // than as "file:///..." text at the mouse position.
    row.edit->setAcceptDrops(false);
    placeTwips(row.edit, 120, 360, 6255, 315);
    row.button = addButton(frame, buttonName, buttonCaption, 6480, 360, 975, 255);
    return row;
}

QRadioButton* addOption(QWidget* parent, const char* name, const QString& caption, int left,
                        int top, int width, int height) {
    auto* option = new QRadioButton(caption, parent);
    option->setObjectName(QString::fromLatin1(name));
    option->setFont(arialFont(8.25));
    placeTwips(option, left, top, width, height);
    return option;
}

} // namespace vekmrk
