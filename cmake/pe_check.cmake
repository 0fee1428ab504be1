# Checks the shipped Windows program from its PE headers, on the build host:
#   cmake -DPE_FILE=<exe> -DOBJDUMP=<objdump> -DPE_FORMAT=<pei-x86-64|pei-i386>
#         -DMAX_BYTES=<n> -P pe_check.cmake
# The program must import only system DLLs that every Windows has, run in the GUI subsystem (no
# console window), be built for the expected machine, carry its version record and manifest, and
# stay small.
cmake_minimum_required(VERSION 3.25)

foreach(required PE_FILE OBJDUMP PE_FORMAT MAX_BYTES)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "pe_check: ${required} is not set")
  endif()
endforeach()
if(NOT EXISTS "${PE_FILE}")
  message(FATAL_ERROR "pe_check: ${PE_FILE} does not exist")
endif()

set(allowed_dlls advapi32.dll kernel32.dll msvcrt.dll)
set(subsystem_windows_gui 2)
set(resource_type_version 16)   # RT_VERSION
set(resource_type_manifest 24)  # RT_MANIFEST

set(failures "")
macro(fail text)
  string(APPEND failures "\n  ${text}")
endmacro()

execute_process(COMMAND "${OBJDUMP}" -p "${PE_FILE}"
                OUTPUT_VARIABLE headers ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "pe_check: ${OBJDUMP} -p failed (${result}): ${errors}")
endif()

# Machine: the file format names it (pei-x86-64 for AMD64, pei-i386 for i386).
if(NOT headers MATCHES "file format ([^\n]+)\n")
  fail("no file format found")
elseif(NOT CMAKE_MATCH_1 STREQUAL PE_FORMAT)
  fail("file format is ${CMAKE_MATCH_1}, expected ${PE_FORMAT}")
endif()

# Subsystem.
if(NOT headers MATCHES "\nSubsystem[ \t]+([0-9a-fA-F]+)")
  fail("no subsystem found")
else()
  math(EXPR subsystem "0x${CMAKE_MATCH_1}")
  if(NOT subsystem EQUAL subsystem_windows_gui)
    fail("subsystem is ${subsystem}, expected ${subsystem_windows_gui} (Windows GUI)")
  endif()
endif()

# Imported DLLs, compared without regard to letter case as Windows does.
string(REGEX MATCHALL "DLL Name: [^\n]+" dll_lines "${headers}")
if(NOT dll_lines)
  fail("no imported DLLs found")
endif()
set(imported "")
foreach(line IN LISTS dll_lines)
  string(REGEX REPLACE "^DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  list(APPEND imported "${dll}")
  string(TOLOWER "${dll}" dll_lower)
  if(NOT dll_lower IN_LIST allowed_dlls)
    fail("imports ${dll}, which is not one of: ${allowed_dlls}")
  endif()
endforeach()

# Resources: the top level of the resource directory lists one entry per resource type, written
# with the least indentation.
string(REGEX MATCHALL "\n[0-9a-f]+   Entry: ID: 0x[0-9a-f]+" type_lines "${headers}")
set(resource_types "")
foreach(line IN LISTS type_lines)
  string(REGEX REPLACE ".*ID: 0x([0-9a-f]+)" "\\1" hex "${line}")
  math(EXPR type "0x${hex}")
  list(APPEND resource_types ${type})
endforeach()
if(NOT resource_type_version IN_LIST resource_types)
  fail("no VERSIONINFO resource (types found: ${resource_types})")
endif()
if(NOT resource_type_manifest IN_LIST resource_types)
  fail("no manifest resource (types found: ${resource_types})")
endif()

# Size.
file(SIZE "${PE_FILE}" size)
if(size GREATER MAX_BYTES)
  fail("${size} bytes, more than ${MAX_BYTES}")
endif()

if(failures)
  message(FATAL_ERROR "pe_check: ${PE_FILE}:${failures}")
endif()
list(JOIN imported ", " imported_text)
message(STATUS "${PE_FILE}: ${PE_FORMAT}, Windows GUI, ${size} bytes, imports ${imported_text}, "
               "resource types ${resource_types}")
