# Cross build for 32-bit Windows with the posix thread model: the test programs
# of the release architecture (GoogleTest and the test support need std::mutex,
# which the win32 thread model lacks). The program these tests start is the
# release tree's own fernwick.exe (FERNWICK_RELEASE_BIN), not one built here:
# this model's thread runtime would not start on the older systems.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(THREAD_MODEL posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Every test program runs under Wine in a prefix private to this build tree:
# a 64-bit Windows (the program as a 32-bit program on it, WOW64), or a 32-bit
# one for the older systems' rows (scripts/test.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run ${CMAKE_BINARY_DIR}/wineprefix)
