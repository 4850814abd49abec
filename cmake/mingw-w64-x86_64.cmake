# Cross-building for 64-bit Windows with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64-posix: the posix thread model, which std::thread needs).
# The whole tree builds (the archiver, the upgrade tool's model, Lifter.exe,
# the tests); -DZO_ARCHIVER_ONLY=ON still builds the archiver alone.
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# Programs are linked statically, so an .exe needs only the DLLs every Windows
# has. CTest runs the test programs through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZO_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZO_MINGW_TRIPLET}-windres)

# Libraries and headers of the target (zlib from libz-mingw-w64-dev) only;
# programs that run during the build come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ZO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The static zlib, not its import library: the program must not need zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
