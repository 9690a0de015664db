#pragma once
// The dialogs' remembered choices: sections "encoding" and "decoding" of the per-user settings,
// every value stored as text. Read each time a dialog opens, written when it is confirmed.

#include <QSettings>
#include <QString>

namespace vekmrk {

struct EncodeSettings {
    float gain = 1.0f;        // key "gain", one decimal; always within 0.3 ... 3.0 once loaded
    QString layer = "public"; // key "layer"
    QString dest;             // key "dest": folder of the last output file, with a final separator
    QString orig;             // key "orig": folder of the last original file chosen with Browse
    int addts = 0;            // key "addts": "0" or "1"
};

struct DecodeSettings {
    QString layer = "public"; // key "layer": "public", "private" or a layer code
    QString otherlayer;       // key "otherlayer": the code last typed for another owner's layer
    QString src;              // key "src": folder of the last file chosen with Browse
    bool speedsearch = false; // key "speedsearch": "1" when speed changes are searched as well
};

// Absent keys give the defaults above. A stored gain that is not a number, or lies outside the
// slider's 0.3 ... 3.0, gives the default 1.0.
EncodeSettings loadEncodeSettings(QSettings& settings);
void saveEncodeSettings(QSettings& settings, const EncodeSettings& values);

DecodeSettings loadDecodeSettings(QSettings& settings);
void saveDecodeSettings(QSettings& settings, const DecodeSettings& values);

// The settings of the running program: the application name is the program file's base name,
// so a renamed program starts from empty settings.
QString settingsApplicationName();

} // namespace vekmrk
