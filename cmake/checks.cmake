# Checks of the build that run on the host, without Wine.

# The logic stays behind the platform seam: no Win32 header outside the win32 backend.
add_test(NAME windows_h_only_in_win32_backend
         COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}/src
                 -P ${PROJECT_SOURCE_DIR}/cmake/windows_h_check.cmake)

if(TARGET vurodetect)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(VURO_PE_FORMAT pei-i386)
  else()
    set(VURO_PE_FORMAT pei-x86-64)
  endif()
  set(VURO_EXE_MAX_BYTES 163840)  # 160 KiB
  add_test(NAME vurodetect_pe_check
           COMMAND ${CMAKE_COMMAND} -DPE_FILE=$<TARGET_FILE:vurodetect> -DOBJDUMP=${CMAKE_OBJDUMP}
                   -DPE_FORMAT=${VURO_PE_FORMAT} -DMAX_BYTES=${VURO_EXE_MAX_BYTES}
                   -P ${PROJECT_SOURCE_DIR}/cmake/pe_check.cmake)
endif()
