#pragma once
// The vekmrkdec program: reads a WAV file one second at a time, prints every packet that the
// channels' decoders find, and ends with the summary of the payloads found, on standard output
// and in the progress log. main() only calls decoder_run.
//
//   vekmrkdec [options] <infile>

// Runs the decoder on its command line and returns its exit status. Never throws.
int decoder_run(int argc, char** argv) noexcept;
