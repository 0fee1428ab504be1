# Shared part of the MinGW-w64 toolchain files. The including file sets VURO_MINGW_TRIPLE and
# VURO_MINGW_PROCESSOR before it includes this one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${VURO_MINGW_PROCESSOR})

# The -win32 threading variants: their runtime needs no winpthread DLL.
set(CMAKE_C_COMPILER ${VURO_MINGW_TRIPLE}-gcc-win32)
set(CMAKE_CXX_COMPILER ${VURO_MINGW_TRIPLE}-g++-win32)
set(CMAKE_RC_COMPILER ${VURO_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${VURO_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${VURO_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${VURO_MINGW_TRIPLE}-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${VURO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every section on its own, so that the linker can drop what nothing uses.
set(CMAKE_C_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections")

# The GCC runtime and the C++ library are linked in, so that programs and DLLs import nothing
# beyond the system's own DLLs and run from any folder.
set(VURO_MINGW_LINK_FLAGS "-static -static-libgcc -static-libstdc++ -Wl,--gc-sections")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${VURO_MINGW_LINK_FLAGS}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${VURO_MINGW_LINK_FLAGS}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${VURO_MINGW_LINK_FLAGS}")

# Windows programs built here run under Wine, in a Wine prefix of their own inside the build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_BINARY_DIR}/tmp/wine-prefix)
