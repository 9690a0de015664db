#pragma once
// frmDecode: the file and the layer of a decode job (public, the user's own private layer, or
// another owner's layer given by its code), and whether speed changes are searched as well,
// remembered in the settings section "decoding".

#include "frontend/core/job_settings.h"
#include "frontend/ui/dialog_services.h"

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QSettings;

namespace vekmrk {

class DecodeDialog : public QDialog {
    Q_OBJECT
public:
    // Reads the section "decoding" of `settings` now; writes it back only on OK.
    DecodeDialog(QSettings& settings, DialogServices services, QWidget* parent = nullptr);

    // The job's arguments after OK; empty after Cancel or when the window was closed.
    QString jobOptions() const { return m_jobOptions; }

    void UpdateOkButton();

private:
    void buildControls();
    void layerClicked();
    void codeChanged(const QString& code);
    void browseIn();
    void filesDropped(const QStringList& files);
    void confirm();

    QSettings& m_settings;
    DialogServices m_services;
    DecodeSettings m_values;
    QString m_jobOptions;
    QString m_lastOpenName; // the file dialog remembers its last choice within one showing

    QLineEdit* m_inFile = nullptr;
    QPushButton* m_browseIn = nullptr;
    QButtonGroup* m_layer = nullptr;
    QLineEdit* m_layerCode = nullptr;
    QCheckBox* m_speedSearch = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace vekmrk
