#include "CheckSum.h"

#include "FileUtil.h"
#include "Log.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define CHECKSUM_WIDE_CODE 1
#endif

#include <string>
#include <vector>

namespace
{
const uint32_t CHECKSUM_POLYNOMIAL = 0xEDB88320u;

// entry[k][i] is the effect of byte i followed by k zero bytes; entry[0] is
// the code's own table. The code is linear over GF(2) (the kept top bit is a
// linear operation too), so the effects of bytes can be added up (exclusive-or)
// and eight bytes folded in one step still give the byte-wise result.
//
// Long data runs as BRAIDS interleaved streams of 8-byte words: stream j
// takes words j, j + BRAIDS, ... so that the processor works on BRAIDS
// independent chains. A word's effect is carried to the same stream's next
// word, 8 * BRAIDS bytes on, through braid[k] = entry[8 * BRAIDS - 1 - k]; the
// last round feeds the streams' values into its words and folds them in order.
const int BRAIDS = 6;
const size_t BRAID_ROUND = 8 * BRAIDS;
struct SliceTables
{
    uint32_t entry[8][256];
    uint32_t braid[8][256];
};

constexpr uint32_t MakeEntry(uint32_t i)
{
    uint32_t value = i;
    for (int step = 0; step < 8; ++step)
    {
        const bool carry = (value & 1u) != 0;
        // Shift right keeping the top bit, as the original generator's signed
        // shift did.
        value = (value >> 1) | (value & 0x80000000u);
        if (carry)
            value ^= CHECKSUM_POLYNOMIAL;
    }
    return value;
}

constexpr SliceTables MakeTables()
{
    SliceTables t{};
    for (uint32_t i = 0; i < 256; ++i)
        t.entry[0][i] = MakeEntry(i);
    for (uint32_t i = 0; i < 256; ++i)
    {
        uint32_t value = t.entry[0][i];
        for (size_t zeros = 1; zeros < BRAID_ROUND; ++zeros)
        {
            value = (value >> 8) ^ t.entry[0][value & 0xFFu];
            if (zeros < 8)
                t.entry[zeros][i] = value;
            if (zeros >= BRAID_ROUND - 8)
                t.braid[BRAID_ROUND - 1 - zeros][i] = value;
        }
    }
    return t;
}

constexpr SliceTables kTables = MakeTables();

// The documented anchors of the table: a change here breaks every stored checksum.
static_assert(kTables.entry[0][0] == 0x00000000u, "checksum table");
static_assert(kTables.entry[0][1] == 0x09073096u, "checksum table");
static_assert(kTables.entry[0][2] == 0x120E612Cu, "checksum table");
static_assert(kTables.entry[0][4] == 0xFF6DC419u, "checksum table");
static_assert(kTables.entry[0][128] == 0xEDB88320u, "checksum table");
static_assert(kTables.entry[0][255] == 0x0702EF8Du, "checksum table");

// Little-endian words whatever the alignment.
inline uint64_t Load64(const unsigned char* p)
{
    uint64_t word;
    memcpy(&word, p, sizeof(word));
    return word;
}

// A word's effect on its stream's next word.
inline uint32_t Braid(uint64_t w)
{
    const uint32_t(*b)[256] = kTables.braid;
    return b[0][w & 0xFF] ^ b[1][(w >> 8) & 0xFF] ^ b[2][(w >> 16) & 0xFF] ^ b[3][(w >> 24) & 0xFF] ^
           b[4][(w >> 32) & 0xFF] ^ b[5][(w >> 40) & 0xFF] ^ b[6][(w >> 48) & 0xFF] ^ b[7][w >> 56];
}

// Eight bytes folded into the value in one step.
inline uint32_t Fold8(uint32_t value, uint64_t w)
{
    const uint32_t(*t)[256] = kTables.entry;
    w ^= value;
    return t[7][w & 0xFF] ^ t[6][(w >> 8) & 0xFF] ^ t[5][(w >> 16) & 0xFF] ^ t[4][(w >> 24) & 0xFF] ^
           t[3][(w >> 32) & 0xFF] ^ t[2][(w >> 40) & 0xFF] ^ t[1][(w >> 48) & 0xFF] ^ t[0][w >> 56];
}

// The code is linear over GF(2): from a start value v and bytes b_1..b_n it
// ends at sum over j of M^(n-j+1) b_j (the start value is the same as its four
// bytes exclusive-ored into the first four bytes), where M is the step of one
// zero byte, M(u) = (u >> 8) ^ entry[0][u & 0xFF]. Taking bit k of every byte
// as a bit stream, the part of the result that stream makes is r(M) e_k, with
// e_k the value of bit k alone and r the stream read as a polynomial (first
// bit highest, times y) reduced modulo MINIMAL, the minimal polynomial of M
// (degree 31: M^31 = sum of the lower terms, checked below). A processor
// with carry-less multiplication folds each of the eight streams 128 bits (128
// bytes of data) at a time; the eight remainders then pick their columns
// M^i e_k. That reads each byte once, with no table: 1.4 to 2.5 times as fast
// as the tables above 128 bits at a time, and faster again 256 bits at a time
// where the processor has the wide forms of the instructions.
const uint32_t MINIMAL = 0x80B84332u;   // y^31 + ... + y
const int MINIMAL_DEGREE = 31;

constexpr uint32_t Step(uint32_t u)
{
    return (u >> 8) ^ kTables.entry[0][u & 0xFFu];
}

// The columns M^i e_k of the eight bit streams.
struct Columns
{
    uint32_t of[8][MINIMAL_DEGREE];
};

constexpr Columns MakeColumns()
{
    Columns c{};
    for (int k = 0; k < 8; ++k)
    {
        uint32_t u = 1u << k;
        for (int i = 0; i < MINIMAL_DEGREE; ++i)
        {
            c.of[k][i] = u;
            u = Step(u);
        }
    }
    return c;
}

constexpr Columns kColumns = MakeColumns();

// MINIMAL(M) sends every value to 0: M^31 e_i equals the lower terms applied to e_i.
constexpr bool MinimalHolds()
{
    for (int bit = 0; bit < 32; ++bit)
    {
        uint32_t u = 1u << bit, sum = 0;
        for (int i = 0; i <= MINIMAL_DEGREE; ++i)
        {
            if ((MINIMAL >> i) & 1u)
                sum ^= u;
            u = Step(u);
        }
        if (sum != 0)
            return false;
    }
    return true;
}
static_assert(MinimalHolds(), "checksum folding polynomial");

// y^power modulo MINIMAL.
constexpr uint32_t PowerOfY(int power)
{
    uint32_t r = 1;
    for (int i = 0; i < power; ++i)
    {
        r <<= 1;
        if ((r >> MINIMAL_DEGREE) & 1u)
            r ^= MINIMAL;
    }
    return r;
}

// A polynomial of degree below 64 as the folding holds it: y^t at bit 63 - t.
constexpr uint64_t Reflected64(uint32_t poly)
{
    uint64_t r = 0;
    for (int t = 0; t < 32; ++t)
        if ((poly >> t) & 1u)
            r |= 1ull << (63 - t);
    return r;
}

// The folding constants: a carry-less product of two reflected halves is the
// product times y, hence one power less than the distance folded.
const uint64_t FOLD_LOW = Reflected64(PowerOfY(191));   // the half 192 bits before the next block's end
const uint64_t FOLD_HIGH = Reflected64(PowerOfY(127));  // the half 128 bits before it
// The same for every other block (a lane of the 256-bit code): 256 bits on.
const uint64_t FOLD2_LOW = Reflected64(PowerOfY(319));
const uint64_t FOLD2_HIGH = Reflected64(PowerOfY(255));

// Reduction of a remainder by a byte: REDUCE[t] = t y^31 modulo MINIMAL.
struct ReduceTable
{
    uint32_t by[256];
    unsigned char reversed[256];
};

constexpr ReduceTable MakeReduceTable()
{
    ReduceTable t{};
    for (uint32_t top = 0; top < 256; ++top)
    {
        uint32_t r = 0;
        for (int bit = 7; bit >= 0; --bit)
        {
            r <<= 1;
            if ((r >> MINIMAL_DEGREE) & 1u)
                r ^= MINIMAL;
            if ((top >> bit) & 1u)
                r ^= PowerOfY(MINIMAL_DEGREE);
        }
        t.by[top] = r;
        unsigned char rev = 0;
        for (int bit = 0; bit < 8; ++bit)
            if ((top >> bit) & 1u)
                rev |= (unsigned char)(0x80u >> bit);
        t.reversed[top] = rev;
    }
    return t;
}

constexpr ReduceTable kReduce = MakeReduceTable();

// The value that a stream's folded 128 bits stand for: reduced modulo
// MINIMAL, times y, applied to the stream's columns.
uint32_t StreamValue(int k, const unsigned char folded[16])
{
    uint32_t r = 0;
    for (int j = 0; j < 16; ++j)
        r = ((r << 8) & 0x7FFFFFFFu) ^ kReduce.by[r >> 23] ^ kReduce.reversed[folded[j]];
    r <<= 1;
    if ((r >> MINIMAL_DEGREE) & 1u)
        r ^= MINIMAL;
    uint32_t value = 0;
    for (int i = 0; i < MINIMAL_DEGREE; ++i)
        value ^= kColumns.of[k][i] & (0u - ((r >> i) & 1u));
    return value;
}

#ifdef CHECKSUM_WIDE_CODE
// Below this the tables are as quick as the setting up of the streams.
const size_t WIDE_MIN_SIZE = 1024;
const size_t WIDE_BLOCK = 128;

// The widest code the processor and the system allow: 0 the tables, 1
// 128-bit folding (carry-less multiplication; the system keeps the vector
// registers of every thread, which its second-generation vector flag tells),
// 2 256-bit folding (the wide vector forms of both, their registers kept by the
// system, which the extended control register tells), 3 the same with the
// bits transposed by the Galois field instructions.
int s_widestAllowed = 3;

int WidestCode()
{
    static int widest = -1;
    if (widest < 0)
    {
        widest = 0;
        typedef BOOL(WINAPI * FeatureFn)(DWORD);
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        FeatureFn feature = kernel != NULL ? (FeatureFn)(void*)GetProcAddress(kernel, "IsProcessorFeaturePresent") : NULL;
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (feature != NULL && feature(PF_XMMI64_INSTRUCTIONS_AVAILABLE) && __get_cpuid(1, &a, &b, &c, &d) &&
            (c & bit_PCLMUL) != 0)
        {
            widest = 1;
            unsigned b7 = 0, c7 = 0;
            if ((c & bit_OSXSAVE) != 0 && (c & bit_AVX) != 0 && __get_cpuid_count(7, 0, &a, &b7, &c7, &d) &&
                (b7 & bit_AVX2) != 0 && (c7 & bit_VPCLMULQDQ) != 0)
            {
                unsigned low = 0, high = 0;
                __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
                if ((low & 6u) == 6u)   // the system saves the vector registers whole
                    widest = (c7 & bit_GFNI) != 0 ? 3 : 2;
            }
        }
    }
    return widest;
}

// Whole blocks of 128 bytes from value; the value after them.
__attribute__((target("sse2,pclmul")))
#ifdef __i386__
__attribute__((force_align_arg_pointer))
#endif
uint32_t UpdateWide(uint32_t value, const unsigned char* p, size_t blocks)
{
    const __m128i fold = _mm_set_epi32((int)(FOLD_HIGH >> 32), (int)FOLD_HIGH, (int)(FOLD_LOW >> 32), (int)FOLD_LOW);
    // Transposes the 8 x 8 bits of each 8-byte word: byte k of the result
    // holds bit k of the word's eight bytes, the first byte lowest.
    const __m128i swap7 = _mm_set1_epi64x(0x00AA00AA00AA00AAll);
    const __m128i swap14 = _mm_set1_epi64x(0x0000CCCC0000CCCCll);
    const __m128i swap28 = _mm_set1_epi64x(0x00000000F0F0F0F0ll);
    __m128i acc[8];
    for (size_t block = 0; block < blocks; ++block, p += WIDE_BLOCK)
    {
        __m128i x[8];
        #pragma GCC unroll 8
        for (int t = 0; t < 8; ++t)
        {
            __m128i v = _mm_loadu_si128((const __m128i*)(p + 16 * t));
            if (block == 0 && t == 0)
                v = _mm_xor_si128(v, _mm_cvtsi32_si128((int)value));
            __m128i d = _mm_and_si128(_mm_xor_si128(v, _mm_srli_epi64(v, 7)), swap7);
            v = _mm_xor_si128(v, _mm_xor_si128(d, _mm_slli_epi64(d, 7)));
            d = _mm_and_si128(_mm_xor_si128(v, _mm_srli_epi64(v, 14)), swap14);
            v = _mm_xor_si128(v, _mm_xor_si128(d, _mm_slli_epi64(d, 14)));
            d = _mm_and_si128(_mm_xor_si128(v, _mm_srli_epi64(v, 28)), swap28);
            x[t] = _mm_xor_si128(v, _mm_xor_si128(d, _mm_slli_epi64(d, 28)));
        }
        // x[t] byte 8h + k is bit k of the block's bytes 16t + 8h to 16t + 8h + 7.
        // Four rounds of interleaving, each pairing the registers on one bit of
        // t (then on h), gather stream k in register k, its byte 2t + h.
        __m128i y[8], z[8];
        #pragma GCC unroll 8
        for (int i = 0; i < 4; ++i)
        {
            y[2 * i] = _mm_unpacklo_epi8(x[i], x[i + 4]);
            y[2 * i + 1] = _mm_unpackhi_epi8(x[i], x[i + 4]);
        }
        #pragma GCC unroll 8
        for (int i = 0; i < 4; ++i)
        {
            z[2 * i] = _mm_unpacklo_epi8(y[i], y[i + 4]);
            z[2 * i + 1] = _mm_unpackhi_epi8(y[i], y[i + 4]);
        }
        #pragma GCC unroll 8
        for (int i = 0; i < 4; ++i)
        {
            y[2 * i] = _mm_unpacklo_epi8(z[i], z[i + 4]);
            y[2 * i + 1] = _mm_unpackhi_epi8(z[i], z[i + 4]);
        }
        #pragma GCC unroll 8
        for (int i = 0; i < 4; ++i)
        {
            z[2 * i] = _mm_unpacklo_epi8(y[i], y[i + 4]);
            z[2 * i + 1] = _mm_unpackhi_epi8(y[i], y[i + 4]);
        }
        #pragma GCC unroll 8
        for (int k = 0; k < 8; ++k)
        {
            if (block == 0)
                acc[k] = z[k];
            else
                acc[k] = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(acc[k], fold, 0x00),
                                                     _mm_clmulepi64_si128(acc[k], fold, 0x11)),
                                       z[k]);
        }
    }
    uint32_t result = 0;
    for (int k = 0; k < 8; ++k)
    {
        unsigned char folded[16];
        _mm_storeu_si128((__m128i*)folded, acc[k]);
        result ^= StreamValue(k, folded);
    }
    return result;
}

// Whole pairs of blocks (256 bytes) from value; the value after them. The
// 128-bit code in both halves of the wide registers: the lower half folds
// the even blocks, the upper half the odd ones, each 256 bits on at a time;
// at the end the even blocks' remainder is folded 128 bits on onto the odd's.
//
// Where the processor has the Galois field instructions, one affine
// transformation on each 8-byte word, its bytes reversed first,
// is the transposition: byte k of the result gets, as its bit j, bit k of
// byte j. The same code without them, for every other processor, takes three
// rounds of shifted masks.
template <bool FIELD>
__attribute__((target("avx2,pclmul,vpclmulqdq,gfni")))
#ifdef __i386__
__attribute__((force_align_arg_pointer))
#endif
uint32_t UpdateWide256(uint32_t value, const unsigned char* p, size_t pairs)
{
    const __m256i fold = _mm256_set_epi32((int)(FOLD2_HIGH >> 32), (int)FOLD2_HIGH, (int)(FOLD2_LOW >> 32),
                                          (int)FOLD2_LOW, (int)(FOLD2_HIGH >> 32), (int)FOLD2_HIGH,
                                          (int)(FOLD2_LOW >> 32), (int)FOLD2_LOW);
    const __m256i swap7 = _mm256_set1_epi64x(0x00AA00AA00AA00AAll);
    const __m256i swap14 = _mm256_set1_epi64x(0x0000CCCC0000CCCCll);
    const __m256i swap28 = _mm256_set1_epi64x(0x00000000F0F0F0F0ll);
    const __m256i bitOfEachByte = _mm256_set1_epi64x(0x8040201008040201ll);
    const __m256i reverseWords = _mm256_set_epi8(8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
                                                 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7);
    __m256i acc[8];
    for (size_t pair = 0; pair < pairs; ++pair, p += 2 * WIDE_BLOCK)
    {
        __m256i x[8];
        #pragma GCC unroll 8
        for (int t = 0; t < 8; ++t)
        {
            __m128i first = _mm_loadu_si128((const __m128i*)(p + 16 * t));
            if (pair == 0 && t == 0)
                first = _mm_xor_si128(first, _mm_cvtsi32_si128((int)value));
            __m256i v = _mm256_inserti128_si256(_mm256_castsi128_si256(first),
                                                _mm_loadu_si128((const __m128i*)(p + WIDE_BLOCK + 16 * t)), 1);
            if (FIELD)
            {
                x[t] = _mm256_gf2p8affine_epi64_epi8(bitOfEachByte, _mm256_shuffle_epi8(v, reverseWords), 0);
                continue;
            }
            __m256i d = _mm256_and_si256(_mm256_xor_si256(v, _mm256_srli_epi64(v, 7)), swap7);
            v = _mm256_xor_si256(v, _mm256_xor_si256(d, _mm256_slli_epi64(d, 7)));
            d = _mm256_and_si256(_mm256_xor_si256(v, _mm256_srli_epi64(v, 14)), swap14);
            v = _mm256_xor_si256(v, _mm256_xor_si256(d, _mm256_slli_epi64(d, 14)));
            d = _mm256_and_si256(_mm256_xor_si256(v, _mm256_srli_epi64(v, 28)), swap28);
            x[t] = _mm256_xor_si256(v, _mm256_xor_si256(d, _mm256_slli_epi64(d, 28)));
        }
        __m256i y[8], z[8];
        #pragma GCC unroll 8
        for (int i = 0; i < 4; ++i)
        {
            y[2 * i] = _mm256_unpacklo_epi8(x[i], x[i + 4]);
            y[2 * i + 1] = _mm256_unpackhi_epi8(x[i], x[i + 4]);
        }
        #pragma GCC unroll 8
        for (int i = 0; i < 4; ++i)
        {
            z[2 * i] = _mm256_unpacklo_epi8(y[i], y[i + 4]);
            z[2 * i + 1] = _mm256_unpackhi_epi8(y[i], y[i + 4]);
        }
        #pragma GCC unroll 8
        for (int i = 0; i < 4; ++i)
        {
            y[2 * i] = _mm256_unpacklo_epi8(z[i], z[i + 4]);
            y[2 * i + 1] = _mm256_unpackhi_epi8(z[i], z[i + 4]);
        }
        #pragma GCC unroll 8
        for (int i = 0; i < 4; ++i)
        {
            z[2 * i] = _mm256_unpacklo_epi8(y[i], y[i + 4]);
            z[2 * i + 1] = _mm256_unpackhi_epi8(y[i], y[i + 4]);
        }
        #pragma GCC unroll 8
        for (int k = 0; k < 8; ++k)
        {
            if (pair == 0)
                acc[k] = z[k];
            else
                acc[k] = _mm256_xor_si256(_mm256_xor_si256(_mm256_clmulepi64_epi128(acc[k], fold, 0x00),
                                                           _mm256_clmulepi64_epi128(acc[k], fold, 0x11)),
                                          z[k]);
        }
    }
    const __m128i fold128 = _mm_set_epi32((int)(FOLD_HIGH >> 32), (int)FOLD_HIGH, (int)(FOLD_LOW >> 32), (int)FOLD_LOW);
    uint32_t result = 0;
    for (int k = 0; k < 8; ++k)
    {
        const __m128i even = _mm256_castsi256_si128(acc[k]);
        const __m128i folded128 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(even, fold128, 0x00),
                                                               _mm_clmulepi64_si128(even, fold128, 0x11)),
                                                _mm256_extracti128_si256(acc[k], 1));
        unsigned char folded[16];
        _mm_storeu_si128((__m128i*)folded, folded128);
        result ^= StreamValue(k, folded);
    }
    return result;
}
#endif

// The tables' code, for any length.
uint32_t UpdateByTables(uint32_t value, const unsigned char* p, size_t size)
{
    if (size >= 2 * BRAID_ROUND)
    {
        const size_t rounds = size / BRAID_ROUND;
        uint32_t c[BRAIDS] = {value};
        for (size_t round = 1; round < rounds; ++round)
        {
            uint64_t w[BRAIDS];
            for (int j = 0; j < BRAIDS; ++j)
                w[j] = Load64(p + 8 * j) ^ c[j];
            for (int j = 0; j < BRAIDS; ++j)
                c[j] = Braid(w[j]);
            p += BRAID_ROUND;
        }
        value = 0;
        for (int j = 0; j < BRAIDS; ++j)
            value = Fold8(value, Load64(p + 8 * j) ^ c[j]);
        p += BRAID_ROUND;
        size -= rounds * BRAID_ROUND;
    }
    for (; size >= 8; size -= 8, p += 8)
        value = Fold8(value, Load64(p));
    while (size-- > 0)
        value = (value >> 8) ^ kTables.entry[0][(value ^ *p++) & 0xFF];
    return value;
}

// The files whose checksum this run took, each with the file as it was then.
struct KnownFile
{
    std::string path;
    FileIdentity file;
    uint32_t value;
};
std::vector<KnownFile> s_known;

KnownFile* FindKnown(const char* path)
{
    for (KnownFile& known : s_known)
        if (_stricmp(known.path.c_str(), path) == 0)
            return &known;
    return NULL;
}

void Note(const char* path, const FileIdentity& file, uint32_t value)
{
    KnownFile* known = FindKnown(path);
    if (known == NULL)
    {
        s_known.push_back(KnownFile{path, file, value});
        return;
    }
    known->file = file;
    known->value = value;
}
} // namespace

namespace CheckSum
{
uint32_t TableEntry(unsigned index)
{
    return kTables.entry[0][index & 0xFFu];
}

int UseCode(int widest)
{
#ifdef CHECKSUM_WIDE_CODE
    s_widestAllowed = widest;
    return widest < WidestCode() ? widest : WidestCode();
#else
    (void)widest;
    return 0;
#endif
}

uint32_t Update(uint32_t value, const void* data, size_t size)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
#ifdef CHECKSUM_WIDE_CODE
    const int code = size >= WIDE_MIN_SIZE && s_widestAllowed > 0 ? WidestCode() : 0;
    if (code >= 2 && s_widestAllowed >= 2)
    {
        const size_t pairs = size / (2 * WIDE_BLOCK);
        value = code >= 3 && s_widestAllowed >= 3 ? UpdateWide256<true>(value, p, pairs)
                                                  : UpdateWide256<false>(value, p, pairs);
        p += pairs * 2 * WIDE_BLOCK;
        size -= pairs * 2 * WIDE_BLOCK;
    }
    if (code >= 1 && size >= WIDE_BLOCK)
    {
        const size_t blocks = size / WIDE_BLOCK;
        value = UpdateWide(value, p, blocks);
        p += blocks * WIDE_BLOCK;
        size -= blocks * WIDE_BLOCK;
    }
#endif
    return UpdateByTables(value, p, size);
}

bool Compute(const char* path, char* out)
{
    if (out == NULL)
        return false;
    out[0] = '\0';
    if (!FileExists(path))
        return false;

    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE)
    {
        LogMessage(3, LOG_WARNING, "CheckSum::Compute('%hs') LastError = %d .\n", path,
                   (int)GetLastError());
        return false;
    }

    FileIdentity before, after;
    const bool described = DescribeHandle(file, before);
    // Large reads: each read is a call into the system, and in 16 KB reads
    // those calls cost more than the checksum of the bytes. Where the memory
    // is short the small buffer on the stack does.
    unsigned char small[CHECKSUM_SMALL_CHUNK_SIZE];
    unsigned char* large = (unsigned char*)malloc(CHECKSUM_CHUNK_SIZE);
    unsigned char* buffer = large != NULL ? large : small;
    const DWORD chunk = large != NULL ? CHECKSUM_CHUNK_SIZE : CHECKSUM_SMALL_CHUNK_SIZE;
    uint32_t value = 0;
    unsigned long long total = 0;
    bool readFailed = false;
    for (;;)
    {
        DWORD got = 0;
        if (!ReadFile(file, buffer, chunk, &got, NULL))
        {
            readFailed = true;
            break;
        }
        if (got == 0)
            break;
        value = Update(value, buffer, got);
        total += got;
    }
    const DWORD readError = readFailed ? GetLastError() : 0;
    free(large);
    // Remembered only when nobody wrote to the file while it was read.
    const bool unchanged = !readFailed && described && DescribeHandle(file, after) && SameFile(before, after) &&
                           after.size == total;
    CloseHandle(file);

    // A read that fails part way must not pass for the end of the file: the
    // checksum of the bytes read so far would be reported as the file's own.
    if (readFailed)
    {
        LogMessage(3, LOG_WARNING, "CheckSum::Compute('%hs') read failed after %I64u bytes, LastError = %d .\n",
                   path, total, (int)readError);
        return false;
    }
    if (unchanged)
        Note(path, after, value);
    sprintf(out, "%08lX", (unsigned long)value);
    return true;
}

bool OfFile(const char* path, char* out)
{
    if (out == NULL || path == NULL)
        return false;
    const KnownFile* known = FindKnown(path);
    FileIdentity now;
    if (known != NULL && DescribeFile(path, now) && SameFile(now, known->file))
    {
        sprintf(out, "%08lX", (unsigned long)known->value);
        return true;
    }
    return Compute(path, out);
}

void Remember(const char* path, uint32_t value, unsigned long long size)
{
    if (path == NULL)
        return;
    FileIdentity file;
    if (!DescribeFile(path, file) || file.size != size)
    {
        Forget(path);
        return;
    }
    Note(path, file, value);
}

void Forget(const char* path)
{
    for (size_t i = 0; path != NULL && i < s_known.size(); ++i)
        if (_stricmp(s_known[i].path.c_str(), path) == 0)
        {
            s_known.erase(s_known.begin() + i);
            return;
        }
}
} // namespace CheckSum

DWORD GetFileChecksum(const char* path, char* out)
{
    if (!CheckSum::Compute(path, out))
    {
        LogMessage(2, LOG_WARNING, "Could not obtain checksum of '%hs'\n", path);
        return ERROR_INVALID_DATA;
    }
    LogMessage(4, LOG_INFO, "'%hs' has checksum '%hs'\n", path, out);
    return ERROR_SUCCESS;
}
