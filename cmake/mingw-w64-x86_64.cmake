# Cross-builds the Windows console program TARVEL.exe with MinGW-w64
# (Debian package g++-mingw-w64-x86-64):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DTARVEL_TESTS=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
# The posix thread model: GCC 12's win32 model has no std::thread.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Self-contained: the GCC, C++ and thread runtimes are linked in, so the
# program needs no DLL beyond those every Windows system has.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Numbers are formatted by the C99 printf of the MinGW runtime, not by the
# system's msvcrt.dll, which writes three exponent digits (1.23e-005 where
# Linux writes 1.23e-05). The C++ headers ask for it too; this covers every
# source file whatever it includes first.
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
