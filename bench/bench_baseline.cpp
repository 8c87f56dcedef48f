// The baselines of the installation figures, in the same prefix as the run:
// the same delivered files copied with the system's own copy routine
// (CopyFileA), or fetched from the same server with the system's download
// routine that the program uses (URLDownloadToCacheFileA, no progress
// callback); and the packed programs unpacked by the unzip library the product
// ships, called once per archive with nothing around it. Against the
// installation's data phase the difference is what the program itself costs;
// a download's difference to curl is the routine's own.
//
//     bench_baseline.exe copy <source folder> <destination folder> <relative name>...
//     bench_baseline.exe download <base URL ending in /> <relative name>...
//     bench_baseline.exe unzip <unzip library> <destination folder> <archive>...
//
// Prints the bytes and the milliseconds taken ("copied-bytes=… copy-ms=…",
// "downloaded-bytes=… download-ms=…" or "unzipped-archives=… unzip-ms=…");
// exit code 1 when a file fails.
#include <windows.h>
#include <urlmon.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "UnzipBlock.h"

static bool MakeParents(const std::string& path)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
    {
        std::string folder = path.substr(0, at);
        if (!CreateDirectoryA(folder.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return true;
}

// Copies or fetches one file; where it now lies, empty on failure.
static std::string Obtain(bool copy, char** argv, const char* name)
{
    if (copy)
    {
        std::string source = std::string(argv[2]) + "\\" + name;
        std::string destination = std::string(argv[3]) + "\\" + name;
        if (MakeParents(destination) && CopyFileA(source.c_str(), destination.c_str(), FALSE))
            return destination;
        fprintf(stderr, "cannot copy %s (%lu)\n", source.c_str(), GetLastError());
        return "";
    }
    std::string url = std::string(argv[2]) + name;
    char path[MAX_PATH] = "";
    HRESULT result = URLDownloadToCacheFileA(NULL, url.c_str(), path, MAX_PATH, 0, NULL);
    if (SUCCEEDED(result))
        return path;
    fprintf(stderr, "cannot download %s (0x%08lX)\n", url.c_str(), (unsigned long)result);
    return "";
}

// Every member of each archive into the destination folder, as the program's
// unpacking asks the library for one archive.
static int Unzip(int argc, char** argv)
{
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    HMODULE library = LoadLibraryA(argv[2]);
    DunzipEntry dunzip = library ? (DunzipEntry)(void*)GetProcAddress(library, UNZIP_LIBRARY_ENTRY) : NULL;
    if (dunzip == NULL)
    {
        fprintf(stderr, "cannot load %s (%lu)\n", argv[2], GetLastError());
        return 1;
    }
    CreateDirectoryA(argv[3], NULL);
    for (int i = 4; i < argc; ++i)
    {
        UnzipCommandBlock block = {};
        block.size = sizeof(block);
        block.operation = UNZIP_OPERATION_EXTRACT;
        block.archive = argv[i];
        block.fileSpec = "*.*";
        block.reserved20 = -1;
        block.destination = argv[3];
        block.flag36 = 1;
        block.flag48 = 1;
        block.flag108 = 1;
        uint32_t code = dunzip(&block);
        if (code != 0)
        {
            fprintf(stderr, "cannot unzip %s (%lu)\n", argv[i], (unsigned long)code);
            return 1;
        }
    }
    FreeLibrary(library);
    QueryPerformanceCounter(&end);
    printf("unzipped-archives=%d unzip-ms=%.0f\n", argc - 4, (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc > 4 && strcmp(argv[1], "unzip") == 0)
        return Unzip(argc, argv);
    bool copy = argc > 1 && strcmp(argv[1], "copy") == 0;
    bool download = argc > 1 && strcmp(argv[1], "download") == 0;
    int first = copy ? 4 : 3;
    if ((!copy && !download) || argc <= first)
    {
        fprintf(stderr, "usage: bench_baseline copy <source folder> <destination folder> <relative name>...\n"
                        "       bench_baseline download <base URL> <relative name>...\n"
                        "       bench_baseline unzip <unzip library> <destination folder> <archive>...\n");
        return 2;
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    unsigned long long bytes = 0;
    for (int i = first; i < argc; ++i)
    {
        std::string path = Obtain(copy, argv, argv[i]);
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (path.empty() || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
            return 1;
        bytes += ((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    }
    QueryPerformanceCounter(&end);
    printf("%s-bytes=%llu %s-ms=%.0f\n", copy ? "copied" : "downloaded", bytes, copy ? "copy" : "download",
           (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart);
    return 0;
}
