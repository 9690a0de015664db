#include "frontend/core/dialog_rules.h"

#include <QDir>
#include <algorithm>
#include <cmath>

namespace vekmrk {

float gainOfSlider(int position) {
    return static_cast<float>(position) * 0.1f;
}

int sliderOfGain(float gain) {
    const int position = static_cast<int>(std::lround(static_cast<double>(gain) * 10.0));
    return std::clamp(position, kMinGainStep, kMaxGainStep);
}

QString withTrailingSeparator(const QString& folder) {
    if (folder.isEmpty() || folder.endsWith(QDir::separator()) || folder.endsWith(u'/')) {
        return folder;
    }
    return folder + QDir::separator();
}

QString proposeOutputName(const QString& dest, const QString& originalFileName) {
    QString stem = originalFileName;
    if (stem.size() >= 4) {
        stem.chop(4);
    }
    return dest + stem + QStringLiteral("-e.wav");
}

int encodeLayerOption(const QString& storedLayer) {
    return storedLayer == QStringLiteral("public") ? 0 : 1;
}

QString encodeLayerOfOption(int option) {
    return option == 0 ? QStringLiteral("public") : QStringLiteral("private");
}

int decodeLayerOption(const QString& storedLayer) {
    if (storedLayer == QStringLiteral("public")) {
        return 0;
    }
    return storedLayer == QStringLiteral("private") ? 1 : 2;
}

QString decodeLayerOfOption(int option, const QString& otherlayer) {
    if (option == 0) {
        return QStringLiteral("public");
    }
    return option == 1 ? QStringLiteral("private") : otherlayer;
}

bool encodeOkEnabled(const QString& inFile, const QString& outFile, const QString& payload) {
    return !inFile.isEmpty() && !outFile.isEmpty() && !payload.isEmpty();
}

bool decodeOkEnabled(const QString& inFile, const QString& layer) {
    return !inFile.isEmpty() && !layer.isEmpty();
}

QString encodeOkHint(const QString& inFile, const QString& outFile, const QString& payload) {
    if (inFile.isEmpty()) {
        return QStringLiteral("Choose, drop or type the WAVE file to encode.");
    }
    if (outFile.isEmpty()) {
        return QStringLiteral("Give the name of the encoded file to create.");
    }
    if (payload.isEmpty()) {
        return QStringLiteral("Type the payload in hexadecimal digits (0-9, A-F).");
    }
    return {};
}

QString decodeOkHint(const QString& inFile, const QString& layer) {
    if (inFile.isEmpty()) {
        return QStringLiteral("Choose, drop or type the WAVE file to decode.");
    }
    if (layer.isEmpty()) {
        return QStringLiteral("Type the layer code of the other owner's private layer.");
    }
    return {};
}

} // namespace vekmrk
