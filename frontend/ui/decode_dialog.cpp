#include "frontend/ui/decode_dialog.h"

#include "frontend/core/dialog_rules.h"
#include "frontend/core/job_options.h"
#include "frontend/ui/dialog_parts.h"
#include "frontend/ui/drop_frame.h"
#include "frontend/ui/text_fit.h"
#include "frontend/ui/twips.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace vekmrk {

namespace {

constexpr int kOtherOwnerOption = 2;

} // namespace

DecodeDialog::DecodeDialog(QSettings& settings, DialogServices services, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_services(std::move(services)) {
    // The speed search's check box adds a row below the layer frame.
    setUpJobDialog(this, "frmDecode", QStringLiteral("Vek Audio Watermark - Decoding"), 7875, 2565);
    m_values = loadDecodeSettings(m_settings);
    buildControls();

    m_layerCode->setText(m_values.otherlayer);
    m_layerCode->setEnabled(false);
    m_layer->button(decodeLayerOption(m_values.layer))->setChecked(true);
    m_speedSearch->setChecked(m_values.speedsearch);
    layerClicked();
    growWithText(this);
}

void DecodeDialog::buildControls() {
    DropFrame* source = addSourceFrame(this, QStringLiteral(" WAVE file to decode: (you may either "
                                                            "drag-and-drop or use the Browse "
                                                            "button)"));
    connect(source, &DropFrame::filesDropped, this, &DecodeDialog::filesDropped);
    const PathRow in = addPathRow(source, "txtInFile", "butBrowseIn", QStringLiteral("Browse"));
    m_inFile = in.edit;
    m_browseIn = in.button;
    connect(m_browseIn, &QPushButton::clicked, this, &DecodeDialog::browseIn);
    connect(m_inFile, &QLineEdit::textChanged, this, &DecodeDialog::UpdateOkButton);

    QGroupBox* layer =
        addFrame(this, "Frame1", QStringLiteral("Watermark layer"), 120, 1080, 6135, 975);
    m_layer = new QButtonGroup(this);
    m_layer->setObjectName(QStringLiteral("optLayer"));
    m_layer->addButton(
        addOption(layer, "optLayer0", QStringLiteral("public layer"), 120, 240, 1335, 255), 0);
    m_layer->addButton(
        addOption(layer, "optLayer1", QStringLiteral("your private layer"), 1440, 240, 1695, 255),
        1);
    m_layer->addButton(addOption(layer, "optLayer2",
                                 QStringLiteral("others private layer using this code:"), 120, 480,
                                 2895, 255),
                       kOtherOwnerOption);
    connect(m_layer, &QButtonGroup::idClicked, this, &DecodeDialog::layerClicked);
    m_layerCode = new QLineEdit(layer);
    m_layerCode->setObjectName(QStringLiteral("txtLayerCode"));
    m_layerCode->setFont(arialFont(8.25));
    placeTwips(m_layerCode, 3120, 480, 2775, 315);
    connect(m_layerCode, &QLineEdit::textChanged, this, &DecodeDialog::codeChanged);

    m_speedSearch = new QCheckBox(
        QStringLiteral("Search speed changes up to %1 %").arg(kSpeedSearchPercent), this);
    m_speedSearch->setObjectName(QStringLiteral("chkSpeed"));
    m_speedSearch->setFont(arialFont(8.25));
    m_speedSearch->setToolTip(QStringLiteral("Also finds marks in audio played slightly faster or "
                                             "slower; the search takes longer."));
    placeTwips(m_speedSearch, 240, 2160, 6015, 255);
    connect(m_speedSearch, &QCheckBox::clicked, this,
            [this](bool checked) { m_values.speedsearch = checked; });

    m_cancel = addButton(this, "butCancel", QStringLiteral("Cancel"), 6480, 1200, 1215, 375);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        m_jobOptions.clear();
        reject();
    });
    m_ok = addButton(this, "butOK", QStringLiteral("OK"), 6480, 1680, 1215, 375);
    connect(m_ok, &QPushButton::clicked, this, &DecodeDialog::confirm);
}

void DecodeDialog::UpdateOkButton() {
    m_ok->setEnabled(decodeOkEnabled(m_inFile->text(), m_values.layer));
    m_ok->setToolTip(decodeOkHint(m_inFile->text(), m_values.layer));
}

void DecodeDialog::layerClicked() {
    const int option = m_layer->checkedId();
    m_layerCode->setEnabled(option == kOtherOwnerOption);
    m_values.layer = decodeLayerOfOption(option, m_values.otherlayer);
    UpdateOkButton();
}

void DecodeDialog::codeChanged(const QString& code) {
    if (m_layer->checkedId() != kOtherOwnerOption) {
        return;
    }
    m_values.otherlayer = code;
    m_values.layer = code;
    UpdateOkButton();
}

void DecodeDialog::browseIn() {
    FileRequest request;
    request.kind = FileRequest::Kind::Open;
    request.title = QStringLiteral("Watermarked Audio File Selection");
    request.folder = m_values.src;
    const QString chosen = m_services.chooseFile(this, request);
    if (!chosen.isEmpty()) {
        m_lastOpenName = chosen;
    }
    if (!m_lastOpenName.isEmpty()) {
        m_values.src = QDir::toNativeSeparators(QFileInfo(m_lastOpenName).absolutePath());
        m_inFile->setText(m_lastOpenName);
    }
    UpdateOkButton();
}

void DecodeDialog::filesDropped(const QStringList& files) {
    if (!files.first().isEmpty()) {
        m_inFile->setText(files.first());
    }
    UpdateOkButton();
}

void DecodeDialog::confirm() {
    saveDecodeSettings(m_settings, m_values);
    DecodeJob job;
    job.layer = m_values.layer;
    job.inFile = m_inFile->text();
    job.speedSearch = m_values.speedsearch;
    m_jobOptions = decodeJobOptions(job);
    accept();
}

} // namespace vekmrk
