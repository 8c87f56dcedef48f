// A baseline of the WEB installation: the same delivered files fetched with
// the system's download routine that the program uses
// (URLDownloadToCacheFileA, no progress callback), in the same prefix, from
// the same server. The difference to the installation's data phase is what
// the program itself costs; the difference to curl is the routine's own.
//
//     bench_download.exe <base URL ending in /> <relative name>...
//
// Prints the bytes fetched and the milliseconds taken; exit code 1 when a
// download fails.
#include <windows.h>
#include <urlmon.h>

#include <stdio.h>

#include <string>

int main(int argc, char** argv)
{
    if (argc < 3)
    {
        fprintf(stderr, "usage: bench_download <base URL> <relative name>...\n");
        return 2;
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    unsigned long long bytes = 0;
    for (int i = 2; i < argc; ++i)
    {
        std::string url = std::string(argv[1]) + argv[i];
        char path[MAX_PATH] = "";
        HRESULT result = URLDownloadToCacheFileA(NULL, url.c_str(), path, MAX_PATH, 0, NULL);
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (FAILED(result) || !GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        {
            fprintf(stderr, "cannot download %s (0x%08lX)\n", url.c_str(), (unsigned long)result);
            return 1;
        }
        bytes += ((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    }
    QueryPerformanceCounter(&end);
    printf("downloaded-bytes=%llu download-ms=%.0f\n", bytes,
           (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart);
    return 0;
}
