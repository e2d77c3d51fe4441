// MultiSearch's AVX2 loop. This file alone is built with -mavx2 and is only
// called where the processor has AVX2; it uses no code it could share with
// other files (no standard templates), so none of it runs elsewhere.

#include <immintrin.h>

#include "platform/text_search_loop.h"

namespace a5merge::vector_search {

namespace {

struct Avx2 {
    using Vector = __m256i;
    static constexpr std::size_t kWidth = 32;
    static Vector Splat(unsigned char c) { return _mm256_set1_epi8(static_cast<char>(c)); }
    static Vector Load(const char* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    static Vector Equal(Vector a, Vector b) { return _mm256_cmpeq_epi8(a, b); }
    static Vector Or(Vector a, Vector b) { return _mm256_or_si256(a, b); }
    static Vector And(Vector a, Vector b) { return _mm256_and_si256(a, b); }
    static Vector AndNot(Vector a, Vector b) { return _mm256_andnot_si256(a, b); }
    static unsigned Mask(Vector v) { return static_cast<unsigned>(_mm256_movemask_epi8(v)); }
};

}  // namespace

std::size_t ScanAvx2(const ProbeBytes& probes, const char* p, std::size_t size, Candidate candidate,
                     void* context) {
    return ScanAny<Avx2>(probes, p, size, candidate, context);
}

}  // namespace a5merge::vector_search
