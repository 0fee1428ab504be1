# MinGW-w64 toolchain for 64-bit Windows (x86-64).
set(VURO_MINGW_TRIPLE x86_64-w64-mingw32)
set(VURO_MINGW_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
