#pragma once
// frmEncode: the choices of an encode job (original file, file to create, payload, layer, time
// stamp, gain), remembered in the settings section "encoding". OK hands back `jobOptions`.

#include "frontend/core/job_settings.h"
#include "frontend/ui/dialog_services.h"

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSettings;
class QSlider;

namespace vekmrk {

class EncodeDialog : public QDialog {
    Q_OBJECT
public:
    // Reads the section "encoding" of `settings` now; writes it back only on OK.
    EncodeDialog(QSettings& settings, DialogServices services, QWidget* parent = nullptr);

    // The job's arguments after OK; empty after Cancel or when the window was closed.
    QString jobOptions() const { return m_jobOptions; }

    void UpdateOkButton();

private:
    void buildControls();
    void payloadChanged();
    void gainChanged(int position);
    void resetGain();
    void browseIn();
    void browseOut();
    void filesDropped(const QStringList& files);
    void takeOriginal(const QString& path);
    void inFileTyped(const QString& path);
    void confirm();

    QSettings& m_settings;
    DialogServices m_services;
    EncodeSettings m_values;
    QString m_jobOptions;
    QString m_lastOpenName; // the file dialog remembers its last choice within one showing
    bool m_filteringPayload = false;
    QString m_acceptedPayload; // the payload as last accepted, and its cursor
    int m_acceptedCursor = 0;

    QLineEdit* m_inFile = nullptr;
    QPushButton* m_browseIn = nullptr;
    QLineEdit* m_outFile = nullptr;
    QPushButton* m_browseOut = nullptr;
    QLineEdit* m_payload = nullptr;
    QLabel* m_byteCount = nullptr;
    QLabel* m_payloadLimit = nullptr;
    QButtonGroup* m_layer = nullptr;
    QCheckBox* m_timeStamp = nullptr;
    QSlider* m_gain = nullptr;
    QLabel* m_gainValue = nullptr;
    QPushButton* m_defaultGain = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace vekmrk
