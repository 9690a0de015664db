#pragma once
// The per-frame signal chain of a decoder channel: whitening (decoder/whitening.h), head
// correlation, comb integration, peak picking and the chip tracks that follow the peaks, then
// the packet search on every track. Positions are working samples within the current frame.

#include <cstdint>
#include <span>
#include <vector>

#include "decoder/decoder_channel.h"

// Runs one frame of samples (sample / 32768, at most one second). Returns the number k of
// packets found, stored in channel.packets[0 ... k-1]; -1 when the work buffers cannot grow
// (nothing changed then). Frames shorter than the minimum frame length are ignored (0).
int32_t decoder_process(DecoderChannel& channel, std::span<const float> samples) noexcept;

// decoder_process on the same frame of every channel: channels[c] reads the n samples at
// frames[c] and stores its packet count in found[c] (its packets in its own array). The results
// are those of one decoder_process call per channel in channel order; the whitening of two
// channels runs side by side, which takes little more time than one. Returns the index of the
// first channel whose work buffers could not grow (found is -1 there; the channels before it
// are processed, those after it not), or -1 when every channel succeeded.
int32_t decoder_process_channels(std::span<DecoderChannel* const> channels,
                                 std::span<const float* const> frames, size_t n,
                                 std::span<int32_t> found) noexcept;

// 10^(floor_db / 20): the smallest level the whitening divides by.
double whitening_floor(float floor_db) noexcept;

// In place: b[i] += tap0 * b[i - N] + tap1 * b[i - N + 1], earlier outputs from the history.
// Needs b.size() >= N.
void comb_run(CombIntegrator& comb, std::span<float> b) noexcept;

// Appends to `peaks` the positions 8 ... size - 9 that stand above the picker's thresholds and
// above their 8 neighbours on each side; updates the picker's statistics. Returns the count.
int32_t peak_picker_run(PeakPicker& picker, std::span<const float> b, std::vector<int32_t>& peaks);

// Appends one chip value; a full track first drops its 50 oldest values (the search position
// moves down with them, never below 0). The level follows the level sample by 0.3.
void track_push(ChipTrack& track, float value, float level_sample) noexcept;

// The first slot with the lowest level; an inactive slot (level 0) ends the search at once.
int32_t replacement_slot(const DecoderChannel& channel) noexcept;

// The full correlation of the whitened signal with the chip waveform for a chip that ends
// on input sample f of the current frame (f may reach a few samples before the frame).
float chip_value(const DecoderChannel& channel, int32_t f) noexcept;

// Reads the track's chip at its next instant: the chip value at the offsets around it, the
// best of them (by the smoothed magnitudes) pushed onto the track; the clock moves one input
// sample towards the best offset and its period follows. `count` is the frame's working length.
void track_read_chip(DecoderChannel& channel, ChipTrack& track, int32_t count) noexcept;

// Gives the peak at working sample p to the active track whose next instant is nearest
// (within the tolerance, lower slot on ties), after letting every track read the instants
// more than half a chip before p; otherwise starts a track in the replacement slot.
void associate_peak(DecoderChannel& channel, int32_t p, int32_t count) noexcept;
