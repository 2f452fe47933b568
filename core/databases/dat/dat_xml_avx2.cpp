// The check of a comment's bytes in the XML reader, 64 at a time with AVX2: the bytes a
// comment takes as they are pass, and their line feeds are counted on the way.
#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace chipsight::dat::detail {

const unsigned char* skipCommentAvx2(const unsigned char* p, const unsigned char* end,
                                     std::uint64_t& lineFeeds, bool& carriageReturn) {
    const __m256i lf = _mm256_set1_epi8('\n'), cr = _mm256_set1_epi8('\r');
    const __m256i tab = _mm256_set1_epi8('\t'), dash = _mm256_set1_epi8('-');
    const __m256i blank = _mm256_set1_epi8(' ');
    // The bytes a comment does not take as they are: '-', and the controls but tab, LF and CR,
    // among which, compared signed, are the bytes from 0x80 on.
    const auto special = [&](__m256i v, __m256i isLf, __m256i isCr) {
        const __m256i kept =
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v, tab), isLf), isCr);
        return _mm256_or_si256(_mm256_cmpeq_epi8(v, dash),
                               _mm256_andnot_si256(kept, _mm256_cmpgt_epi8(blank, v)));
    };
    __m256i crs = _mm256_setzero_si256();
    bool stopped = false;
    while (!stopped && end - p >= 64) {
        // A lane counts at most two line feeds a block, and is summed before it can overflow.
        const unsigned char* stop = p + std::min<std::ptrdiff_t>((end - p) / 64, 127) * 64;
        __m256i counts = _mm256_setzero_si256();
        for (; p < stop; p += 64) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
            const __m256i lfA = _mm256_cmpeq_epi8(a, lf), lfB = _mm256_cmpeq_epi8(b, lf);
            const __m256i crA = _mm256_cmpeq_epi8(a, cr), crB = _mm256_cmpeq_epi8(b, cr);
            const __m256i any = _mm256_or_si256(special(a, lfA, crA), special(b, lfB, crB));
            if (!_mm256_testz_si256(any, any)) {
                stopped = true;
                break;
            }
            counts = _mm256_sub_epi8(_mm256_sub_epi8(counts, lfA), lfB);
            crs = _mm256_or_si256(crs, _mm256_or_si256(crA, crB));
        }
        std::uint64_t lanes[4];
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes),
                            _mm256_sad_epu8(counts, _mm256_setzero_si256()));
        lineFeeds += lanes[0] + lanes[1] + lanes[2] + lanes[3];
    }
    carriageReturn = carriageReturn || !_mm256_testz_si256(crs, crs);
    return p;
}

}  // namespace chipsight::dat::detail
