# MinGW-w64 toolchain for 32-bit Windows (i686).
set(VURO_MINGW_TRIPLE i686-w64-mingw32)
set(VURO_MINGW_PROCESSOR X86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
