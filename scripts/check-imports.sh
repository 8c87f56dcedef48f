#!/bin/sh
# Fails when a release binary imports a function that the oldest supported
# Windows lacks (such a program would not even start there), or imports a
# library that a system may look for beside the program, where a planted copy
# would run with the administrator's rights: every other library is loaded at
# run time by its full path.
set -e
LATE="GetTickCount64 AddVectoredExceptionHandler RemoveVectoredExceptionHandler TryEnterCriticalSection
      GetHandleInformation SetProcessAffinityMask GetFileSizeEx SetFilePointerEx InitCommonControlsEx
      _vscwprintf _vscprintf CheckTokenMembership GetLongPathNameA IsWow64Process
      SetDllDirectoryW SetDllDirectoryA SetDefaultDllDirectories"
KNOWN="kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll oleaut32.dll comdlg32.dll msvcrt.dll"
status=0
for binary in "$@"; do
    dump=$(i686-w64-mingw32-objdump -p "$binary")
    imports=$(echo "$dump" | awk '/DLL Name:/{f=1;next} f && NF>=3 {print $3}')
    for name in $LATE; do
        if echo "$imports" | grep -qx "$name"; then
            echo "$binary imports $name, which older Windows lack" >&2
            status=1
        fi
    done
    for library in $(echo "$dump" | awk '/DLL Name:/{print tolower($3)}'); do
        if ! echo " $KNOWN " | grep -q " $library "; then
            echo "$binary imports $library, which a system may look for beside the program" >&2
            status=1
        fi
    done
done
exit $status
