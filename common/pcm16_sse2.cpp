// pcm16_to_planar_plain and pcm16_from_planar_plain for mono and stereo with SSE2, which every
// x86-64 processor has: several samples per instruction, with the results of one at a time.

#include "common/kernels.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <emmintrin.h>

namespace {

constexpr float kUnit = 1.0f / 32768.0f;

// Four int32 lanes holding 16-bit samples in their low and high halves (the byte order of x86
// is that of the file) to floats.
inline __m128 low_halves(__m128i v) {
    return _mm_mul_ps(_mm_cvtepi32_ps(_mm_srai_epi32(_mm_slli_epi32(v, 16), 16)),
                      _mm_set1_ps(kUnit));
}
inline __m128 high_halves(__m128i v) {
    return _mm_mul_ps(_mm_cvtepi32_ps(_mm_srai_epi32(v, 16)), _mm_set1_ps(kUnit));
}

// Two floats at `from` rounded to integers, as pcm16_sample does; false (nothing converted)
// when a value is NaN or beyond the 32-bit range: the caller then takes them one at a time.
inline bool round_two(const float* from, __m128d scale, __m128i& out) {
    const __m128d x =
        _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(from))));
    const __m128d y = _mm_add_pd(_mm_mul_pd(scale, x), _mm_set1_pd(0.5));
    // NaN fails both comparisons.
    const __m128d inside = _mm_and_pd(_mm_cmpge_pd(y, _mm_set1_pd(-2147483648.0)),
                                      _mm_cmplt_pd(y, _mm_set1_pd(2147483648.0)));
    if (_mm_movemask_pd(inside) != 3) {
        return false;
    }
    // floor(y) = truncation, less one where the truncation went up (negative fractions).
    const __m128d truncated = _mm_cvtepi32_pd(_mm_cvttpd_epi32(y));
    const __m128d down = _mm_and_pd(_mm_cmpgt_pd(truncated, y), _mm_set1_pd(1.0));
    out = _mm_cvttpd_epi32(_mm_sub_pd(truncated, down));
    return true;
}

// The low 16 bits of four int32 lanes, sign-extended, so that a saturating pack keeps them.
inline __m128i low16(__m128i v) {
    return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
}

} // namespace

void pcm16_to_planar_sse2(const uint8_t* bytes, size_t frames, std::span<float* const> planes,
                          size_t offset) {
    const size_t channels = planes.size();
    size_t i = 0;
    if (channels == 1) {
        float* out = planes[0] + offset;
        for (; i + 8 <= frames; i += 8) {
            // Eight samples: the even ones in the low halves, the odd ones in the high halves.
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 2 * i));
            const __m128 even = low_halves(v);
            const __m128 odd = high_halves(v);
            _mm_storeu_ps(out + i, _mm_unpacklo_ps(even, odd));
            _mm_storeu_ps(out + i + 4, _mm_unpackhi_ps(even, odd));
        }
    } else if (channels == 2) {
        float* left = planes[0] + offset;
        float* right = planes[1] + offset;
        for (; i + 4 <= frames; i += 4) {
            // Four frames: left samples in the low halves, right ones in the high halves.
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 4 * i));
            _mm_storeu_ps(left + i, low_halves(v));
            _mm_storeu_ps(right + i, high_halves(v));
        }
    }
    // What the vectors left: the end, and other channel counts.
    pcm16_to_planar_plain(bytes + 2 * channels * i, frames - i, planes, offset + i);
}

void pcm16_from_planar_sse2(std::span<const float* const> planes, size_t offset, size_t frames,
                            double scale, uint8_t* bytes) {
    const size_t channels = planes.size();
    size_t i = 0;
    const __m128d scale2 = _mm_set1_pd(scale);
    if (channels == 1) {
        const float* in = planes[0] + offset;
        for (; i + 4 <= frames; i += 4) {
            __m128i a, b;
            if (round_two(in + i, scale2, a) && round_two(in + i + 2, scale2, b)) {
                const __m128i four = low16(_mm_unpacklo_epi64(a, b));
                _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes + 2 * i),
                                 _mm_packs_epi32(four, four));
            } else {
                pcm16_from_planar_plain(planes, offset + i, 4, scale, bytes + 2 * i);
            }
        }
    } else if (channels == 2) {
        const float* left = planes[0] + offset;
        const float* right = planes[1] + offset;
        for (; i + 2 <= frames; i += 2) {
            __m128i l, r;
            if (round_two(left + i, scale2, l) && round_two(right + i, scale2, r)) {
                // L0 R0 L1 R1 as int32, then their low 16 bits.
                const __m128i two = low16(_mm_unpacklo_epi32(l, r));
                _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes + 4 * i),
                                 _mm_packs_epi32(two, two));
            } else {
                pcm16_from_planar_plain(planes, offset + i, 2, scale, bytes + 4 * i);
            }
        }
    }
    // What the vectors left: the end, and other channel counts.
    pcm16_from_planar_plain(planes, offset + i, frames - i, scale, bytes + 2 * channels * i);
}
#endif
