#include "CheckSum.h"

#include "FileUtil.h"
#include "Log.h"

#include <stdio.h>
#include <string.h>

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

uint32_t Update(uint32_t value, const void* data, size_t size)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
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
    unsigned char buffer[CHECKSUM_CHUNK_SIZE];
    uint32_t value = 0;
    unsigned long long total = 0;
    bool readFailed = false;
    for (;;)
    {
        DWORD got = 0;
        if (!ReadFile(file, buffer, CHECKSUM_CHUNK_SIZE, &got, NULL))
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
