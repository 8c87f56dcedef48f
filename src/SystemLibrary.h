// Where the program's libraries come from. Fernwick runs elevated from
// wherever an administrator saved it (often a download folder), so no library
// may be taken from its own folder or from the current folder: a file planted
// there would run with administrator rights.
//
// - The program imports only libraries that every supported Windows resolves
//   from its own folder (kernel32, user32, gdi32, advapi32, shell32, ole32,
//   oleaut32, comdlg32 and the C runtime msvcrt); scripts/check-imports.sh
//   holds that list.
// - Every other library is loaded at run time by its full path: the system's
//   own from the system folder, the product's unzip library from its bin folder.
// - RestrictLibrarySearch, first thing at start, narrows the search that is
//   left (dependencies of the libraries above, the system's own late loads)
//   as far as the running system allows.
// - LoadLibrariesAskedForByName, right after it, loads from the system folder
//   the libraries that the system's own libraries ask for by a bare name on
//   the program's behalf, so that those requests find them loaded.
#ifndef FERNWICK_SYSTEMLIBRARY_H
#define FERNWICK_SYSTEMLIBRARY_H

#include <windows.h>

// Search results of RestrictLibrarySearch, for the log.
enum LibrarySearchMode
{
    LIBRARY_SEARCH_UNCHANGED = 0,  // neither interface exists (Windows 95 to XP without SP1)
    LIBRARY_SEARCH_NO_CURRENT = 1, // the current folder is out of the search (SetDllDirectory)
    LIBRARY_SEARCH_SYSTEM_ONLY = 2 // only the system folder is searched (SetDefaultDllDirectories)
};

// Narrows the library search of this process: the system folder only where
// SetDefaultDllDirectories exists, and the current folder removed with
// SetDllDirectoryW("") where that exists. Both are looked up at run time.
LibrarySearchMode RestrictLibrarySearch();
LibrarySearchMode CurrentLibrarySearch();

// Loads, each by its full path in the system folder and for the rest of the
// run, the libraries that the system's libraries load later by a bare name:
// the theme library (a delayed load of the common controls, when the first
// window is drawn) and the drawing library that it loads in turn; the IP
// helper and the security support library (delayed loads of the Internet
// library, when the first download starts and at its first https
// connection). A bare name is first matched against the libraries already
// loaded, before any folder is searched; where the search cannot be narrowed
// to the system folder (every supported Windows but Vista with its loader
// update) that search begins in the program's folder, and under Wine a
// delayed load begins there even when it is narrowed. A library the system
// lacks (the theme library before XP, the drawing library on 95 and NT 4) is
// skipped: nothing is loaded and nothing is searched for, and no system
// library there asks for it. Logs nothing (the log is not open yet); returns
// how many loaded.
int LoadLibrariesAskedForByName();

// Loads a library by its full path ("X:\..." or "\\server\..."); a relative
// path is refused (null, ERROR_BAD_PATHNAME) because the search would begin
// in the program's folder. The library's own dependencies are looked for
// beside it and in the system folder, never in the program's folder.
HMODULE LoadLibraryFromPath(const char* path);

// Loads a library of the system folder by its name ("wininet.dll"). Null
// when it is not there or does not load; no other folder is tried.
HMODULE LoadSystemLibrary(const char* name);

// The common controls library: through the program's manifest (version 6,
// from the system's side-by-side store) where the system has one, which is
// looked up before any folder; otherwise the system folder's copy.
HMODULE LoadCommonControls();

// The version-resource functions of version.dll, loaded on first use from the
// system folder. Without the library they fail as for a file without version.
DWORD VersionInfoSize(const char* path, DWORD* handle);
bool VersionInfoRead(const char* path, DWORD size, void* block);
bool VersionInfoQuery(const void* block, const char* subBlock, void** value, UINT* length);

#endif
