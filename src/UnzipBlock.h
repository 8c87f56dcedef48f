// The command block of the unzip library dunzip32.dll and its one entry point,
// shared by the program (CCompression) and our own build of the library.
//
// In the 32-bit build the block is the library's 142-byte packed record; the
// 64-bit build keeps the same fields in the same order with 8-byte pointers.
#pragma once

#include <stddef.h>
#include <stdint.h>

#pragma pack(push, 1)
struct UnzipCommandBlock
{
    uint32_t size;            //   0: sizeof(UnzipCommandBlock)
    uint32_t operation;       //   4: UNZIP_OPERATION_EXTRACT
    const char* archive;      //   8: path of the zip archive
    uint32_t reserved12;      //  12
    const char* fileSpec;     //  16: which members, "*.*" for all
    int32_t reserved20;       //  20: -1
    const char* destination;  //  24: folder the members are extracted into
    uint32_t reserved28[2];   //  28..35
    uint32_t flag36;          //  36: 1 when extracting
    uint32_t reserved40[2];   //  40..47
    uint32_t flag48;          //  48: 1
    uint32_t reserved52[14];  //  52..107
    uint16_t flag108;         // 108: 1
    uint32_t reserved110[8];  // 110..141, unaligned
};
#pragma pack(pop)

#if defined(_WIN64)
static_assert(sizeof(UnzipCommandBlock) == 142 + 3 * 4, "unzip command block (64-bit pointers)");
#else
static_assert(sizeof(UnzipCommandBlock) == 142, "unzip command block");
static_assert(offsetof(UnzipCommandBlock, operation) == 4, "unzip command block");
static_assert(offsetof(UnzipCommandBlock, archive) == 8, "unzip command block");
static_assert(offsetof(UnzipCommandBlock, fileSpec) == 16, "unzip command block");
static_assert(offsetof(UnzipCommandBlock, reserved20) == 20, "unzip command block");
static_assert(offsetof(UnzipCommandBlock, destination) == 24, "unzip command block");
static_assert(offsetof(UnzipCommandBlock, flag36) == 36, "unzip command block");
static_assert(offsetof(UnzipCommandBlock, flag48) == 48, "unzip command block");
static_assert(offsetof(UnzipCommandBlock, reserved52) == 52, "unzip command block");
static_assert(offsetof(UnzipCommandBlock, flag108) == 108, "unzip command block");
static_assert(offsetof(UnzipCommandBlock, reserved110) == 110, "unzip command block");
#endif

// The operation CCompression asks for: extract the members that match fileSpec
// into destination, under their names.
const uint32_t UNZIP_OPERATION_EXTRACT = 8;

// dunzip(block): 0 on success, a non-zero code on failure. One argument,
// standard calling convention (the callee removes it).
typedef uint32_t(__stdcall* DunzipEntry)(UnzipCommandBlock* block);

#define UNZIP_LIBRARY_ENTRY "dunzip"
