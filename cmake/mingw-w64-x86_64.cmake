# 64-bit Windows (loads 64-bit bridge libraries only).
set(MUB_MINGW_TRIPLET x86_64-w64-mingw32)
set(MUB_WINE_BITS 64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
