#pragma once
// Rules of the two job dialogs that need no window: gain and slider, the output name proposed
// for an original file, folders with their final separator, the layer choices and when OK may
// be pressed.

#include <QString>

namespace vekmrk {

constexpr double kMinGain = 0.3;
constexpr double kMaxGain = 3.0;
constexpr int kMinGainStep = 3; // slider positions: gain x 10
constexpr int kMaxGainStep = 30;
constexpr int kDefaultGainStep = 10;

// Slider position -> gain (single precision, position x 0.1).
float gainOfSlider(int position);
// Gain -> the nearest slider position, kept on the slider.
int sliderOfGain(float gain);

// The folder with the platform's separator at its end (unchanged when empty or already ending
// with one).
QString withTrailingSeparator(const QString& folder);

// The name proposed for the watermarked file: dest followed by the original's file name without
// its last four characters (the ".wav") and "-e.wav". A name of fewer than four characters
// keeps all of them: "a" gives "a-e.wav".
QString proposeOutputName(const QString& dest, const QString& originalFileName);

// Which layer option a stored layer opens with. Encoding: 0 for "public", 1 for any other text.
int encodeLayerOption(const QString& storedLayer);
QString encodeLayerOfOption(int option);

// Decoding: 0 for "public", 1 for "private", 2 (another owner's code) for any other text.
int decodeLayerOption(const QString& storedLayer);
// The layer passed to the decoder for the selected option; option 2 uses the typed code.
QString decodeLayerOfOption(int option, const QString& otherlayer);

// OK is available only when every required text is filled in.
bool encodeOkEnabled(const QString& inFile, const QString& outFile, const QString& payload);
bool decodeOkEnabled(const QString& inFile, const QString& layer);
// Why OK is not available yet, in words; empty when it is.
QString encodeOkHint(const QString& inFile, const QString& outFile, const QString& payload);
QString decodeOkHint(const QString& inFile, const QString& layer);

} // namespace vekmrk
