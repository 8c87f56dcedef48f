#include "CheckSum.h"

#include "FileUtil.h"
#include "Log.h"

#include <stdio.h>

namespace
{
const uint32_t CHECKSUM_POLYNOMIAL = 0xEDB88320u;

// Sixteen tables of 256 entries: entry[0] is the code's own table;
// entry[k][i] is the effect of byte i followed by k zero bytes. The code is
// linear over GF(2) (the kept top bit is a linear operation too), so sixteen
// bytes can be folded in one step and still give the byte-wise result.
const int SLICES = 16;
struct SliceTables
{
    uint32_t entry[SLICES][256];
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
    for (int k = 1; k < SLICES; ++k)
        for (uint32_t i = 0; i < 256; ++i)
        {
            const uint32_t prev = t.entry[k - 1][i];
            t.entry[k][i] = (prev >> 8) ^ t.entry[0][prev & 0xFFu];
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

inline uint32_t Load32(const unsigned char* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
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
    const uint32_t(*t)[256] = kTables.entry;
    while (size >= 16)
    {
        const uint32_t w0 = value ^ Load32(p);
        const uint32_t w1 = Load32(p + 4);
        const uint32_t w2 = Load32(p + 8);
        const uint32_t w3 = Load32(p + 12);
        value = t[15][w0 & 0xFF] ^ t[14][(w0 >> 8) & 0xFF] ^ t[13][(w0 >> 16) & 0xFF] ^ t[12][w0 >> 24] ^
                t[11][w1 & 0xFF] ^ t[10][(w1 >> 8) & 0xFF] ^ t[9][(w1 >> 16) & 0xFF] ^ t[8][w1 >> 24] ^
                t[7][w2 & 0xFF] ^ t[6][(w2 >> 8) & 0xFF] ^ t[5][(w2 >> 16) & 0xFF] ^ t[4][w2 >> 24] ^
                t[3][w3 & 0xFF] ^ t[2][(w3 >> 8) & 0xFF] ^ t[1][(w3 >> 16) & 0xFF] ^ t[0][w3 >> 24];
        p += 16;
        size -= 16;
    }
    while (size-- > 0)
        value = (value >> 8) ^ t[0][(value ^ *p++) & 0xFF];
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
    CloseHandle(file);

    // A read that fails part way must not pass for the end of the file: the
    // checksum of the bytes read so far would be reported as the file's own.
    if (readFailed)
    {
        LogMessage(3, LOG_WARNING, "CheckSum::Compute('%hs') read failed after %I64u bytes, LastError = %d .\n",
                   path, total, (int)readError);
        return false;
    }
    sprintf(out, "%08lX", (unsigned long)value);
    return true;
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
