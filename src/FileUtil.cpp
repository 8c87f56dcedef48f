#include "FileUtil.h"

#include <shellapi.h>
#include <winternl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "Assert.h"
#include "CheckSum.h"
#include "Log.h"
#include "TextUtil.h"

DWORD copyMode = COPY_MODE_SHELL;

// Confirmation-free shell operations that may create folders on the way; the
// shell still shows its own progress and error windows.
static const FILEOP_FLAGS SHELL_FLAGS = FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;

static bool IsEmptyText(const char* text)
{
    return text == NULL || text[0] == 0;
}

static bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// A path that names a place on its own: "X:\..." or "\\server\share...".
static bool IsFullyQualified(const char* path)
{
    if (strlen(path) >= 3 && path[1] == ':' && path[2] == '\\' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')))
        return true;
    return path[0] == '\\' && path[1] == '\\' && path[2] != 0 && path[2] != '\\';
}

// A drive root ("X:\") or a share root ("\\server\share"), after normalising.
static bool IsRootFolder(const char* full)
{
    if (full[1] == ':')
        return full[2] == 0 || (full[2] == '\\' && full[3] == 0);
    // "\\server\share": at most one backslash after the server name.
    const char* share = strchr(full + 2, '\\');
    if (share == NULL)
        return true;
    const char* rest = strchr(share + 1, '\\');
    return rest == NULL || rest[1] == 0;
}

// The shell operations run elevated and with confirmation turned off: a wrong
// path would remove or overwrite a tree the user never meant. Only a full path
// below a root is handed to the shell, normalised (no "..", no trailing
// backslash) into out, a list with its extra terminator.
static bool PrepareShellPath(const char* operation, const char* path, char* out, size_t outSize)
{
    const char* reason = NULL;
    char full[FW_PATH_SIZE];
    if (IsEmptyText(path))
        reason = "empty path";
    else if (strlen(path) >= FW_PATH_SIZE)
        reason = "path too long";
    else if (strpbrk(path, "*?") != NULL)
        reason = "wildcard in path";
    else if (!IsFullyQualified(path))
        reason = "not a full path";
    else
    {
        DWORD n = GetFullPathNameA(path, sizeof(full), full, NULL);
        if (n == 0 || n >= sizeof(full))
            reason = "path cannot be resolved";
        else
        {
            size_t length = strlen(full);
            // Keep "X:\" whole so that it is recognised as the root it is.
            while (length > 3 && full[length - 1] == '\\')
                full[--length] = 0;
            if (IsRootFolder(full))
                reason = "root folder";
            else if (length + 2 > outSize)
                reason = "path too long";
        }
    }
    if (reason != NULL)
    {
        LogMessage(2, LOG_ERROR, "%hs refused '%hs': %hs\n", operation, path ? path : "", reason);
        return false;
    }
    size_t length = strlen(full);
    memcpy(out, full, length + 1);
    out[length + 1] = 0;
    return true;
}

static bool RunShellOperation(const char* operation, UINT function, const char* from,
                              const char* to, bool* aborted)
{
    SHFILEOPSTRUCTA op;
    memset(&op, 0, sizeof(op));
    op.hwnd = NULL;
    op.wFunc = function;
    op.pFrom = from;
    op.pTo = to;
    op.fFlags = SHELL_FLAGS;
    op.lpszProgressTitle = NULL;
    int rc = SHFileOperationA(&op);
    if (aborted)
        *aborted = op.fAnyOperationsAborted != FALSE;
    if (rc != 0 || op.fAnyOperationsAborted)
    {
        LogMessage(2, LOG_ERROR, "%hs '%hs' to '%hs' failed [%d]%hs\n", operation, from,
                   to ? to : "", rc, op.fAnyOperationsAborted ? " (aborted)" : "");
        return false;
    }
    return true;
}

// The log writes a file of its own, which changes the thread's last error;
// callers of the copies read it afterwards for their own lines.
static int FailKeepingError(DWORD error)
{
    SetLastError(error);
    return 0;
}

// Removes a half-written copy so that nobody takes it for the real file.
// Beside its destination, the name a copy is written under until it is
// complete: a run killed part-way never leaves a partial file under the final
// name, where the next run would take it for a copy already in place.
static const char* const PARTIAL_COPY_SUFFIX = ".fwpart";

// What a copy that did not finish leaves: nothing under either name (the
// destination's old content was given up when the copy began).
static void RemovePartialCopy(const char* written, const char* destination)
{
    if (written != destination)
    {
        SetFileAttributesA(destination, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(destination);
    }
    SetFileAttributesA(written, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileA(written))
        LogMessage(2, LOG_WARNING, "AltCopyFileEx removed the partial copy '%hs'\n", destination);
    else
        LogMessage(2, LOG_ERROR, "AltCopyFileEx could not remove partial '%hs' [%d]\n",
                   destination, (int)GetLastError());
}

bool GetCurrentFolder(char* out)
{
    if (out == NULL)
        return false;
    out[0] = 0;
    DWORD n = GetCurrentDirectoryA(FW_PATH_SIZE, out);
    if (n == 0 || n >= (DWORD)FW_PATH_SIZE)
    {
        out[0] = 0;
        return false;
    }
    return true;
}

bool IsFolder(const char* path)
{
    if (IsEmptyText(path))
        return false;
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileExists(const char* path)
{
    if (IsEmptyText(path))
        return false;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

bool FileExistsIn(const char* folder, const char* name)
{
    if (IsEmptyText(name))
        return false;
    if (IsEmptyText(folder))
        return FileExists(name);
    if (strlen(folder) + 1 + strlen(name) >= (size_t)FW_PATH_SIZE)
        return false;
    char path[FW_PATH_SIZE];
    snprintf(path, sizeof(path), "%s\\%s", folder, name);
    return FileExists(path);
}

const char* FileNamePart(const char* path)
{
    if (path == NULL)
        return NULL;
    const char* slash = strrchr(path, '\\');
    if (slash == NULL || slash[1] == 0)
        return NULL;
    return slash + 1;
}

char* FileNamePart(char* path)
{
    return const_cast<char*>(FileNamePart(const_cast<const char*>(path)));
}

bool ParentFolder(const char* path, char* out)
{
    if (out == NULL)
        return false;
    out[0] = 0;
    if (IsEmptyText(path) || strlen(path) >= (size_t)FW_PATH_SIZE)
        return false;
    strcpy(out, path);
    char* slash = strrchr(out, '\\');
    if (slash != NULL)
        *slash = 0;
    return true;
}

bool CreateFolderTree(const char* path)
{
    if (IsEmptyText(path))
        return false;
    if (IsFolder(path))
        return true;
    char parent[FW_PATH_SIZE];
    if (!ParentFolder(path, parent))
        return false;
    // Without a backslash the parent is the path itself: nothing further up to create.
    if (strcmp(parent, path) == 0)
    {
        LogMessage(2, LOG_ERROR, "CreateFolderTree: no parent folder in '%hs'\n", path);
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    if (!CreateFolderTree(parent))
        return false;
    if (IsFolder(path))
        return true;
    if (!CreateDirectoryA(path, NULL))
    {
        // Someone else may have made it in the meantime: that is success too.
        if (IsFolder(path))
            return true;
        DWORD error = GetLastError();
        LogSystemError("CreateDirectory", error);
        SetLastError(error);
        return false;
    }
    return true;
}

bool ForceDeleteFile(const char* path)
{
    if (IsEmptyText(path))
        return false;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileA(path))
    {
        LogMessage(2, LOG_WARNING, "Could not delete '%hs' [%d]\n", path, (int)GetLastError());
        return false;
    }
    return true;
}

bool DeleteFolderTree(const char* folder)
{
    char from[FW_PATH_SIZE + 1];
    if (!PrepareShellPath("DeleteFolderTree", folder, from, sizeof(from)))
        return false;
    if (!IsFolder(from))
    {
        LogMessage(3, LOG_WARNING, "DeleteFolderTree '%hs' is not a folder\n", from);
        return false;
    }
    return RunShellOperation("DeleteFolderTree", FO_DELETE, from, NULL, NULL);
}

bool CopyFolderContents(const char* sourceFolder, const char* destFolder)
{
    char source[FW_PATH_SIZE + 1];
    char to[FW_PATH_SIZE + 1];
    if (!PrepareShellPath("CopyFolderContents", sourceFolder, source, sizeof(source)) ||
        !PrepareShellPath("CopyFolderContents", destFolder, to, sizeof(to)))
        return false;
    if (!IsFolder(source))
    {
        LogMessage(2, LOG_ERROR, "CopyFolderContents '%hs' is not a folder\n", source);
        return false;
    }
    char from[FW_PATH_SIZE + 1];
    if (strlen(source) + 2 >= (size_t)FW_PATH_SIZE)
    {
        LogMessage(2, LOG_ERROR, "CopyFolderContents '%hs' path too long\n", source);
        return false;
    }
    snprintf(from, sizeof(from), "%s\\*", source);
    from[strlen(from) + 1] = 0;
    return RunShellOperation("CopyFolderContents", FO_COPY, from, to, NULL);
}

bool MoveFolder(const char* sourceFolder, const char* destFolder)
{
    char from[FW_PATH_SIZE + 1];
    char to[FW_PATH_SIZE + 1];
    if (!PrepareShellPath("MoveFolder", sourceFolder, from, sizeof(from)) ||
        !PrepareShellPath("MoveFolder", destFolder, to, sizeof(to)))
        return false;
    if (!IsFolder(from))
    {
        LogMessage(2, LOG_ERROR, "MoveFolder '%hs' is not a folder\n", from);
        return false;
    }
    return RunShellOperation("MoveFolder", FO_MOVE, from, to, NULL);
}

// Windows 95 and NT 4.0 lack GetLongPathNameA: looked up, not imported, so
// that the program still starts there (where the full path must do).
typedef DWORD(WINAPI* LongPathFn)(LPCSTR, LPSTR, DWORD);

static LongPathFn LongPathFunction()
{
    static bool looked = false;
    static LongPathFn function = NULL;
    if (!looked)
    {
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        function = kernel ? (LongPathFn)(void*)GetProcAddress(kernel, "GetLongPathNameA") : NULL;
        looked = true;
    }
    return function;
}

// The one spelling of a path: full, without doubled or trailing backslashes
// (a drive root keeps its own), short names made long where the path exists.
static bool CanonicalPath(const char* path, char* out)
{
    char full[FW_PATH_SIZE];
    out[0] = 0;
    if (IsEmptyText(path) || strlen(path) >= (size_t)FW_PATH_SIZE)
        return false;
    DWORD n = GetFullPathNameA(path, sizeof(full), full, NULL);
    if (n == 0 || n >= sizeof(full))
        return false;
    // A network path keeps the two backslashes it begins with.
    size_t length = 0;
    for (size_t i = 0; full[i] != 0; ++i)
        if (!(full[i] == '\\' && i > 1 && length > 0 && out[length - 1] == '\\'))
            out[length++] = full[i];
    out[length] = 0;
    LongPathFn longPath = LongPathFunction();
    if (longPath != NULL)
    {
        char longer[FW_PATH_SIZE];
        n = longPath(out, longer, sizeof(longer));
        if (n > 0 && n < sizeof(longer))
            strcpy(out, longer);
    }
    length = strlen(out);
    while (length > 3 && out[length - 1] == '\\')
        out[--length] = 0;
    return true;
}

// The volume and file index of a path that exists; no access to its content
// is asked, so a file or folder held open by others still answers.
static bool PlaceIdentity(const char* path, BY_HANDLE_FILE_INFORMATION& info)
{
    HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    bool ok = GetFileInformationByHandle(handle, &info) != FALSE;
    CloseHandle(handle);
    // A file system without file indexes answers 0: that tells nothing.
    return ok && (info.nFileIndexHigh != 0 || info.nFileIndexLow != 0);
}

static bool IsSamePlace(const char* a, const char* b)
{
    BY_HANDLE_FILE_INFORMATION first, second;
    if (PlaceIdentity(a, first) && PlaceIdentity(b, second))
        return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
               first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
    char canonicalA[FW_PATH_SIZE], canonicalB[FW_PATH_SIZE];
    return CanonicalPath(a, canonicalA) && CanonicalPath(b, canonicalB) && lstrcmpiA(canonicalA, canonicalB) == 0;
}

bool IsSameFolder(const char* a, const char* b)
{
    return !IsEmptyText(a) && !IsEmptyText(b) && IsSamePlace(a, b);
}

bool IsFolderWithin(const char* inner, const char* outer)
{
    char current[FW_PATH_SIZE];
    if (IsEmptyText(outer) || !CanonicalPath(inner, current))
        return false;
    // Up from inner, one folder at a time, to its root.
    for (;;)
    {
        if (IsSamePlace(current, outer))
            return true;
        char* slash = strrchr(current, '\\');
        if (slash == NULL || slash <= current + 1 || (slash == current + 2 && slash[1] == 0))
            return false;
        if (slash == current + 2 && current[1] == ':')
            slash[1] = 0;
        else
            *slash = 0;
    }
}

bool IsSameFile(const char* a, const char* b)
{
    return !IsEmptyText(a) && !IsEmptyText(b) && IsSamePlace(a, b);
}

static bool CopyTreeFile(const char* source, const char* target, const char* relative, KeepExistingFile keep,
                         void* context, DWORD* error)
{
    DWORD attributes = GetFileAttributesA(target);
    bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && IsSameFile(source, target))
    {
        // Copying it would destroy the only copy once the source is deleted.
        *error = ERROR_FILE_EXISTS;
        LogMessage(2, LOG_ERROR, "CopyFolderTree '%hs' and '%hs' are the same file\n", source, target);
        return false;
    }
    if (exists && keep != NULL && keep(relative, source, target, context))
        return true;
    if (exists)
        SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
    if (!CopyFileA(source, target, exists ? FALSE : TRUE))
    {
        *error = GetLastError();
        LogMessage(2, LOG_ERROR, "'%hs' could not be copied to '%hs' [%ld].\n", source, target, (long)*error);
        // The file that stays keeps what it was (read-only, hidden, system).
        if (exists)
            SetFileAttributesA(target, attributes);
        return false;
    }
    if (exists)
        LogMessage(2, LOG_INFO, "'%hs' replaced by '%hs'.\n", target, source);
    return true;
}

// One folder of CopyFolderTree; relative is its place below the destination
// ("" at the top).
static bool CopyTreeFolder(const char* from, const char* to, const char* relative, KeepExistingFile keep,
                           void* context, DWORD* error)
{
    if (!CreateFolderTree(to))
    {
        *error = GetLastError();
        LogMessage(2, LOG_ERROR, "CopyFolderTree could not create '%hs' [%ld]\n", to, (long)*error);
        return false;
    }
    char pattern[FW_PATH_SIZE];
    if (!FormatPath(pattern, "%s\\%s", from, "*"))
    {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(pattern, &entry);
    if (find == INVALID_HANDLE_VALUE)
    {
        // Only an empty folder lists nothing: any other failure leaves its
        // files uncopied, and the source must then not be deleted.
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_NO_MORE_FILES)
            return true;
        *error = code;
        LogMessage(2, LOG_ERROR, "CopyFolderTree could not list '%hs' [%ld]\n", from, (long)code);
        return false;
    }
    bool copied = true;
    do
    {
        const char* name = entry.cFileName;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
            continue;
        char source[FW_PATH_SIZE], target[FW_PATH_SIZE], below[FW_PATH_SIZE];
        if (!FormatPath(source, "%s\\%s", from, name) || !FormatPath(target, "%s\\%s", to, name) ||
            !FormatPath(below, relative[0] != 0 ? "%s\\%s" : "%s%s", relative, name))
        {
            *error = ERROR_FILENAME_EXCED_RANGE;
            copied = false;
        }
        else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            copied = CopyTreeFolder(source, target, below, keep, context, error);
        else
            copied = CopyTreeFile(source, target, below, keep, context, error);
    } while (copied && FindNextFileA(find, &entry));
    DWORD code = GetLastError();
    FindClose(find);
    if (copied && code != ERROR_NO_MORE_FILES)
    {
        *error = code;
        LogMessage(2, LOG_ERROR, "CopyFolderTree could not list '%hs' to its end [%ld]\n", from, (long)code);
        return false;
    }
    return copied;
}

bool CopyFolderTree(const char* sourceFolder, const char* destFolder, KeepExistingFile keep, void* context,
                    DWORD* error)
{
    DWORD ignored = 0;
    if (error == NULL)
        error = &ignored;
    *error = 0;
    char from[FW_PATH_SIZE + 1];
    char to[FW_PATH_SIZE + 1];
    if (!PrepareShellPath("CopyFolderTree", sourceFolder, from, sizeof(from)) ||
        !PrepareShellPath("CopyFolderTree", destFolder, to, sizeof(to)))
    {
        *error = ERROR_INVALID_NAME;
        return false;
    }
    if (!IsFolder(from))
    {
        *error = ERROR_PATH_NOT_FOUND;
        LogMessage(2, LOG_ERROR, "CopyFolderTree '%hs' is not a folder\n", from);
        return false;
    }
    // Into itself the copy would never end; onto itself every file would
    // seem copied already.
    if (IsFolderWithin(to, from) || IsFolderWithin(from, to))
    {
        *error = ERROR_DIRECTORY;
        LogMessage(2, LOG_ERROR, "CopyFolderTree refused '%hs' to '%hs': one lies inside the other\n", from, to);
        return false;
    }
    return CopyTreeFolder(from, to, "", keep, context, error);
}

char PathSeparatorOf(const char* path)
{
    if (path == NULL || strchr(path, '\\') != NULL)
        return '\\';
    if (strchr(path, '/') != NULL)
        return '/';
    return '\\';
}

bool IsAbsoluteSource(const char* path)
{
    if (IsEmptyText(path))
        return false;
    if (strstr(path, "://") != NULL)
        return true;
    return strlen(path) >= 3 && path[1] == ':' && path[2] == '\\';
}

bool IsLocalSource(const char* path)
{
    if (IsEmptyText(path))
        return false;
    if (PathSeparatorOf(path) == '\\')
        return true;
    if (TextEqualNoCase(path, "file://", 7))
        return true;
    if (strlen(path) >= 2 && path[1] == ':')
        return true;
    return strstr(path, "://") == NULL;
}

bool CombineSourcePath(const char* base, const char* name, char* out)
{
    if (out == NULL)
        return false;
    out[0] = 0;
    if (IsEmptyText(base) || IsEmptyText(name))
        return false;

    if (!(IsLocalSource(name) && !IsAbsoluteSource(name)))
    {
        // A drive path or an address stands on its own.
        if (strlen(name) >= (size_t)FW_PATH_SIZE)
            return false;
        strcpy(out, name);
        return true;
    }

    size_t baseLength = strlen(base);
    size_t nameLength = strlen(name);
    if (baseLength + nameLength + 2 >= (size_t)FW_PATH_SIZE)
        return false;
    char s = PathSeparatorOf(base);
    while (baseLength > 0 && base[baseLength - 1] == s)
        baseLength--;
    const char* nameStart = name;
    while (*nameStart == s)
        nameStart++;
    nameLength = strlen(nameStart);
    while (nameLength > 0 && nameStart[nameLength - 1] == s)
        nameLength--;

    memcpy(out, base, baseLength);
    size_t length = baseLength;
    out[length++] = s;
    memcpy(out + length, nameStart, nameLength);
    length += nameLength;
    out[length] = 0;
    // One kind of separator throughout: the base's.
    for (char* p = out; *p; p++)
        if (IsSeparator(*p))
            *p = s;
    // The scheme's "//" of an address base is made of the same character and survives.
    return true;
}

bool FindFiles(const char* pattern, const char* folder, bool descend, FindFileCheck check,
               void* context, char* out)
{
    if (out == NULL)
        return false;
    out[0] = 0;
    if (IsEmptyText(folder) || IsEmptyText(pattern))
        return false;
    if (!IsFolder(folder))
        return false;
    size_t folderLength = strlen(folder);
    if (strlen(pattern) + folderLength + 1 >= (size_t)FW_PATH_SIZE)
        return false;

    char search[FW_PATH_SIZE];
    snprintf(search, sizeof(search), "%s\\%s", folder, pattern);
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(search, &entry);
    if (find == INVALID_HANDLE_VALUE)
    {
        if (!descend)
            return false;
        // Nothing here: look one level further down, within a bounded depth.
        snprintf(search, sizeof(search), "%s\\*", folder);
        int backslashes = 0;
        for (const char* p = search; *p; p++)
            if (*p == '\\')
                backslashes++;
        if (backslashes > FIND_MAX_BACKSLASHES)
            return false;
        find = FindFirstFileA(search, &entry);
        if (find == INVALID_HANDLE_VALUE)
            return false;
        bool found = false;
        do
        {
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
                strcmp(entry.cFileName, ".") == 0 || strcmp(entry.cFileName, "..") == 0)
                continue;
            if (folderLength + strlen(entry.cFileName) + 1 >= (size_t)FW_PATH_SIZE)
            {
                LogMessage(3, LOG_WARNING, "FindFiles skips '%hs\\%hs': path too long\n", folder,
                           entry.cFileName);
                continue;
            }
            char subfolder[FW_PATH_SIZE];
            snprintf(subfolder, sizeof(subfolder), "%s\\%s", folder, entry.cFileName);
            found = FindFiles(pattern, subfolder, descend, check, context, out);
        } while (!found && FindNextFileA(find, &entry));
        FindClose(find);
        return found;
    }

    bool found = false;
    do
    {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        if (folderLength + strlen(entry.cFileName) + 1 >= (size_t)FW_PATH_SIZE)
        {
            LogMessage(3, LOG_WARNING, "FindFiles skips '%hs\\%hs': path too long\n", folder,
                       entry.cFileName);
            continue;
        }
        snprintf(out, FW_PATH_SIZE, "%s\\%s", folder, entry.cFileName);
        found = check == NULL || check(out, context);
    } while (!found && FindNextFileA(find, &entry));
    FindClose(find);
    return found;
}

bool FindFilesByPath(const char* path, bool descend, FindFileCheck check, void* context, char* out)
{
    if (out == NULL)
        return false;
    out[0] = 0;
    if (IsEmptyText(path))
        return false;
    char full[FW_PATH_SIZE];
    char* filePart = NULL;
    DWORD n = GetFullPathNameA(path, sizeof(full), full, &filePart);
    if (n == 0 || n >= sizeof(full) || filePart == NULL || *filePart == 0)
        return false;
    char pattern[FW_PATH_SIZE];
    strcpy(pattern, filePart);
    // The folder part without its final separator.
    char* end = filePart;
    if (end > full && IsSeparator(end[-1]))
        end--;
    *end = 0;
    return FindFiles(pattern, full, descend, check, context, out);
}

bool SameFile(const FileIdentity& a, const FileIdentity& b)
{
    return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow && a.size == b.size &&
           CompareFileTime(&a.lastWrite, &b.lastWrite) == 0;
}

// The file index as the system's native call reports it, where there is one:
// the file information call also reads the volume's serial number, which
// under Wine costs 0.3 to 0.5 ms a call, more than copying a small file. An
// identity is only ever compared with one of the same path or handle, taken
// the same way in the same run, so the volume adds nothing to it there.
typedef LONG(WINAPI* QueryFileFn)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int);
static const int FILE_BASIC_INFORMATION_CLASS = 4;
static const int FILE_INTERNAL_INFORMATION_CLASS = 6;

static QueryFileFn NativeFileQuery()
{
    static bool tried = false;
    static QueryFileFn query = NULL;
    if (!tried)
    {
        tried = true;
        HMODULE native = GetModuleHandleA("ntdll.dll");
        if (native != NULL)
            query = (QueryFileFn)(void*)GetProcAddress(native, "NtQueryInformationFile");
    }
    return query;
}

// The attributes of an open file, by the native call where there is one:
// asked by path, each name of the path is looked up again (under Wine,
// folder by folder without regard to case). False where it cannot tell.
static bool HandleAttributes(HANDLE file, DWORD& attributes)
{
    struct
    {
        LARGE_INTEGER created, accessed, written, changed;
        ULONG attributes;
        ULONG padding;
    } basic;
    IO_STATUS_BLOCK status;
    QueryFileFn query = NativeFileQuery();
    if (query == NULL || query(file, &status, &basic, sizeof(basic), FILE_BASIC_INFORMATION_CLASS) < 0)
        return false;
    attributes = basic.attributes;
    return true;
}

bool DescribeHandle(HANDLE file, FileIdentity& out)
{
    QueryFileFn query = NativeFileQuery();
    if (query != NULL)
    {
        IO_STATUS_BLOCK status;
        LARGE_INTEGER index;
        DWORD sizeHigh = 0;
        FILETIME written;
        if (query(file, &status, &index, sizeof(index), FILE_INTERNAL_INFORMATION_CLASS) >= 0)
        {
            SetLastError(NO_ERROR);
            const DWORD sizeLow = GetFileSize(file, &sizeHigh);
            if ((sizeLow != INVALID_FILE_SIZE || GetLastError() == NO_ERROR) && GetFileTime(file, NULL, NULL, &written))
            {
                out.volume = 0;
                out.indexHigh = (DWORD)index.HighPart;
                out.indexLow = index.LowPart;
                out.size = ((ULONGLONG)sizeHigh << 32) | sizeLow;
                out.lastWrite = written;
                return true;
            }
        }
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return false;
    out.volume = info.dwVolumeSerialNumber;
    out.indexHigh = info.nFileIndexHigh;
    out.indexLow = info.nFileIndexLow;
    out.size = ((ULONGLONG)info.nFileSizeHigh << 32) | info.nFileSizeLow;
    out.lastWrite = info.ftLastWriteTime;
    return true;
}

bool DescribeFile(const char* path, FileIdentity& out)
{
    // Shared like a checksum's read: a writer without read sharing keeps it shut.
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool known = DescribeHandle(file, out);
    CloseHandle(file);
    return known;
}

int AltCopyFileEx(const char* source, const char* destination, AltCopyProgress routine,
                  void* context, bool* cancelled, bool failIfExists)
{
    if (IsEmptyText(source) || IsEmptyText(destination))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    DWORD destAttributes = GetFileAttributesA(destination);
    // Nothing there to probe, unlock or delete first.
    const bool destinationAbsent = destAttributes == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND;
    if (failIfExists && destAttributes != INVALID_FILE_ATTRIBUTES)
    {
        LogMessage(2, LOG_ERROR, "AltCopyFileEx will *not* overwrite '%hs'\n", destination);
        return FailKeepingError(ERROR_FILE_EXISTS);
    }
    if (cancelled)
        *cancelled = false;
    // Whatever this run knew of the file at the destination is about to be untrue.
    CheckSum::Forget(destination);

    HANDLE in = CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (in == INVALID_HANDLE_VALUE)
    {
        DWORD error = GetLastError();
        LogMessage(2, LOG_ERROR, "AltCopyFileEx could not open '%hs' [%d]\n", source, (int)error);
        return FailKeepingError(error);
    }
    DWORD sizeHigh = 0;
    DWORD size = GetFileSize(in, &sizeHigh);
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
    {
        DWORD error = GetLastError();
        LogMessage(2, LOG_ERROR, "AltCopyFileEx could get size of '%hs' [%d]\n", source,
                   (int)error);
        CloseHandle(in);
        return FailKeepingError(error);
    }
    // The copy replaces whatever is there, even a read-only or hidden file,
    // which CREATE_ALWAYS alone would refuse.
    if (destAttributes != INVALID_FILE_ATTRIBUTES &&
        (destAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        (destAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
        SetFileAttributesA(destination, FILE_ATTRIBUTE_NORMAL);
    // A destination that cannot be replaced (in use) fails here, before any
    // byte is copied.
    char partial[FW_PATH_SIZE];
    // Devices and pipes ("\\.\...") are written directly.
    const bool viaPartial = strncmp(destination, "\\\\.\\", 4) != 0 &&
                            strlen(destination) + strlen(PARTIAL_COPY_SUFFIX) < sizeof(partial);
    const char* written = destination;
    HANDLE out = INVALID_HANDLE_VALUE;
    if (viaPartial)
    {
        snprintf(partial, sizeof(partial), "%s%s", destination, PARTIAL_COPY_SUFFIX);
        written = partial;
        HANDLE probe = destinationAbsent ? INVALID_HANDLE_VALUE
                                         : CreateFileA(destination, GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                                       FILE_ATTRIBUTE_NORMAL, NULL);
        DWORD probeError = destinationAbsent ? (DWORD)ERROR_FILE_NOT_FOUND : GetLastError();
        if (probe != INVALID_HANDLE_VALUE)
            CloseHandle(probe);
        if (probe != INVALID_HANDLE_VALUE || probeError == ERROR_FILE_NOT_FOUND)
            out = CreateFileA(partial, GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
        else
            SetLastError(probeError);
    }
    else
    {
        out = CreateFileA(destination, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, NULL);
    }
    if (out == INVALID_HANDLE_VALUE)
    {
        DWORD error = GetLastError();
        LogMessage(2, LOG_ERROR, "AltCopyFileEx could not create '%hs' [%d]\n", destination,
                   (int)error);
        CloseHandle(in);
        return FailKeepingError(error);
    }

    // The chunk lives on the heap: too large for the stack of every thread.
    // A small file takes a chunk of its size and one byte (a file that grows
    // meanwhile fills it and is read on): a whole chunk would be fresh pages
    // from the system for every small file.
    const DWORD chunkSize = sizeHigh == 0 && size < ALTCOPY_CHUNK_SIZE ? size + 1 : ALTCOPY_CHUNK_SIZE;
    char* chunk = (char*)malloc(chunkSize);
    if (chunk == NULL)
    {
        LogMessage(2, LOG_ERROR, "AltCopyFileEx has no memory to copy '%hs'\n", source);
        CloseHandle(in);
        CloseHandle(out);
        RemovePartialCopy(written, destination);
        return FailKeepingError(ERROR_NOT_ENOUGH_MEMORY);
    }

    DWORD answer = ALTCOPY_CONTINUE;
    if (routine)
        answer = routine(size, 0, ALTCOPY_STATE_START, context);

    // A cancel at the start is honoured before anything is read: the routine
    // may forget a cancel once it has answered it.
    bool failed = false;
    DWORD error = NO_ERROR;
    DWORD done = 0;
    uint32_t checkSum = 0;
    while (answer == ALTCOPY_CONTINUE)
    {
        DWORD got = 0;
        if (!ReadFile(in, chunk, chunkSize, &got, NULL))
        {
            error = GetLastError();
            LogMessage(2, LOG_WARNING,
                       "AltCopyFileEx could not read chunk from '%hs' (%d of %d) [%d]\n", source,
                       (int)done, (int)size, (int)error);
            failed = true;
            break;
        }
        if (got == 0)
            break;
        DWORD written = 0;
        if (!WriteFile(out, chunk, got, &written, NULL) || written != got)
        {
            error = GetLastError();
            if (error == NO_ERROR)
                error = ERROR_WRITE_FAULT;   // a short write without a reason
            LogMessage(2, LOG_WARNING,
                       "AltCopyFileEx could not write chunk from '%hs' to '%hs' (%d of %d) [%d]\n",
                       source, destination, (int)done, (int)size, (int)error);
            failed = true;
            break;
        }
        // The bytes the destination's handle took, checksummed while they are
        // at hand: the copy need not be read back for its checksum.
        checkSum = CheckSum::Update(checkSum, chunk, got);
        done += got;
        if (routine)
            answer = routine(size, done, ALTCOPY_STATE_CHUNK, context);
        if (got < chunkSize)
            break;
    }
    free(chunk);
    bool isCancelled = answer != ALTCOPY_CONTINUE;

    // The source's attributes, and those the new copy already has: a copy
    // that has them needs no call by path to set them.
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    DWORD copyAttributes = INVALID_FILE_ATTRIBUTES;
    if (!failed && !isCancelled)
    {
        FILETIME created, accessed, written;
        if (GetFileTime(in, &created, &accessed, &written))
            SetFileTime(out, &created, &accessed, &written);
        if (!HandleAttributes(in, attributes) || !HandleAttributes(out, copyAttributes))
            attributes = copyAttributes = INVALID_FILE_ATTRIBUTES;
    }
    else
    {
        if (!failed)
            error = ERROR_CANCELLED;
        LogMessage(2, LOG_WARNING, "AltCopyFileEx did not finish copying '%hs' to '%hs' [%d]\n",
                   source, destination, (int)error);
    }
    CloseHandle(in);
    CloseHandle(out);

    if (!isCancelled && !failed && viaPartial)
    {
        if (!destinationAbsent)
            SetFileAttributesA(destination, FILE_ATTRIBUTE_NORMAL);
        if ((!destinationAbsent && !DeleteFileA(destination) && GetLastError() != ERROR_FILE_NOT_FOUND) ||
            !MoveFileA(partial, destination))
        {
            error = GetLastError();
            LogMessage(2, LOG_WARNING, "AltCopyFileEx could not put '%hs' in place [%d]\n",
                       destination, (int)error);
            failed = true;
        }
    }
    if (isCancelled || failed)
    {
        if (cancelled)
            *cancelled = !failed;
        RemovePartialCopy(written, destination);
        return FailKeepingError(error);
    }
    if (attributes == INVALID_FILE_ATTRIBUTES)
        attributes = GetFileAttributesA(source);
    if (attributes != INVALID_FILE_ATTRIBUTES && attributes != copyAttributes)
        SetFileAttributesA(destination, attributes);
    // The file in place as it is now, with the checksum of what was written:
    // a later change of it (a write moves its last-write time off the
    // source's, a replacement changes its index) tells that checksum from the
    // file's own.
    CheckSum::Remember(destination, checkSum, done);
    SetLastError(NO_ERROR);
    return 1;
}

bool CopyOneFile(const char* source, const char* destination, AltCopyProgress routine, bool* cancelled)
{
    if (cancelled != NULL)
        *cancelled = false;
    if (!FileExists(source))
    {
        LogMessage(2, LOG_ERROR, "CopyFile '%hs' does not exist [%d]\n", source ? source : "",
                   (int)GetLastError());
        return false;
    }
    if (IsEmptyText(destination) || strlen(source) >= (size_t)FW_PATH_SIZE ||
        strlen(destination) >= (size_t)FW_PATH_SIZE)
    {
        LogMessage(2, LOG_ERROR, "CopyFile '%hs' to '%hs': no usable destination\n", source,
                   destination ? destination : "");
        return false;
    }

    char target[FW_PATH_SIZE];
    if (IsFolder(destination))
    {
        const char* name = FileNamePart(source);
        if (name == NULL)
            name = source;
        if (strlen(destination) + 1 + strlen(name) >= (size_t)FW_PATH_SIZE)
        {
            LogMessage(2, LOG_ERROR, "CopyFile '%hs' to '%hs': path too long\n", source,
                       destination);
            return false;
        }
        snprintf(target, sizeof(target), "%s\\%s", destination, name);
    }
    else
        strcpy(target, destination);

    bool ok = false;
    switch (copyMode)
    {
    case COPY_MODE_SYSTEM:
        ok = CopyFileA(source, target, FALSE) != FALSE;
        if (!ok)
            LogMessage(2, LOG_ERROR, "CopyFile '%hs' to '%hs' Failed [%d]\n", source, target,
                       (int)GetLastError());
        break;
    case COPY_MODE_SHELL:
    {
        char from[FW_PATH_SIZE + 1];
        char to[FW_PATH_SIZE + 1];
        strcpy(from, source);
        from[strlen(from) + 1] = 0;
        strcpy(to, target);
        to[strlen(to) + 1] = 0;
        bool aborted = false;
        ok = RunShellOperation("CopyFile", FO_COPY, from, to, &aborted);
        if (cancelled != NULL)
            *cancelled = aborted;
        break;
    }
    case COPY_MODE_CHUNKED:
    {
        bool stopped = false;
        ok = AltCopyFileEx(source, target, routine, target, &stopped, false) == 1;
        DWORD error = GetLastError();
        if (!ok)
            LogMessage(2, LOG_ERROR, "AltCopyFileEx '%hs' to '%hs' %hs [%d]\n", source, target,
                       stopped ? "Cancelled" : "Failed", (int)error);
        if (cancelled != NULL)
            *cancelled = stopped;
        break;
    }
    default:
        FW_ASSERT(false);
        ok = false;
        break;
    }

    // Installed files must stay writable for the next upgrade.
    DWORD attributes = GetFileAttributesA(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(target, attributes & ~FILE_ATTRIBUTE_READONLY);
    return ok;
}

bool CopyFileCreatingFolders(const char* source, const char* destFolder, const char* name,
                             AltCopyProgress routine, bool* cancelled)
{
    if (cancelled != NULL)
        *cancelled = false;
    if (IsEmptyText(name))
        return CopyOneFile(source, destFolder, NULL, cancelled);
    if (IsEmptyText(source) || IsEmptyText(destFolder) ||
        strlen(destFolder) + 1 + strlen(name) >= (size_t)FW_PATH_SIZE)
    {
        LogMessage(2, LOG_ERROR, "CopyFile '%hs' to '%hs\\%hs': path too long or empty\n",
                   source ? source : "", destFolder ? destFolder : "", name);
        return false;
    }
    char destination[FW_PATH_SIZE];
    snprintf(destination, sizeof(destination), "%s\\%s", destFolder, name);
    if (TextEqualNoCase(destination, source))
    {
        LogMessage(3, LOG_INFO, "CopyFile '%hs' is already in place\n", source);
        return true;
    }
    char folder[FW_PATH_SIZE];
    strcpy(folder, destination);
    *strrchr(folder, '\\') = 0;
    if (!CreateFolderTree(folder))
    {
        LogMessage(2, LOG_ERROR, "CopyFile Could not create directory: '%hs' [%d]\n", folder,
                   (int)GetLastError());
        return false;
    }
    return CopyOneFile(source, destination, routine, cancelled);
}

bool FormatPath(char* out, const char* format, const char* a, const char* b)
{
    int length = _snprintf(out, FW_PATH_SIZE, format, a, b);
    if (length < 0 || length >= FW_PATH_SIZE)
    {
        out[0] = 0;
        LogMessage(2, LOG_WARNING, "Path too long: '%hs' '%hs'.\n", a, b);
        return false;
    }
    return true;
}
