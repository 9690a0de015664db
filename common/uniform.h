#pragma once
// Park-Miller minimal standard generator (multiplier 16807, modulus 2^31 - 1) with a
// Bays-Durham shuffle table of 32 entries. The state is the caller's; the shuffle table and
// the last output are process-wide. A state <= 0 reinitialises the table, so the sequence
// that starts from state -seed depends on the seed alone (seeds 0 and 1 give the same one).

#include <cstdint>

// One draw in (0, 1), at most 0.99999988. Updates `state` and the process-wide table.
double uniform_next(int32_t& state) noexcept;
