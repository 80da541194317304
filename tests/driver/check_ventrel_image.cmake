# Checks the built ventrel.sys with objdump -p: a PE32 image for i386 with
# the native subsystem, a relocation table (the kernel loads drivers at an
# address of its choosing), and imports from ntoskrnl.exe and hal.dll only,
# exactly the calls below.
#
#   cmake -DIMAGE=ventrel.sys -DOBJDUMP=i686-w64-mingw32-objdump -P check_ventrel_image.cmake

# The driver's own calls.
set(expected_ntoskrnl
  IoCreateDevice IoCreateSymbolicLink IoDeleteDevice IoDeleteSymbolicLink
  IofCompleteRequest
  Ke386IoSetAccessProcess Ke386QueryIoAccessMap Ke386SetIoAccessMap
  MmAllocateNonCachedMemory MmFreeNonCachedMemory
  PsLookupProcessByProcessId PsSetCreateProcessNotifyRoutine
  RtlInitUnicodeString
  # Releases the reference the process look-up takes.
  ObDereferenceObject
  # Initialises the fast mutex that keeps the map runs apart.
  KeInitializeEvent)
set(expected_hal
  READ_PORT_UCHAR WRITE_PORT_UCHAR
  # The fast mutex itself.
  ExAcquireFastMutex ExReleaseFastMutex)

set(failures "")
macro(fail message)
  string(APPEND failures "  ${message}\n")
endmacro()

if(NOT EXISTS "${IMAGE}")
  message(FATAL_ERROR "${IMAGE} does not exist; build the target ventrel first")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${IMAGE}
                OUTPUT_VARIABLE dump ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${IMAGE} failed: ${errors}")
endif()

if(NOT dump MATCHES "file format pei-i386")
  fail("not a PE image for i386")
endif()
if(NOT dump MATCHES "\nMagic[ \t]+010b[ \t]+\\(PE32\\)")
  fail("not PE32")
endif()
if(NOT dump MATCHES "\nSubsystem[ \t]+00000001[ \t]")
  fail("subsystem is not native")
endif()
if(dump MATCHES "\nCharacteristics[^\n]*\n([ \t]+[^\n]*\n)*[ \t]+DLL\n")
  fail("built as a DLL")
endif()
if(NOT dump MATCHES "\nEntry 5 [0-9a-f]+ 0*[1-9a-f][0-9a-f]* Base Relocation Directory")
  fail("no base relocation table")
endif()
if(dump MATCHES "\nAddressOfEntryPoint[ \t]+00000000\n")
  fail("no entry point")
endif()

# The import tables: a "DLL Name:" line, then one line per imported name
# ("<vma> <hint> <name>").
string(REPLACE ";" "," dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")
set(dll "")
set(dlls "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*DLL Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
    string(STRIP "${dll}" dll)
    list(APPEND dlls "${dll}")
    set(imports_${dll} "")
  elseif(dll AND line MATCHES "^[ \t]+[0-9a-f]+[ \t]+[0-9]+[ \t]+([A-Za-z_0-9@]+)[ \t]*$")
    list(APPEND imports_${dll} "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^[ \t]*$" OR line MATCHES "^[ \t]*vma:")
    # Blank lines and column headings keep the current DLL.
  else()
    set(dll "")
  endif()
endforeach()

list(SORT dlls)
if(NOT dlls STREQUAL "hal.dll;ntoskrnl.exe")
  fail("imports from [${dlls}] instead of hal.dll and ntoskrnl.exe")
endif()

foreach(pair "ntoskrnl.exe;expected_ntoskrnl" "hal.dll;expected_hal")
  list(GET pair 0 name)
  list(GET pair 1 expected_var)
  set(expected ${${expected_var}})
  set(actual ${imports_${name}})
  list(SORT expected)
  list(SORT actual)
  if(NOT actual STREQUAL expected)
    set(extra ${actual})
    list(REMOVE_ITEM extra ${expected})
    set(missing ${expected})
    if(actual)
      list(REMOVE_ITEM missing ${actual})
    endif()
    fail("${name}: unexpected imports [${extra}], missing [${missing}]")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${IMAGE} is not the driver it should be:\n${failures}")
endif()
message(STATUS "${IMAGE}: PE32 i386, native, imports ${dlls} as expected")
