#include "frontend/ui/encode_dialog.h"

#include "frontend/core/dialog_rules.h"
#include "frontend/core/job_options.h"
#include "frontend/core/payload.h"
#include "frontend/ui/dialog_parts.h"
#include "frontend/ui/drop_frame.h"
#include "frontend/ui/text_fit.h"
#include "frontend/ui/twips.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

namespace vekmrk {

namespace {

QString parentFolder(const QString& path) {
    return QDir::toNativeSeparators(QFileInfo(path).absolutePath());
}

} // namespace

EncodeDialog::EncodeDialog(QSettings& settings, DialogServices services, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_services(std::move(services)) {
    setUpJobDialog(this, "frmEncode", QStringLiteral("Vek Audio Watermark - Encoding"), 7875, 5250);
    m_values = loadEncodeSettings(m_settings);
    m_values.dest = withTrailingSeparator(m_values.dest);
    buildControls();

    m_outFile->setEnabled(false);
    m_browseOut->setEnabled(false);
    m_layer->button(encodeLayerOption(m_values.layer))->setChecked(true);
    m_values.layer = encodeLayerOfOption(m_layer->checkedId());
    m_timeStamp->setChecked(m_values.addts == 1);
    m_gain->setValue(sliderOfGain(m_values.gain));
    gainChanged(m_gain->value());
    // The byte count's longest text decides its room.
    m_byteCount->setText(payloadByteCount(QString(kMaxPayloadDigits, u'F')));
    growWithText(this);
    m_byteCount->clear();
    UpdateOkButton();
}

void EncodeDialog::buildControls() {
    DropFrame* source =
        addSourceFrame(this, QStringLiteral("Original WAVE file to encode: (you may "
                                            "either drag-and-drop or use the Browse "
                                            "button)"));
    connect(source, &DropFrame::filesDropped, this, &EncodeDialog::filesDropped);
    const PathRow in = addPathRow(source, "txtInFile", "butBrowseIn", QStringLiteral("Browse"));
    m_inFile = in.edit;
    m_browseIn = in.button;
    connect(m_browseIn, &QPushButton::clicked, this, &EncodeDialog::browseIn);
    connect(m_inFile, &QLineEdit::textEdited, this, &EncodeDialog::inFileTyped);

    QGroupBox* target = addFrame(this, "Frame2", QStringLiteral("Encoded WAVE file to be created"),
                                 120, 1080, 7575, 855);
    const PathRow out = addPathRow(target, "txtOutFile", "butBrowseOut", QStringLiteral("Change"));
    m_outFile = out.edit;
    m_browseOut = out.button;
    connect(m_browseOut, &QPushButton::clicked, this, &EncodeDialog::browseOut);
    connect(m_outFile, &QLineEdit::textEdited, this, &EncodeDialog::UpdateOkButton);

    QGroupBox* payload =
        addFrame(this, "Frame4", QStringLiteral("User data payload (a hexadecimal string)"), 120,
                 2040, 3495, 1935);
    m_payload = new QLineEdit(payload);
    m_payload->setObjectName(QStringLiteral("txtPayload"));
    m_payload->setFont(arialFont(8.25));
    m_payload->setMaxLength(32767);
    placeTwips(m_payload, 120, 360, 2295, 315);
    connect(m_payload, &QLineEdit::textChanged, this, &EncodeDialog::payloadChanged);
    m_byteCount = addLabel(payload, "lblNbBytes", QString(), 2520, 360, 855, 255);
    m_byteCount->setAlignment(Qt::AlignCenter);
    m_payloadLimit = addLabel(payload, "lblPayloadLimit",
                              QStringLiteral("Note: payloads longer than 8 or 10 bytes might not "
                                             "be very practical: the longer the payload, the "
                                             "fewer packets the audio can carry."),
                              120, 840, 3255, 975);
    m_payloadLimit->setAlignment(Qt::AlignCenter);

    QGroupBox* layer =
        addFrame(this, "Frame3", QStringLiteral("Watermark layer"), 3720, 2040, 3975, 1215);
    m_layer = new QButtonGroup(this);
    m_layer->setObjectName(QStringLiteral("optLayer"));
    m_layer->addButton(addOption(layer, "optLayer0", QStringLiteral("public"), 120, 240, 735, 255),
                       0);
    m_layer->addButton(addOption(layer, "optLayer1", QStringLiteral("private"), 120, 480, 855, 255),
                       1);
    connect(m_layer, &QButtonGroup::idClicked, this,
            [this](int option) { m_values.layer = encodeLayerOfOption(option); });
    addLabel(layer, "Label1", QStringLiteral("A mark anyone can read"), 1080, 240, 1935, 255);
    addLabel(layer, "Label2",
             QStringLiteral("A mark only readers who know your layer code can read"), 1080, 480,
             2775, 615);

    QGroupBox* stamp =
        addFrame(this, "Frame6", QStringLiteral("Time stamp"), 3720, 3360, 3975, 615);
    m_timeStamp = new QCheckBox(QStringLiteral("Add 12-bit time stamp to the data payload"), stamp);
    m_timeStamp->setObjectName(QStringLiteral("chkTimeStamp"));
    m_timeStamp->setFont(arialFont(8.25));
    placeTwips(m_timeStamp, 240, 240, 3495, 255);
    connect(m_timeStamp, &QCheckBox::clicked, this,
            [this](bool checked) { m_values.addts = checked ? 1 : 0; });

    QGroupBox* gain =
        addFrame(this, "Frame5", QStringLiteral("Watermark gain"), 120, 4080, 6135, 975);
    addLabel(gain, "Label8", QStringLiteral("(Less audible)"), 120, 240, 735, 495);
    m_gain = new QSlider(Qt::Horizontal, gain);
    m_gain->setObjectName(QStringLiteral("sldGain"));
    m_gain->setRange(kMinGainStep, kMaxGainStep);
    m_gain->setSingleStep(1);
    m_gain->setPageStep(5);
    m_gain->setTickPosition(QSlider::TicksBelow);
    m_gain->setTickInterval(1);
    placeTwips(m_gain, 840, 360, 2775, 255);
    connect(m_gain, &QSlider::valueChanged, this, &EncodeDialog::gainChanged);
    addLabel(gain, "Label9", QStringLiteral("(More persistent)"), 3720, 240, 855, 495);
    addLabel(gain, "Label6", QStringLiteral("Min"), 840, 600, 375, 255);
    addLabel(gain, "Label7", QStringLiteral("Max"), 3240, 600, 375, 255);
    addLabel(gain, "Label3", QStringLiteral("Current value:"), 4800, 120, 1095, 255)
        ->setAlignment(Qt::AlignCenter);
    m_gainValue = addLabel(gain, "lblGainval", QString(), 4800, 360, 1095, 255);
    m_gainValue->setFont(arialFont(9.75, true, true));
    m_gainValue->setAlignment(Qt::AlignCenter);
    m_defaultGain =
        addButton(gain, "butDefaultGain", QStringLiteral("reset to default"), 4680, 600, 1335, 255);
    connect(m_defaultGain, &QPushButton::clicked, this, &EncodeDialog::resetGain);

    m_cancel = addButton(this, "butCancel", QStringLiteral("Cancel"), 6480, 4200, 1215, 375);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        m_jobOptions.clear();
        reject();
    });
    m_ok = addButton(this, "butOK", QStringLiteral("OK"), 6480, 4680, 1215, 375);
    connect(m_ok, &QPushButton::clicked, this, &EncodeDialog::confirm);
}

void EncodeDialog::UpdateOkButton() {
    m_ok->setEnabled(encodeOkEnabled(m_inFile->text(), m_outFile->text(), m_payload->text()));
    m_ok->setToolTip(encodeOkHint(m_inFile->text(), m_outFile->text(), m_payload->text()));
}

void EncodeDialog::payloadChanged() {
    if (m_filteringPayload) {
        return;
    }
    FilteredPayload filtered = filterPayload(m_payload->text(), m_payload->cursorPosition());
    if (filtered.text.size() > kMaxPayloadDigits) {
        // More than the encoder takes: the edit is refused, what was there stays.
        filtered = filterPayload(m_acceptedPayload, m_acceptedCursor);
        filtered.dropped = true;
    }
    if (filtered.text != m_payload->text()) {
        m_filteringPayload = true;
        m_payload->setText(filtered.text);
        m_filteringPayload = false;
    }
    // The cursor stays where the user types, however many characters were dropped before it.
    m_payload->setCursorPosition(filtered.cursor);
    m_acceptedPayload = filtered.text;
    m_acceptedCursor = filtered.cursor;
    if (filtered.dropped) {
        m_services.beep();
    }
    m_byteCount->setText(payloadByteCount(filtered.text));
    UpdateOkButton();
}

void EncodeDialog::gainChanged(int position) {
    m_values.gain = gainOfSlider(position);
    m_gainValue->setText(formatGain(m_values.gain));
    m_defaultGain->setEnabled(position != kDefaultGainStep);
}

void EncodeDialog::resetGain() {
    m_gain->setValue(kDefaultGainStep);
    gainChanged(kDefaultGainStep);
}

void EncodeDialog::browseIn() {
    m_outFile->setEnabled(false);
    m_browseOut->setEnabled(false);
    FileRequest request;
    request.kind = FileRequest::Kind::Open;
    request.title = QStringLiteral("Original Audio File Selection");
    request.folder = m_values.orig;
    const QString chosen = m_services.chooseFile(this, request);
    if (!chosen.isEmpty()) {
        m_lastOpenName = chosen;
    }
    if (!m_lastOpenName.isEmpty() && QFileInfo(m_lastOpenName).isFile()) {
        m_values.orig = parentFolder(m_lastOpenName);
        takeOriginal(m_lastOpenName);
    }
    UpdateOkButton();
}

void EncodeDialog::filesDropped(const QStringList& files) {
    const QString& first = files.first();
    if (!first.isEmpty() && QFileInfo(first).isFile()) {
        takeOriginal(first);
    }
    UpdateOkButton();
}

void EncodeDialog::inFileTyped(const QString& path) {
    // A typed or pasted name counts once it names an existing file.
    if (QFileInfo(path).isFile()) {
        takeOriginal(path);
    }
    UpdateOkButton();
}

void EncodeDialog::takeOriginal(const QString& path) {
    if (m_inFile->text() != path) {
        m_inFile->setText(path);
    }
    if (m_values.dest.isEmpty()) {
        m_values.dest = withTrailingSeparator(parentFolder(path));
    }
    m_outFile->setText(proposeOutputName(m_values.dest, QFileInfo(path).fileName()));
    m_outFile->setEnabled(true);
    m_browseOut->setEnabled(true);
}

void EncodeDialog::browseOut() {
    FileRequest request;
    request.kind = FileRequest::Kind::Save;
    request.title = QStringLiteral("Watermarked Audio File Creation");
    request.folder = m_values.dest;
    request.proposedName = m_outFile->text();
    QString chosen = m_services.chooseFile(this, request);
    if (chosen.isEmpty()) {
        // A cancelled save dialog leaves the proposed name as its choice.
        chosen = m_outFile->text();
    }
    if (!chosen.isEmpty()) {
        m_outFile->setText(chosen);
        m_values.dest = withTrailingSeparator(parentFolder(chosen));
    }
    UpdateOkButton();
}

void EncodeDialog::confirm() {
    const QString outFile = m_outFile->text();
    if (QFileInfo::exists(outFile) &&
        !m_services.askYesNo(this, QStringLiteral("File overwrite"),
                             QStringLiteral("The destination WAV file already exists.\n"
                                            "Are you sure you wish to overwrite it?"))) {
        return;
    }
    saveEncodeSettings(m_settings, m_values);
    EncodeJob job;
    job.gain = m_values.gain;
    job.layer = m_values.layer;
    job.addts = m_values.addts;
    job.inFile = m_inFile->text();
    job.payload = m_payload->text();
    job.outFile = outFile;
    m_jobOptions = encodeJobOptions(job);
    accept();
}

} // namespace vekmrk
