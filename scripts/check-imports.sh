#!/bin/sh
# Fails when a release binary imports a function that the oldest supported
# Windows lacks: such a program would not even start there.
set -e
LATE="GetTickCount64 AddVectoredExceptionHandler RemoveVectoredExceptionHandler TryEnterCriticalSection
      GetHandleInformation SetProcessAffinityMask GetFileSizeEx SetFilePointerEx InitCommonControlsEx
      _vscwprintf _vscprintf CheckTokenMembership GetLongPathNameA IsWow64Process"
status=0
for binary in "$@"; do
    imports=$(i686-w64-mingw32-objdump -p "$binary" | awk '/DLL Name:/{f=1;next} f && NF>=3 {print $3}')
    for name in $LATE; do
        if echo "$imports" | grep -qx "$name"; then
            echo "$binary imports $name, which older Windows lack" >&2
            status=1
        fi
    done
done
exit $status
