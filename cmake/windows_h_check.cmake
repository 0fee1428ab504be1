# Fails when a source outside the win32 backend includes <windows.h> or one of the Win32 headers
# that it is made of: the logic reaches the operating system only through
# src/platform/platform.h.
#   cmake -DSOURCE_DIR=<repository>/src -P windows_h_check.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT IS_DIRECTORY "${SOURCE_DIR}")
  message(FATAL_ERROR "windows_h_check: SOURCE_DIR '${SOURCE_DIR}' is not a folder")
endif()

file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" LIST_DIRECTORIES false
     "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.hpp" "${SOURCE_DIR}/*.c" "${SOURCE_DIR}/*.cc"
     "${SOURCE_DIR}/*.cpp" "${SOURCE_DIR}/*.cxx" "${SOURCE_DIR}/*.inc" "${SOURCE_DIR}/*.in")
if(NOT sources)
  message(FATAL_ERROR "windows_h_check: no sources under ${SOURCE_DIR}")
endif()

set(win32_headers windows windef minwindef winbase minwinbase winnt winreg winnls winuser wingdi
    winerror libloaderapi fileapi handleapi synchapi heapapi processthreadsapi)
list(JOIN win32_headers "|" win32_header_names)
set(offenders "")
set(checked 0)
foreach(source IN LISTS sources)
  if(source MATCHES "^platform/win32/")
    continue()
  endif()
  math(EXPR checked "${checked} + 1")
  file(STRINGS "${SOURCE_DIR}/${source}" includes REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS includes)
    # File names on Windows ignore letter case, so <Windows.h> counts as well.
    string(TOLOWER "${line}" line_lower)
    if(line_lower MATCHES "[<\"](${win32_header_names})\\.h[>\"]")
      string(STRIP "${line}" line)
      list(APPEND offenders "${source}: ${line}")
    endif()
  endforeach()
endforeach()

if(offenders)
  list(JOIN offenders "\n  " text)
  message(FATAL_ERROR "windows_h_check: Win32 headers outside src/platform/win32:\n  ${text}")
endif()
message(STATUS "windows_h_check: ${checked} sources outside src/platform/win32, none includes "
               "a Win32 header")
