# 32-bit Windows (the default Windows build: it loads 32-bit bridge libraries).
set(MUB_MINGW_TRIPLET i686-w64-mingw32)
set(MUB_WINE_BITS 32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
