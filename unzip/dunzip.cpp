// dunzip32.dll: extracts the members of a zip archive that match a name
// pattern into a destination folder, under their names (subfolders of
// the archive become subfolders of the destination).
//
// The archive is read through its central directory; members are stored or
// deflated (zlib inflates). Nothing is ever written outside the destination:
// an archive with any member name that could reach outside it (a ".."
// component, an absolute path, a drive or stream colon, a device name) is
// refused as a whole before anything is written. Results are Windows error
// codes: 0 on success.

#include <windows.h>

#include <zlib.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "UnzipBlock.h"

extern "C" uint32_t __stdcall dunzip(UnzipCommandBlock* block);

namespace
{
const uint32_t SIG_LOCAL_HEADER = 0x04034b50;
const uint32_t SIG_CENTRAL_HEADER = 0x02014b50;
const uint32_t SIG_END_OF_DIRECTORY = 0x06054b50;
const DWORD LOCAL_HEADER_SIZE = 30;
const DWORD CENTRAL_HEADER_SIZE = 46;
const DWORD END_RECORD_SIZE = 22;
const DWORD MAX_COMMENT_SIZE = 0xFFFF;
const uint32_t MAX_DIRECTORY_SIZE = 64u * 1024 * 1024;
const uint16_t FLAG_ENCRYPTED = 0x0001;
const uint16_t FLAG_UTF8_NAME = 0x0800;
const uint16_t METHOD_STORED = 0;
const uint16_t METHOD_DEFLATED = 8;
const UINT CODE_PAGE_ZIP_DEFAULT = 437; // names without the UTF-8 flag
const DWORD IO_CHUNK = 65536;

struct ZipEntry
{
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t dosTime = 0;
    uint16_t dosDate = 0;
    uint32_t crc = 0;
    uint32_t packedSize = 0;
    uint32_t size = 0;
    uint32_t localOffset = 0;
    std::string rawName;
    std::string target;   // relative path under the destination, backslashes
    bool isFolder = false;
};

uint16_t Get16(const unsigned char* p)
{
    return (uint16_t)(p[0] | (p[1] << 8));
}

uint32_t Get32(const unsigned char* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

uint32_t LastErrorOr(uint32_t fallback)
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

class ArchiveReader
{
public:
    ArchiveReader() : m_handle(INVALID_HANDLE_VALUE), m_size(0) {}
    ~ArchiveReader()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
    }

    uint32_t Open(const char* path)
    {
        m_handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
        if (m_handle == INVALID_HANDLE_VALUE)
            return LastErrorOr(ERROR_FILE_NOT_FOUND);
        // The calls of every Windows version (no ...Ex forms).
        DWORD high = 0;
        const DWORD low = GetFileSize(m_handle, &high);
        if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
            return LastErrorOr(ERROR_READ_FAULT);
        m_size = ((uint64_t)high << 32) | low;
        return ERROR_SUCCESS;
    }

    uint64_t Size() const { return m_size; }

    // Reads exactly count bytes at offset; false on a short read.
    bool ReadAt(uint64_t offset, void* buffer, DWORD count)
    {
        if (offset > m_size || count > m_size - offset)
            return false;
        LONG high = (LONG)(offset >> 32);
        SetLastError(NO_ERROR);
        if (SetFilePointer(m_handle, (LONG)(offset & 0xFFFFFFFFu), &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
            GetLastError() != NO_ERROR)
            return false;
        DWORD got = 0;
        return ReadFile(m_handle, buffer, count, &got, NULL) && got == count;
    }

private:
    HANDLE m_handle;
    uint64_t m_size;
};

// --- member names -------------------------------------------------------------

bool IsReservedDeviceName(const std::wstring& component)
{
    // The part before the first dot names the device: "con.txt" is CON too.
    std::wstring base = component.substr(0, component.find(L'.'));
    while (!base.empty() && base[base.size() - 1] == L' ')
        base.erase(base.size() - 1);
    for (wchar_t& c : base)
        if (c >= L'a' && c <= L'z')
            c = (wchar_t)(c - L'a' + L'A');
    static const wchar_t* const fixed[] = { L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$" };
    for (const wchar_t* name : fixed)
        if (base == name)
            return true;
    if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
        base[3] >= L'0' && base[3] <= L'9')
        return true;
    return false;
}

// One path component is acceptable when Windows would create it under exactly
// this name inside its folder.
bool IsSafeComponent(const std::wstring& component)
{
    if (component.empty())
        return false;
    for (wchar_t c : component)
    {
        if (c < 0x20 || wcschr(L":*?\"<>|", c) != NULL)
            return false;
    }
    // Windows drops trailing dots and spaces: "..", ". ." and "x." would not
    // name what they say.
    const wchar_t last = component[component.size() - 1];
    if (last == L'.' || last == L' ')
        return false;
    return !IsReservedDeviceName(component);
}

// Turns a member's stored name into a relative path under the destination, or
// fails with ERROR_BAD_PATHNAME when the name could reach outside it.
uint32_t MakeTargetName(ZipEntry& entry)
{
    const std::string& raw = entry.rawName;
    if (raw.empty() || raw.find('\0') != std::string::npos)
        return ERROR_BAD_PATHNAME;
    UINT codePage = (entry.flags & FLAG_UTF8_NAME) ? CP_UTF8 : CODE_PAGE_ZIP_DEFAULT;
    int wideLength = MultiByteToWideChar(codePage, 0, raw.data(), (int)raw.size(), NULL, 0);
    if (wideLength <= 0 && codePage != CP_UTF8)
    {
        codePage = CP_ACP;
        wideLength = MultiByteToWideChar(codePage, 0, raw.data(), (int)raw.size(), NULL, 0);
    }
    if (wideLength <= 0)
        return ERROR_BAD_PATHNAME;
    std::wstring name((size_t)wideLength, L'\0');
    MultiByteToWideChar(codePage, 0, raw.data(), (int)raw.size(), &name[0], wideLength);

    // Absolute paths ("/x", "\x", "\\server\share") are refused; so is any
    // drive, since no component may hold a colon.
    if (name[0] == L'/' || name[0] == L'\\')
        return ERROR_BAD_PATHNAME;
    const wchar_t lastChar = name[name.size() - 1];
    entry.isFolder = lastChar == L'/' || lastChar == L'\\';

    std::wstring target;
    size_t start = 0;
    while (start < name.size())
    {
        size_t end = name.find_first_of(L"/\\", start);
        if (end == std::wstring::npos)
            end = name.size();
        const std::wstring component = name.substr(start, end - start);
        start = end + 1;
        if (component.empty())
            continue; // "a//b" and the folder marker at the end
        if (!IsSafeComponent(component))
            return ERROR_BAD_PATHNAME;
        if (!target.empty())
            target += L'\\';
        target += component;
    }
    if (target.empty())
        return ERROR_BAD_PATHNAME;

    // The narrow file functions must create exactly the checked name: a name
    // the code page can only approximate (a full-width solidus becoming a
    // backslash, say) would no longer be the name that was checked, so the narrow form
    // has to convert back to the same characters.
    BOOL usedDefault = FALSE;
    const int narrowLength = WideCharToMultiByte(CP_ACP, 0, target.c_str(), (int)target.size(), NULL, 0, NULL,
                                                 &usedDefault);
    if (narrowLength <= 0 || usedDefault)
        return ERROR_BAD_PATHNAME;
    entry.target.assign((size_t)narrowLength, '\0');
    WideCharToMultiByte(CP_ACP, 0, target.c_str(), (int)target.size(), &entry.target[0], narrowLength, NULL,
                        &usedDefault);
    const int backLength = MultiByteToWideChar(CP_ACP, 0, entry.target.data(), narrowLength, NULL, 0);
    std::wstring back((size_t)(backLength > 0 ? backLength : 0), L'\0');
    if (backLength > 0)
        MultiByteToWideChar(CP_ACP, 0, entry.target.data(), narrowLength, &back[0], backLength);
    if (usedDefault || back != target)
        return ERROR_BAD_PATHNAME;
    return ERROR_SUCCESS;
}

char UpperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
}

// Pattern match on a member's own name: "*" and "?" wildcards,
// case ignored; "*.*" takes every name, with or without an extension.
bool MatchesPattern(const char* pattern, const char* name)
{
    if (strcmp(pattern, "*.*") == 0 || strcmp(pattern, "*") == 0)
        return true;
    const char* starPattern = NULL;
    const char* starName = NULL;
    while (*name)
    {
        if (*pattern == '*')
        {
            starPattern = pattern++;
            starName = name;
        }
        else if (*pattern == '?' || (*pattern && UpperAscii(*pattern) == UpperAscii(*name)))
        {
            ++pattern;
            ++name;
        }
        else if (starPattern != NULL)
        {
            pattern = starPattern + 1;
            name = ++starName;
        }
        else
        {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}

const char* LastComponent(const std::string& path)
{
    const size_t slash = path.rfind('\\');
    return path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
}

// --- the central directory -------------------------------------------------------

uint32_t ReadDirectory(ArchiveReader& archive, std::vector<ZipEntry>& entries, uint64_t& directoryStart)
{
    const uint64_t size = archive.Size();
    if (size < END_RECORD_SIZE)
        return ERROR_BAD_FORMAT;
    const DWORD tailSize = (DWORD)(size < END_RECORD_SIZE + MAX_COMMENT_SIZE ? size : END_RECORD_SIZE + MAX_COMMENT_SIZE);
    std::vector<unsigned char> tail(tailSize);
    if (!archive.ReadAt(size - tailSize, tail.data(), tailSize))
        return LastErrorOr(ERROR_READ_FAULT);

    // The end record is the last signature whose comment fits the file.
    long found = -1;
    for (long i = (long)tailSize - (long)END_RECORD_SIZE; i >= 0; --i)
    {
        const unsigned char* p = tail.data() + i;
        if (Get32(p) == SIG_END_OF_DIRECTORY && (DWORD)i + END_RECORD_SIZE + Get16(p + 20) <= tailSize)
        {
            found = i;
            break;
        }
    }
    if (found < 0)
        return ERROR_BAD_FORMAT;
    const unsigned char* end = tail.data() + found;
    const uint64_t endOffset = size - tailSize + (uint64_t)found;
    const uint16_t disk = Get16(end + 4);
    const uint16_t directoryDisk = Get16(end + 6);
    const uint16_t entriesHere = Get16(end + 8);
    const uint16_t entryCount = Get16(end + 10);
    const uint32_t directorySize = Get32(end + 12);
    const uint32_t directoryOffset = Get32(end + 16);
    // Split archives and the 64-bit extension are not supported.
    if (disk != 0 || directoryDisk != 0 || entriesHere != entryCount)
        return ERROR_NOT_SUPPORTED;
    if (entryCount == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF)
        return ERROR_NOT_SUPPORTED;
    if ((uint64_t)directoryOffset + directorySize > endOffset || directorySize > MAX_DIRECTORY_SIZE)
        return ERROR_BAD_FORMAT;
    directoryStart = directoryOffset;

    std::vector<unsigned char> directory(directorySize);
    if (directorySize != 0 && !archive.ReadAt(directoryOffset, directory.data(), directorySize))
        return LastErrorOr(ERROR_READ_FAULT);

    size_t position = 0;
    for (uint16_t index = 0; index < entryCount; ++index)
    {
        if (position + CENTRAL_HEADER_SIZE > directory.size())
            return ERROR_BAD_FORMAT;
        const unsigned char* p = directory.data() + position;
        if (Get32(p) != SIG_CENTRAL_HEADER)
            return ERROR_BAD_FORMAT;
        const size_t nameLength = Get16(p + 28);
        const size_t extraLength = Get16(p + 30);
        const size_t commentLength = Get16(p + 32);
        const size_t recordSize = CENTRAL_HEADER_SIZE + nameLength + extraLength + commentLength;
        if (position + recordSize > directory.size())
            return ERROR_BAD_FORMAT;

        ZipEntry entry;
        entry.flags = Get16(p + 8);
        entry.method = Get16(p + 10);
        entry.dosTime = Get16(p + 12);
        entry.dosDate = Get16(p + 14);
        entry.crc = Get32(p + 16);
        entry.packedSize = Get32(p + 20);
        entry.size = Get32(p + 24);
        entry.localOffset = Get32(p + 42);
        entry.rawName.assign((const char*)p + CENTRAL_HEADER_SIZE, nameLength);
        if (entry.packedSize == 0xFFFFFFFF || entry.size == 0xFFFFFFFF || entry.localOffset == 0xFFFFFFFF)
            return ERROR_NOT_SUPPORTED;
        if ((uint64_t)entry.localOffset + LOCAL_HEADER_SIZE > directoryStart)
            return ERROR_BAD_FORMAT;
        entries.push_back(entry);
        position += recordSize;
    }
    return ERROR_SUCCESS;
}

// --- extraction -----------------------------------------------------------------

// Creates the folders of a relative path under the destination (the last
// component too when it names a folder).
uint32_t CreateFolders(const std::string& destination, const std::string& relative, bool lastIsFolder)
{
    size_t position = 0;
    for (;;)
    {
        const size_t slash = relative.find('\\', position);
        if (slash == std::string::npos && !lastIsFolder)
            return ERROR_SUCCESS;
        const std::string folder = destination + relative.substr(0, slash);
        if (!CreateDirectoryA(folder.c_str(), NULL))
        {
            const DWORD error = GetLastError();
            const DWORD attributes = GetFileAttributesA(folder.c_str());
            if (error != ERROR_ALREADY_EXISTS || attributes == INVALID_FILE_ATTRIBUTES ||
                !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                return error != ERROR_SUCCESS ? error : (uint32_t)ERROR_CANNOT_MAKE;
        }
        if (slash == std::string::npos)
            return ERROR_SUCCESS;
        position = slash + 1;
    }
}

bool WriteAll(HANDLE file, const unsigned char* data, DWORD count)
{
    DWORD written = 0;
    return WriteFile(file, data, count, &written, NULL) && written == count;
}

// Copies or inflates the member's data into file, checking size and CRC.
uint32_t WriteMemberData(ArchiveReader& archive, const ZipEntry& entry, uint64_t dataOffset, HANDLE file)
{
    std::vector<unsigned char> input(IO_CHUNK);
    std::vector<unsigned char> output(IO_CHUNK);
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t remaining = entry.packedSize;
    uint64_t position = dataOffset;
    uint64_t produced = 0;

    if (entry.method == METHOD_STORED)
    {
        if (entry.packedSize != entry.size)
            return ERROR_INVALID_DATA;
        while (remaining > 0)
        {
            const DWORD count = (DWORD)(remaining < IO_CHUNK ? remaining : IO_CHUNK);
            if (!archive.ReadAt(position, input.data(), count))
                return ERROR_INVALID_DATA;
            if (!WriteAll(file, input.data(), count))
                return LastErrorOr(ERROR_WRITE_FAULT);
            crc = crc32(crc, input.data(), count);
            position += count;
            remaining -= count;
            produced += count;
        }
    }
    else
    {
        z_stream stream;
        memset(&stream, 0, sizeof(stream));
        if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
            return ERROR_NOT_ENOUGH_MEMORY;
        uint32_t result = ERROR_SUCCESS;
        int status = Z_OK;
        while (status != Z_STREAM_END && result == ERROR_SUCCESS)
        {
            if (stream.avail_in == 0)
            {
                if (remaining == 0)
                {
                    result = ERROR_INVALID_DATA; // the stream ends early
                    break;
                }
                const DWORD count = (DWORD)(remaining < IO_CHUNK ? remaining : IO_CHUNK);
                if (!archive.ReadAt(position, input.data(), count))
                {
                    result = ERROR_INVALID_DATA;
                    break;
                }
                position += count;
                remaining -= count;
                stream.next_in = input.data();
                stream.avail_in = count;
            }
            stream.next_out = output.data();
            stream.avail_out = IO_CHUNK;
            status = inflate(&stream, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END)
            {
                result = status == Z_MEM_ERROR ? (uint32_t)ERROR_NOT_ENOUGH_MEMORY : (uint32_t)ERROR_INVALID_DATA;
                break;
            }
            const DWORD count = IO_CHUNK - stream.avail_out;
            produced += count;
            // More than the directory promised: stop before writing it.
            if (produced > entry.size)
            {
                result = ERROR_INVALID_DATA;
                break;
            }
            if (count > 0 && !WriteAll(file, output.data(), count))
            {
                result = LastErrorOr(ERROR_WRITE_FAULT);
                break;
            }
            crc = crc32(crc, output.data(), count);
        }
        inflateEnd(&stream);
        if (result != ERROR_SUCCESS)
            return result;
    }
    if (produced != entry.size)
        return ERROR_INVALID_DATA;
    if ((uint32_t)crc != entry.crc)
        return ERROR_CRC;
    return ERROR_SUCCESS;
}

uint32_t ExtractMember(ArchiveReader& archive, const ZipEntry& entry, uint64_t directoryStart,
                       const std::string& destination)
{
    if (entry.isFolder)
        return CreateFolders(destination, entry.target, true);

    unsigned char header[LOCAL_HEADER_SIZE];
    if (!archive.ReadAt(entry.localOffset, header, LOCAL_HEADER_SIZE) || Get32(header) != SIG_LOCAL_HEADER)
        return ERROR_BAD_FORMAT;
    const uint64_t dataOffset = (uint64_t)entry.localOffset + LOCAL_HEADER_SIZE + Get16(header + 26) +
                                Get16(header + 28);
    if (dataOffset + entry.packedSize > directoryStart)
        return ERROR_BAD_FORMAT;

    uint32_t result = CreateFolders(destination, entry.target, false);
    if (result != ERROR_SUCCESS)
        return result;
    const std::string path = destination + entry.target;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return LastErrorOr(ERROR_CANNOT_MAKE);
    result = WriteMemberData(archive, entry, dataOffset, file);
    if (result == ERROR_SUCCESS)
    {
        FILETIME local;
        FILETIME written;
        if (DosDateTimeToFileTime(entry.dosDate, entry.dosTime, &local) && LocalFileTimeToFileTime(&local, &written))
            SetFileTime(file, NULL, NULL, &written);
    }
    CloseHandle(file);
    if (result != ERROR_SUCCESS)
        DeleteFileA(path.c_str()); // no half-written member is left behind
    return result;
}

uint32_t Extract(const UnzipCommandBlock& block)
{
    std::string destination = block.destination;
    if (destination.empty())
        return ERROR_INVALID_PARAMETER;
    const char last = destination[destination.size() - 1];
    if (last != '\\' && last != '/')
        destination += '\\';
    const DWORD attributes = GetFileAttributesA(destination.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ERROR_PATH_NOT_FOUND;

    ArchiveReader archive;
    uint32_t result = archive.Open(block.archive);
    if (result != ERROR_SUCCESS)
        return result;
    std::vector<ZipEntry> entries;
    uint64_t directoryStart = 0;
    result = ReadDirectory(archive, entries, directoryStart);
    if (result != ERROR_SUCCESS)
        return result;

    // Every member is checked before the first one is written: an archive
    // that tries to leave the destination is refused whole.
    for (ZipEntry& entry : entries)
    {
        result = MakeTargetName(entry);
        if (result != ERROR_SUCCESS)
            return result;
        if (destination.size() + entry.target.size() >= MAX_PATH)
            return ERROR_FILENAME_EXCED_RANGE;
        if (!entry.isFolder)
        {
            if (entry.flags & FLAG_ENCRYPTED)
                return ERROR_NOT_SUPPORTED;
            if (entry.method != METHOD_STORED && entry.method != METHOD_DEFLATED)
                return ERROR_NOT_SUPPORTED;
        }
    }

    for (const ZipEntry& entry : entries)
    {
        if (!MatchesPattern(block.fileSpec, LastComponent(entry.target)))
            continue;
        result = ExtractMember(archive, entry, directoryStart, destination);
        if (result != ERROR_SUCCESS)
            return result;
    }
    return ERROR_SUCCESS;
}
} // namespace

extern "C" uint32_t __stdcall dunzip(UnzipCommandBlock* block)
{
    if (block == NULL || block->size != sizeof(UnzipCommandBlock) || block->archive == NULL ||
        block->fileSpec == NULL || block->destination == NULL)
        return ERROR_INVALID_PARAMETER;
    if (block->operation != UNZIP_OPERATION_EXTRACT)
        return ERROR_NOT_SUPPORTED;
    try
    {
        return Extract(*block);
    }
    catch (...)
    {
        // Nothing may unwind into the caller, which knows no exceptions.
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}
