// pcm16_from_planar_plain for mono and stereo with AVX2: four samples per instruction, with the
// results of one at a time.

#include "common/kernels.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

#define VEKMRK_AVX2_INLINE __attribute__((always_inline, target("avx2"))) inline

namespace {

// Four floats at `from` rounded to integers, as pcm16_sample does: floor(scale * x + 0.5), a
// multiplication then an addition. False (nothing converted) when a value is NaN or beyond the
// 32-bit range: the caller then takes them one at a time.
VEKMRK_AVX2_INLINE bool round_four(const float* from, __m256d scale, __m128i& out) {
    const __m256d x = _mm256_cvtps_pd(_mm_loadu_ps(from));
    const __m256d y = _mm256_add_pd(_mm256_mul_pd(scale, x), _mm256_set1_pd(0.5));
    // NaN fails both comparisons.
    const __m256d inside =
        _mm256_and_pd(_mm256_cmp_pd(y, _mm256_set1_pd(-2147483648.0), _CMP_GE_OQ),
                      _mm256_cmp_pd(y, _mm256_set1_pd(2147483648.0), _CMP_LT_OQ));
    if (_mm256_movemask_pd(inside) != 0xF) {
        return false;
    }
    out = _mm256_cvttpd_epi32(_mm256_floor_pd(y));
    return true;
}

// The low 16 bits of four int32 lanes, sign-extended, so that a saturating pack keeps them.
VEKMRK_AVX2_INLINE __m128i low16(__m128i v) {
    return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
}

} // namespace

__attribute__((target("avx2"))) void pcm16_from_planar_avx2(std::span<const float* const> planes,
                                                            size_t offset, size_t frames,
                                                            double scale, uint8_t* bytes) {
    const size_t channels = planes.size();
    size_t i = 0;
    const __m256d scale4 = _mm256_set1_pd(scale);
    if (channels == 1) {
        const float* in = planes[0] + offset;
        for (; i + 8 <= frames; i += 8) {
            __m128i a, b;
            if (round_four(in + i, scale4, a) && round_four(in + i + 4, scale4, b)) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + 2 * i),
                                 _mm_packs_epi32(low16(a), low16(b)));
            } else {
                pcm16_from_planar_plain(planes, offset + i, 8, scale, bytes + 2 * i);
            }
        }
    } else if (channels == 2) {
        const float* left = planes[0] + offset;
        const float* right = planes[1] + offset;
        for (; i + 4 <= frames; i += 4) {
            __m128i l, r;
            if (round_four(left + i, scale4, l) && round_four(right + i, scale4, r)) {
                // L0 R0 L1 R1 and L2 R2 L3 R3 as int32, then their low 16 bits.
                _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + 4 * i),
                                 _mm_packs_epi32(low16(_mm_unpacklo_epi32(l, r)),
                                                 low16(_mm_unpackhi_epi32(l, r))));
            } else {
                pcm16_from_planar_plain(planes, offset + i, 4, scale, bytes + 4 * i);
            }
        }
    }
    // What the vectors left: the end, and other channel counts.
    pcm16_from_planar_plain(planes, offset + i, frames - i, scale, bytes + 2 * channels * i);
}
#undef VEKMRK_AVX2_INLINE
#endif
