# Cross build for Windows with Debian's mingw-w64 "-posix" compilers (their
# std::thread and std::mutex work). Included by the two toolchain files,
# which set MUB_MINGW_TRIPLET and MUB_WINE_BITS first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${MUB_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MUB_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MUB_MINGW_TRIPLET}-windres)

# Look for libraries and headers only in the cross tree (scripts/build adds
# the prefix of the cross-built GoogleTest with -DCMAKE_FIND_ROOT_PATH=...);
# programs on the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${MUB_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Statically linked programs need nothing beside them but the system's DLLs.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Tests and discovery run the programs through Wine, with the loader of the
# build's bitness named explicitly.
get_filename_component(MUB_WINE_WITH ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine-with ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${MUB_WINE_WITH} ${MUB_WINE_BITS})
