// The file-system layer: path rules that tell a local source from an Internet
// one and join a base with a relative name, file and folder tests, folder
// trees, a file search with a per-file check, single-file copies (among them a
// chunked copy with progress and cancel) and whole-tree operations through the
// shell. Paths are narrow texts of at most 259 characters; an operation that
// would build a longer path fails instead of truncating.
#pragma once

#include <windows.h>

#include <stdint.h>

const int FW_PATH_SIZE = 260;   // bytes of every path buffer (259 characters)

// How CopyOneFile copies.
enum CopyMode
{
    COPY_MODE_SYSTEM = 0,   // CopyFileA
    COPY_MODE_SHELL = 1,    // SHFileOperationA (the mode at start)
    COPY_MODE_CHUNKED = 2,  // AltCopyFileEx with the caller's progress routine
    COPY_MODE_INVALID = 3   // never valid
};

extern DWORD copyMode;            // one of CopyMode; COPY_MODE_SHELL at start

// Progress routine of AltCopyFileEx: called with state ALTCOPY_STATE_START
// before the first chunk and ALTCOPY_STATE_CHUNK after each chunk written;
// answers ALTCOPY_CONTINUE or ALTCOPY_CANCEL.
const DWORD ALTCOPY_STATE_CHUNK = 0;
const DWORD ALTCOPY_STATE_START = 1;
const DWORD ALTCOPY_CONTINUE = 0;
const DWORD ALTCOPY_CANCEL = 1;
// Large enough that the system calls of each chunk and the progress routine
// cost little beside the copy itself (fewer, larger reads and writes are what
// the system's own copy does), small enough that Cancel is answered within a
// fraction of a second even from a slow network share.
const DWORD ALTCOPY_CHUNK_SIZE = 512 * 1024;
typedef DWORD (*AltCopyProgress)(DWORD totalBytes, DWORD bytesDone, DWORD state, void* context);

// Per-file check of FindFiles: true stops the search with this file.
typedef bool (*FindFileCheck)(const char* path, void* context);

// Deepest folder (counted in backslashes of "<folder>\*") FindFiles descends into.
const int FIND_MAX_BACKSLASHES = 5;

bool GetCurrentFolder(char* out);                       // out: FW_PATH_SIZE bytes
bool IsFolder(const char* path);
// True when the path opens for reading with read sharing: a folder, or a file
// locked against readers, counts as missing.
bool FileExists(const char* path);
bool FileExistsIn(const char* folder, const char* name);
// The text after the last backslash; null without a backslash or when nothing follows it.
const char* FileNamePart(const char* path);
char* FileNamePart(char* path);
// The path cut at its last backslash (a path without one is copied whole).
// A path made of format and two texts into out (FW_PATH_SIZE bytes); one that
// would not fit leaves out empty, is logged and gives false, never a cut path.
bool FormatPath(char* out, const char* format, const char* a, const char* b);
bool ParentFolder(const char* path, char* out);        // out: FW_PATH_SIZE bytes
bool CreateFolderTree(const char* path);
bool ForceDeleteFile(const char* path);                 // clears read-only first

// Whole trees through the shell. They refuse an empty or relative path and a
// drive root (logged) before the shell is asked: these run elevated.
bool DeleteFolderTree(const char* folder);              // permanent, no recycle bin
bool CopyFolderContents(const char* sourceFolder, const char* destFolder);
bool MoveFolder(const char* sourceFolder, const char* destFolder);

// Folder identity. Two spellings of one folder (a doubled or trailing
// backslash, a trailing dot, a short 8.3 name, another case) name the same
// folder: where both exist they are compared by volume and file index, else
// by their full long paths without regard to case.
bool IsSameFolder(const char* a, const char* b);
// True when inner is outer itself or lies anywhere below it.
bool IsFolderWithin(const char* inner, const char* outer);
// True when both paths open as one and the same file (volume and file index).
bool IsSameFile(const char* a, const char* b);

// Answers, for a file the destination of CopyFolderTree already holds,
// whether it stays (true) or the source's file replaces it. relativePath is
// the file below the destination folder ("Bin\x.dll"); source and target are
// the two full paths.
typedef bool (*KeepExistingFile)(const char* relativePath, const char* source, const char* target,
                                 void* context);

// Copies the tree sourceFolder into destFolder file by file, creating the
// folders. Refuses what the shell operations refuse, and folders that are
// one another or lie inside one another. A file already in the destination
// stays only where keep says so (without keep: never), else it is replaced.
// Stops at the first failure: a file or a folder that cannot be copied or
// listed, or a destination that is the source file itself. *error receives
// the system's code of the failure.
bool CopyFolderTree(const char* sourceFolder, const char* destFolder, KeepExistingFile keep, void* context,
                    DWORD* error);

// Path rules of source names (distribution folder or Internet address).
char PathSeparatorOf(const char* path);                 // '\\' or '/'
bool IsAbsoluteSource(const char* path);                // "X:\..." or "scheme://..."
bool IsLocalSource(const char* path);
// Joins a relative name to the base with the base's separator; a drive path or
// a URL name is taken unchanged. out: FW_PATH_SIZE bytes, empty on failure.
bool CombineSourcePath(const char* base, const char* name, char* out);

// Searches folder for pattern; where the pattern matches nothing and descend is
// set, searches the subfolders (to a limited depth). out (FW_PATH_SIZE bytes)
// receives the file found: the first one, or the first one the check accepts.
bool FindFiles(const char* pattern, const char* folder, bool descend, FindFileCheck check,
               void* context, char* out);
// The same with the folder and pattern given as one path ("C:\dir\x.exe*").
bool FindFilesByPath(const char* path, bool descend, FindFileCheck check, void* context,
                     char* out);

// A file as it is on disk at one moment: its identity (file index, and the
// volume where the system's native query is missing), size and last-write
// time. A write moves the time to the present, a replacement brings another
// index.
struct FileIdentity
{
    DWORD volume = 0;
    DWORD indexHigh = 0, indexLow = 0;
    ULONGLONG size = 0;
    FILETIME lastWrite = {0, 0};
};
bool SameFile(const FileIdentity& a, const FileIdentity& b);
// The identity of the file at path; false when it cannot be opened for reading
// with others reading too (a writer that shuts readers out keeps it unknown).
bool DescribeFile(const char* path, FileIdentity& out);
// The same for an open handle.
bool DescribeHandle(HANDLE file, FileIdentity& out);

// Chunked copy with a progress routine that can cancel. Times and attributes
// of the source are carried over; a cancelled or failed copy removes the
// partial destination. Returns 1 when the whole file was copied, else 0;
// *cancelled tells a cancel from a failure.
int AltCopyFileEx(const char* source, const char* destination, AltCopyProgress routine,
                  void* context, bool* cancelled, bool failIfExists);

// Copies one file by copyMode; a destination that is an existing folder
// receives the file under the source's name. The copy is left writable;
// *cancelled (when given) tells a copy the user stopped from a failure.
bool CopyOneFile(const char* source, const char* destination, AltCopyProgress routine,
                 bool* cancelled = NULL);

// Copies source to "<destFolder>\<name>", creating the folders; without a name
// copies into destFolder under the source's name (no progress routine then).
bool CopyFileCreatingFolders(const char* source, const char* destFolder, const char* name,
                             AltCopyProgress routine, bool* cancelled = NULL);
