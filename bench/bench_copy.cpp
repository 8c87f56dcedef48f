// The baseline of the LOCAL installation: the same delivered files copied
// with the system's own copy routine (CopyFileA) in the same prefix.
//
//     bench_copy.exe <source folder> <destination folder> <relative name>...
//
// Prints the bytes copied and the milliseconds taken; exit code 1 when a copy
// fails.
#include <windows.h>

#include <stdio.h>

#include <string>

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

int main(int argc, char** argv)
{
    if (argc < 4)
    {
        fprintf(stderr, "usage: bench_copy <source folder> <destination folder> <relative name>...\n");
        return 2;
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    unsigned long long bytes = 0;
    for (int i = 3; i < argc; ++i)
    {
        std::string source = std::string(argv[1]) + "\\" + argv[i];
        std::string destination = std::string(argv[2]) + "\\" + argv[i];
        if (!MakeParents(destination) || !CopyFileA(source.c_str(), destination.c_str(), FALSE))
        {
            fprintf(stderr, "cannot copy %s (%lu)\n", source.c_str(), GetLastError());
            return 1;
        }
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExA(destination.c_str(), GetFileExInfoStandard, &data))
            bytes += ((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    }
    QueryPerformanceCounter(&end);
    printf("copied-bytes=%llu copy-ms=%.0f\n", bytes, (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart);
    return 0;
}
