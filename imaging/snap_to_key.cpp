#include "imaging/snap_to_key.h"

#include <algorithm>
#include <cstdlib>
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define VANTREL_SNAP_SIMD 1
#endif

namespace vantrel::imaging {
namespace {

// Distances never exceed 765, so a larger tolerance acts as 765.
constexpr std::int32_t kMaxDistance = 765;

#ifdef VANTREL_SNAP_SIMD
// Sixteen packed 3-byte pixels (48 bytes) per step. Each 12-byte group of four pixels is spread
// to one pixel per 32-bit lane, its distances summed there, and the resulting mask packed back;
// the four group masks are then joined into three 16-byte masks for the three 16-byte blocks.
// Loads and stores never overlap a store of the step before, so no store has to be forwarded.
struct Snap24 {
    __m128i spread;      // packed bytes -> one pixel per 32-bit lane (blue, green, red, 0)
    __m128i pack;        // lane mask -> the packed bytes of its pixel (bytes 12-15 zero)
    __m128i keyLanes;    // the key as (blue, green, red, 0) in every lane
    __m128i limit;       // tolerance + 1 in every lane
    __m128i keyBlock[3]; // the key's three bytes repeated over 48 bytes

    Snap24(std::uint32_t key, std::int32_t tolerance) {
        const auto r = static_cast<char>(key & 0xFFu);
        const auto g = static_cast<char>((key >> 8) & 0xFFu);
        const auto b = static_cast<char>((key >> 16) & 0xFFu);
        spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
        pack = _mm_setr_epi8(0, 0, 0, 4, 4, 4, 8, 8, 8, 12, 12, 12, -1, -1, -1, -1);
        keyLanes = _mm_setr_epi8(b, g, r, 0, b, g, r, 0, b, g, r, 0, b, g, r, 0);
        limit = _mm_set1_epi32(tolerance + 1);
        keyBlock[0] = _mm_setr_epi8(b, g, r, b, g, r, b, g, r, b, g, r, b, g, r, b);
        keyBlock[1] = _mm_setr_epi8(g, r, b, g, r, b, g, r, b, g, r, b, g, r, b, g);
        keyBlock[2] = _mm_setr_epi8(r, b, g, r, b, g, r, b, g, r, b, g, r, b, g, r);
    }
};

// The packed mask (bytes 0-11) of the four pixels in bytes 0-11 of `group`.
__attribute__((target("ssse3"))) inline __m128i nearMask(__m128i group, const Snap24& k) {
    const __m128i lanes = _mm_shuffle_epi8(group, k.spread);
    const __m128i diff =
        _mm_or_si128(_mm_subs_epu8(lanes, k.keyLanes), _mm_subs_epu8(k.keyLanes, lanes));
    // Byte pairs to 16 bits, then 16-bit pairs to 32: one distance per lane.
    const __m128i sum =
        _mm_madd_epi16(_mm_maddubs_epi16(diff, _mm_set1_epi8(1)), _mm_set1_epi16(1));
    const __m128i near =
        _mm_and_si128(_mm_cmpgt_epi32(sum, _mm_setzero_si128()), _mm_cmpgt_epi32(k.limit, sum));
    return _mm_shuffle_epi8(near, k.pack);
}

__attribute__((target("ssse3"))) inline __m128i select(__m128i mask, __m128i key, __m128i kept) {
    return _mm_or_si128(_mm_and_si128(mask, key), _mm_andnot_si128(mask, kept));
}

// Returns how many pixels it did; the rest (fewer than 16) is left to the plain loop.
template <bool>
std::size_t snap24Blocks(std::uint8_t* p, std::size_t count, const Snap24& k);

#define VANTREL_SNAP24_BODY                                                                        \
    std::size_t i = 0;                                                                             \
    for (; i + 16 <= count; i += 16, p += 48) {                                                    \
        auto* block = reinterpret_cast<__m128i*>(p);                                               \
        const __m128i a = _mm_loadu_si128(block);                                                  \
        const __m128i b = _mm_loadu_si128(block + 1);                                              \
        const __m128i c = _mm_loadu_si128(block + 2);                                              \
        const __m128i m0 = nearMask(a, k);                                                         \
        const __m128i m1 = nearMask(_mm_alignr_epi8(b, a, 12), k);                                 \
        const __m128i m2 = nearMask(_mm_alignr_epi8(c, b, 8), k);                                  \
        const __m128i m3 = nearMask(_mm_srli_si128(c, 4), k);                                      \
        _mm_storeu_si128(block,                                                                    \
                         select(_mm_or_si128(m0, _mm_slli_si128(m1, 12)), k.keyBlock[0], a));      \
        _mm_storeu_si128(                                                                          \
            block + 1,                                                                             \
            select(_mm_or_si128(_mm_srli_si128(m1, 4), _mm_slli_si128(m2, 8)), k.keyBlock[1], b)); \
        _mm_storeu_si128(                                                                          \
            block + 2,                                                                             \
            select(_mm_or_si128(_mm_srli_si128(m2, 8), _mm_slli_si128(m3, 4)), k.keyBlock[2], c)); \
    }                                                                                              \
    return i;

template <>
__attribute__((target("ssse3"))) std::size_t snap24Blocks<false>(std::uint8_t* p, std::size_t count,
                                                                 const Snap24& k) {
    VANTREL_SNAP24_BODY
}

// The same instructions in their three-operand AVX2 encoding.
template <>
__attribute__((target("avx2"))) std::size_t snap24Blocks<true>(std::uint8_t* p, std::size_t count,
                                                               const Snap24& k) {
    VANTREL_SNAP24_BODY
}
#undef VANTREL_SNAP24_BODY
#endif

} // namespace

void snapToKeyPlain(std::uint8_t* first, std::size_t count, std::size_t step, std::uint32_t key,
                    std::int32_t tolerance) {
    if (tolerance <= 0) {
        return;
    }
    const auto limit = static_cast<unsigned>(std::min(tolerance, kMaxDistance));
    const int kb = static_cast<int>((key >> 16) & 0xFFu);
    const int kg = static_cast<int>((key >> 8) & 0xFFu);
    const int kr = static_cast<int>(key & 0xFFu);
    for (std::uint8_t* p = first; count > 0; --count, p += step) {
        const int d = std::abs(p[0] - kb) + std::abs(p[1] - kg) + std::abs(p[2] - kr);
        if (static_cast<unsigned>(d - 1) < limit) {
            p[0] = static_cast<std::uint8_t>(kb);
            p[1] = static_cast<std::uint8_t>(kg);
            p[2] = static_cast<std::uint8_t>(kr);
        }
    }
}

void snapToKey(std::uint8_t* first, std::size_t count, std::size_t step, std::uint32_t key,
               std::int32_t tolerance) {
    if (tolerance <= 0) {
        return;
    }
    tolerance = std::min(tolerance, kMaxDistance);
    std::size_t done = 0;
#ifdef VANTREL_SNAP_SIMD
    if (step == 3) {
        static const bool avx2 = __builtin_cpu_supports("avx2");
        static const bool ssse3 = __builtin_cpu_supports("ssse3");
        if (ssse3) {
            const Snap24 k(key, tolerance);
            done =
                avx2 ? snap24Blocks<true>(first, count, k) : snap24Blocks<false>(first, count, k);
        }
    }
#endif
    snapToKeyPlain(first + step * done, count - done, step, key, tolerance);
}

} // namespace vantrel::imaging
