#pragma once
// The platform services the windows ask for: file dialogs, the system beep, a Yes/No question
// and a message box. Tests replace them to choose files, count beeps and answer questions
// without showing anything modal.

#include <QString>
#include <functional>

class QWidget;

namespace vekmrk {

struct FileRequest {
    enum class Kind { Open, Save };
    Kind kind = Kind::Open;
    QString title;
    QString folder;       // where the dialog starts
    QString proposedName; // save dialogs: the name offered
};

struct DialogServices {
    // The chosen file's full path, empty when the user cancelled.
    std::function<QString(QWidget* parent, const FileRequest& request)> chooseFile;
    std::function<void()> beep;
    // True for Yes.
    std::function<bool(QWidget* parent, const QString& title, const QString& text)> askYesNo;
    std::function<void(QWidget* parent, const QString& title, const QString& text)> showMessage;
};

// QFileDialog with the "(*.wav)" filter, QApplication::beep and QMessageBox.
DialogServices platformDialogServices();

} // namespace vekmrk
