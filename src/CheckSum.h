// Checksums of delivered files: the 32-bit cyclic code that the settings
// file's [CheckSums] entries hold as eight upper-case hexadecimal digits.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

// "%08lX" and its terminator.
const size_t CHECKSUM_TEXT_SIZE = 9;
// Files are read in chunks of this size with one buffer (of the small size
// where that much memory cannot be had).
const DWORD CHECKSUM_CHUNK_SIZE = 256 * 1024;
const DWORD CHECKSUM_SMALL_CHUNK_SIZE = 16384;

namespace CheckSum
{
// Entry i of the code's table. The table is not the common CRC-32 table: its
// generator keeps the top bit on every shift, and every stored checksum
// depends on exactly that.
uint32_t TableEntry(unsigned index);

// Continues a checksum over more bytes (start value 0, no inversions).
uint32_t Update(uint32_t value, const void* data, size_t size);

// The widest code Update may use: 0 the tables, 1 the bit streams folded
// 128 bits at a time, 2 256 bits at a time, 3 (the default) the same with the
// bits gathered by the Galois field instructions, each where the processor
// has the instructions; returns the widest it now uses. For tests and
// benchmarks of every code.
int UseCode(int widest);

// The checksum of a file as "%08lX" into out (at least CHECKSUM_TEXT_SIZE
// bytes). False when out is missing, the file cannot be opened or a read fails;
// out is then empty.
bool Compute(const char* path, char* out);

// Compute for a file whose checksum this run has already taken, as a copy
// (AltCopyFileEx) wrote it or as Compute read it whole: that checksum, when the
// file at path is still that file (the same identity, size and last-write
// time); otherwise, a file changed or replaced since, it is read as Compute
// does.
bool OfFile(const char* path, char* out);

// Notes that the file now at path, of size bytes, has the checksum value; a
// file that cannot be described, or has another size, is not noted.
void Remember(const char* path, uint32_t value, unsigned long long size);
// Drops what was noted of path.
void Forget(const char* path);
} // namespace CheckSum

// CheckSum::Compute with its log lines: 0, or 13 (ERROR_INVALID_DATA) when the
// checksum cannot be obtained.
DWORD GetFileChecksum(const char* path, char* out);
