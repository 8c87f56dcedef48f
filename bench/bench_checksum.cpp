// Throughput of CheckSum::Compute beside zlib's crc32, over the same file.
//
//   bench_checksum [megabytes]      (default 64)
//
// A file of that size is written to the temporary folder and read once to
// warm the cache. Then, best of several alternating rounds each:
//   file:   CheckSum::Compute (in the program's chunks) against
//           the same chunked read fed to crc32;
//   memory: CheckSum::Update against crc32 over one buffer (no file system);
//   chunk:  CheckSum::Update folding the bit streams against its tables, over
//           a 512 KB chunk in the processor's cache, as a copy feeds it;
//   copy:   the program's copy routine (AltCopyFileEx, which checksums what it
//           writes) against CopyFileA, copying the file in the same folder;
//   small:  the same for 24 KB files, where a copy's fixed cost shows.
// The checksums are different codes; only their speed is compared.

#include <windows.h>

#include <zlib.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "CheckSum.h"
#include "FileUtil.h"

namespace
{
// The machine is shared: rounds of the two codes alternate, so that a busy
// moment slows both alike, and the best round of each counts.
const int ROUNDS = 9;

double Now()
{
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return (double)counter.QuadPart / (double)frequency.QuadPart;
}

bool WriteTestFile(const char* path, std::vector<unsigned char>& data)
{
    uint32_t state = 0x12345678u;
    for (unsigned char& b : data)
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = (unsigned char)state;
    }
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, data.data(), (DWORD)data.size(), &written, NULL);
    CloseHandle(file);
    return ok && written == data.size();
}

// zlib's crc32 with the program's reading pattern.
bool ZlibFileCrc(const char* path, uLong* crc)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    static unsigned char buffer[CHECKSUM_CHUNK_SIZE];
    uLong value = crc32(0L, Z_NULL, 0);
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, NULL) && got > 0)
        value = crc32(value, buffer, got);
    CloseHandle(file);
    *crc = value;
    return true;
}

double Seconds(const std::function<void()>& run)
{
    const double start = Now();
    run();
    return Now() - start;
}

// Best seconds of ours and of zlib, their rounds alternating.
void BestSeconds(const std::function<void()>& ours, const std::function<void()>& zlib, double& bestOurs,
                 double& bestZlib)
{
    bestOurs = bestZlib = 1e30;
    for (int i = 0; i < ROUNDS; ++i)
    {
        bestOurs = std::min(bestOurs, Seconds(ours));
        bestZlib = std::min(bestZlib, Seconds(zlib));
    }
}

void Report(const char* what, double megabytes, double ours, double zlib)
{
    printf("%-8s CheckSum %8.1f MB/s   zlib crc32 %8.1f MB/s   ratio (ours/zlib) %.2f\n", what,
           megabytes / ours, megabytes / zlib, zlib / ours);
}
} // namespace

int main(int argc, char** argv)
{
    const long megabytes = argc > 1 ? atol(argv[1]) : 64;
    if (megabytes <= 0 || megabytes > 1024)
    {
        fprintf(stderr, "usage: bench_checksum [megabytes 1..1024]\n");
        return 2;
    }
    char path[MAX_PATH];
    char folder[MAX_PATH];
    if (!GetTempPathA(MAX_PATH, folder) || !GetTempFileNameA(folder, "fwb", 0, path))
    {
        fprintf(stderr, "no temporary file\n");
        return 1;
    }
    std::vector<unsigned char> data((size_t)megabytes << 20);
    if (!WriteTestFile(path, data))
    {
        fprintf(stderr, "could not write %s\n", path);
        DeleteFileA(path);
        return 1;
    }

    char text[CHECKSUM_TEXT_SIZE] = "";
    uLong zlibCrc = 0;
    bool ok = CheckSum::Compute(path, text) && ZlibFileCrc(path, &zlibCrc); // warms the cache
    double fileOurs, fileZlib;
    BestSeconds([&] { ok = CheckSum::Compute(path, text) && ok; }, [&] { ok = ZlibFileCrc(path, &zlibCrc) && ok; },
                fileOurs, fileZlib);

    // Each copy goes to a new name, the last one removed before the next
    // round's copy and out of its time.
    double copyOurs = 1e30, copySystem = 1e30;
    for (int i = 0; i < ROUNDS && ok; ++i)
    {
        char copy[MAX_PATH + 16];
        _snprintf(copy, sizeof(copy), "%s.%d", path, i);
        copy[sizeof(copy) - 1] = 0;
        double start = Now();
        ok = AltCopyFileEx(path, copy, NULL, NULL, NULL, false) == 1;
        copyOurs = std::min(copyOurs, Now() - start);
        DeleteFileA(copy);
        start = Now();
        ok = ok && CopyFileA(path, copy, FALSE);
        copySystem = std::min(copySystem, Now() - start);
        DeleteFileA(copy);
    }
    // The fixed cost of a copy: 20 files of 24 KB (the size of the sample's
    // small archives), each to a new name.
    const int SMALL_FILES = 20;
    char small[MAX_PATH + 16];
    _snprintf(small, sizeof(small), "%s.small", path);
    small[sizeof(small) - 1] = 0;
    std::vector<unsigned char> smallData(24 * 1024);
    ok = ok && WriteTestFile(small, smallData);
    const auto smallCopy = [&](int f) { return std::string(small) + "." + std::to_string(f); };
    double smallOurs = 1e30, smallSystem = 1e30;
    for (int i = 0; i < ROUNDS && ok; ++i)
    {
        for (int system = 0; system < 2 && ok; ++system)
        {
            const double start = Now();
            for (int f = 0; f < SMALL_FILES && ok; ++f)
            {
                const std::string copy = smallCopy(f);
                ok = system ? CopyFileA(small, copy.c_str(), FALSE) != 0
                            : AltCopyFileEx(small, copy.c_str(), NULL, NULL, NULL, false) == 1;
            }
            double& best = system ? smallSystem : smallOurs;
            best = std::min(best, Now() - start);
            for (int f = 0; f < SMALL_FILES; ++f)
                DeleteFileA(smallCopy(f).c_str());
        }
    }
    DeleteFileA(small);
    DeleteFileA(path);
    if (!ok)
    {
        fprintf(stderr, "reading or copying %s failed\n", path);
        return 1;
    }

    uint32_t memoryOurs = 0;
    uLong memoryZlib = 0;
    double bufferOurs, bufferZlib;
    BestSeconds([&] { memoryOurs = CheckSum::Update(0, data.data(), data.size()); },
                [&] { memoryZlib = crc32(0L, data.data(), (uInt)data.size()); }, bufferOurs, bufferZlib);

    const size_t chunk = 512 * 1024;
    const size_t repeats = data.size() / chunk;
    uint32_t folded = 0, tabled = 0;
    double chunkFolded, chunkTables;
    const int widest = CheckSum::UseCode(3);
    BestSeconds(
        [&] {
            CheckSum::UseCode(3);
            for (size_t i = 0; i < repeats; ++i)
                folded = CheckSum::Update(folded, data.data(), chunk);
        },
        [&] {
            CheckSum::UseCode(0);
            for (size_t i = 0; i < repeats; ++i)
                tabled = CheckSum::Update(tabled, data.data(), chunk);
        },
        chunkFolded, chunkTables);
    // The 256-bit folding with its bits gathered by shifts, where the default
    // gathers them with the Galois field instructions.
    uint32_t shifted = 0;
    double chunkShifted = 0, unused = 0;
    if (widest == 3)
        BestSeconds(
            [&] {
                CheckSum::UseCode(2);
                for (size_t i = 0; i < repeats; ++i)
                    shifted = CheckSum::Update(shifted, data.data(), chunk);
            },
            [&] {}, chunkShifted, unused);
    CheckSum::UseCode(3);

    printf("Checksum of %ld MB (best of %d rounds)\n", megabytes, ROUNDS);
    Report("file", (double)megabytes, fileOurs, fileZlib);
    Report("memory", (double)megabytes, bufferOurs, bufferZlib);
    printf("chunk    folded   %8.1f MB/s   tables     %8.1f MB/s   ratio (folded/tables) %.2f%s\n",
           (double)megabytes / chunkFolded, (double)megabytes / chunkTables, chunkTables / chunkFolded,
           widest == 3 ? " (256-bit folding, Galois field gathering)" : widest == 2 ? " (256-bit folding)" : widest == 1 ? " (128-bit folding)" : " (no folding here: both are the tables)");
    if (widest == 3)
        printf("chunk    gathered %8.1f MB/s   by shifts  %8.1f MB/s   ratio %.2f (%s)\n", (double)megabytes / chunkFolded,
               (double)megabytes / chunkShifted, chunkShifted / chunkFolded,
               shifted == tabled ? "the same checksum" : "checksums DIFFER");
    printf("copy     AltCopyFileEx %6.1f ms   CopyFileA %6.1f ms   ratio (ours/CopyFileA) %.2f\n",
           copyOurs * 1000.0, copySystem * 1000.0, copyOurs / copySystem);
    printf("small    AltCopyFileEx %6.2f ms   CopyFileA %6.2f ms   ratio (ours/CopyFileA) %.2f (a 24 KB file, best of "
           "%d rounds of %d)\n",
           smallOurs * 1000.0 / SMALL_FILES, smallSystem * 1000.0 / SMALL_FILES, smallOurs / smallSystem, ROUNDS,
           SMALL_FILES);
    printf("checksums: ours %s / %08lX, zlib %08lX; folded and tables %s\n", text, (unsigned long)memoryOurs,
           (unsigned long)memoryZlib, folded == tabled ? "agree" : "DIFFER");
    return 0;
}
