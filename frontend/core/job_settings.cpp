#include "frontend/core/job_settings.h"

#include "frontend/core/dialog_rules.h"
#include "frontend/core/job_options.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace vekmrk {

namespace {

QString readText(QSettings& settings, const QString& key, const QString& fallback) {
    return settings.value(key, fallback).toString();
}

// The time stamp flag: "1" checks the box, anything else leaves it unchecked.
int readFlag(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok && value == 1 ? 1 : 0;
}

} // namespace

EncodeSettings loadEncodeSettings(QSettings& settings) {
    EncodeSettings values;
    settings.beginGroup(QStringLiteral("encoding"));
    bool ok = false;
    const double gain =
        readText(settings, QStringLiteral("gain"), QStringLiteral("1.0")).trimmed().toDouble(&ok);
    values.gain =
        ok && gain >= kMinGain - 1e-6 && gain <= kMaxGain + 1e-6 ? static_cast<float>(gain) : 1.0f;
    values.layer = readText(settings, QStringLiteral("layer"), QStringLiteral("public"));
    values.dest = readText(settings, QStringLiteral("dest"), QString());
    values.orig = readText(settings, QStringLiteral("orig"), QString());
    values.addts = readFlag(readText(settings, QStringLiteral("addts"), QStringLiteral("0")));
    settings.endGroup();
    return values;
}

void saveEncodeSettings(QSettings& settings, const EncodeSettings& values) {
    settings.beginGroup(QStringLiteral("encoding"));
    settings.setValue(QStringLiteral("gain"), formatGain(values.gain));
    settings.setValue(QStringLiteral("layer"), values.layer);
    settings.setValue(QStringLiteral("dest"), values.dest);
    settings.setValue(QStringLiteral("orig"), values.orig);
    settings.setValue(QStringLiteral("addts"), QString::number(values.addts));
    settings.endGroup();
    settings.sync();
}

DecodeSettings loadDecodeSettings(QSettings& settings) {
    DecodeSettings values;
    settings.beginGroup(QStringLiteral("decoding"));
    values.layer = readText(settings, QStringLiteral("layer"), QStringLiteral("public"));
    values.otherlayer = readText(settings, QStringLiteral("otherlayer"), QString());
    values.src = readText(settings, QStringLiteral("src"), QString());
    values.speedsearch =
        readText(settings, QStringLiteral("speedsearch"), QStringLiteral("0")) == u'1';
    settings.endGroup();
    return values;
}

void saveDecodeSettings(QSettings& settings, const DecodeSettings& values) {
    settings.beginGroup(QStringLiteral("decoding"));
    settings.setValue(QStringLiteral("layer"), values.layer);
    settings.setValue(QStringLiteral("otherlayer"), values.otherlayer);
    settings.setValue(QStringLiteral("src"), values.src);
    settings.setValue(QStringLiteral("speedsearch"),
                      values.speedsearch ? QStringLiteral("1") : QStringLiteral("0"));
    settings.endGroup();
    settings.sync();
}

QString settingsApplicationName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

} // namespace vekmrk
