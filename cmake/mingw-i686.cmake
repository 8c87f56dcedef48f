# Cross build for 32-bit Windows: the release architecture (what ships; its
# tests are built by mingw-i686-posix.cmake and start this build's program).
# The program runs on Windows 95 to Vista, so this build uses the win32 thread
# model: the posix model's static thread runtime imports GetTickCount64 (Vista),
# vectored exception handlers (XP) and NT-only calls, and the program would not
# start on the older systems. The program itself uses no C++ threads; the tests
# need std::mutex and so the posix model.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(THREAD_MODEL win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
