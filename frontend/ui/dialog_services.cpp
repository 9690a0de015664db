#include "frontend/ui/dialog_services.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace vekmrk {

namespace {

const QString kWavFilter = QStringLiteral("(*.wav)");

QString chooseWithFileDialog(QWidget* parent, const FileRequest& request) {
    QString chosen;
    if (request.kind == FileRequest::Kind::Open) {
        chosen = QFileDialog::getOpenFileName(parent, request.title, request.folder, kWavFilter);
    } else {
        const QString start = request.proposedName.isEmpty()
                                  ? request.folder
                                  : QDir(request.folder).filePath(request.proposedName);
        chosen = QFileDialog::getSaveFileName(parent, request.title, start, kWavFilter, nullptr,
                                              QFileDialog::DontConfirmOverwrite);
    }
    return QDir::toNativeSeparators(chosen);
}

} // namespace

DialogServices platformDialogServices() {
    DialogServices services;
    services.chooseFile = chooseWithFileDialog;
    services.beep = [] { QApplication::beep(); };
    services.askYesNo = [](QWidget* parent, const QString& title, const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No,
                        parent);
        // Every question guards something that cannot be undone: Enter answers No.
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    };
    services.showMessage = [](QWidget* parent, const QString& title, const QString& text) {
        QMessageBox::information(parent, title, text);
    };
    return services;
}

} // namespace vekmrk
