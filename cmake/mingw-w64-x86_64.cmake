# Cross-builds lorvex for 64-bit Windows with Debian's MinGW-w64 compilers, the
# posix-threads flavour (std::thread and std::mutex need it), and runs the built programs
# under wine. Usage: cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=<this file>
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${triplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in statically, so that the programs need no DLL that Windows does not
# ship (libstdc++, libgcc, libwinpthread).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(LORVEX_WINE NAMES wine wine64)
if(LORVEX_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${LORVEX_WINE})
endif()
