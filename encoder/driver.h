#pragma once
// The vekmrkenc program: reads a 16-bit PCM WAV file whole, one second at a time, watermarks
// every channel with the payload, scales the result down when its peak exceeds full scale and
// writes it to the output file. Progress goes to the console and, with "-logfile", to a
// progress log file.
//
//   vekmrkenc [options] <infile> <hexPayload> <outfile>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Most hexadecimal digits a payload may have: the decoder reports at most 99 payload
// characters, and the payload always holds whole bytes.
inline constexpr size_t kMaxPayloadDigits = 98;

// Runs the program on its command line and returns its exit status. Never throws.
int encoder_run(int argc, char** argv) noexcept;

// The payload as it is encoded: digits upper-cased, one "0" appended to an odd count. Empty,
// with `problem` set to a console sentence (no line end), when the text is empty, holds a
// character that is not a hexadecimal digit or has more than kMaxPayloadDigits digits.
std::optional<std::string> payload_normalize(std::string_view text, std::string& problem);
