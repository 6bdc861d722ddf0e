# 64-bit Windows (loads 64-bit bridge libraries only).
set(MUB_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
