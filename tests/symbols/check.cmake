# The shared libraries export exactly the functions their public headers
# declare: nothing internal leaks out, nothing declared goes missing.
#   LIBRARY  the shared library       MACRO  its export macro
#   C_COMPILER, INCLUDE_DIR           to preprocess the umbrella header
#   NM                                the nm program
# The header is preprocessed with the export macro replaced by a marker, so
# declarations made through helper macros are seen as the compiler sees them.
execute_process(
  COMMAND ${C_COMPILER} -E -P -std=c99 -DQSRCH_API=__qsrch_export_marker__
          -DQSIB_API=__qsib_export_marker__ -I${INCLUDE_DIR} ${INCLUDE_DIR}/qsrch/qsrch.h
  OUTPUT_VARIABLE text RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not preprocess the public headers")
endif()
set(marker __qsib_export_marker__)
if(MACRO STREQUAL "QSRCH_API")
  set(marker __qsrch_export_marker__)
endif()
string(REGEX MATCHALL "${marker}[^;{]*[;{]" decls "${text}")
set(declared "")
foreach(d ${decls})
  # The name is the identifier before the first "(" (a function) or
  # before the ";" (an exported variable).
  string(REGEX REPLACE "\\(.*" "" head "${d}")
  string(REGEX REPLACE "[;{]$" "" head "${head}")
  string(REGEX MATCH "[A-Za-z_][A-Za-z_0-9]*[ \t\r\n]*$" name "${head}")
  string(STRIP "${name}" name)
  list(APPEND declared ${name})
endforeach()
list(REMOVE_DUPLICATES declared)
list(SORT declared)

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[0-9a-f]+ [TDBRVW] [^\n]+" lines "${out}")
set(exported "")
foreach(l ${lines})
  string(REGEX REPLACE "^[0-9a-f]+ [TDBRVW] " "" sym "${l}")
  # The sanitizers add markers of their own beside exported variables.
  if(NOT sym MATCHES "^__(odr_)?asan|^__ubsan")
    list(APPEND exported ${sym})
  endif()
endforeach()
list(REMOVE_DUPLICATES exported)
list(SORT exported)

set(missing ${declared})
if(exported)
  list(REMOVE_ITEM missing ${exported})
endif()
set(extra ${exported})
if(declared)
  list(REMOVE_ITEM extra ${declared})
endif()
if(missing OR extra)
  message(FATAL_ERROR "${LIBRARY}\n  declared but not exported: ${missing}\n  exported but not declared: ${extra}")
endif()
list(LENGTH declared n)
message(STATUS "${LIBRARY}: ${n} symbols, as declared")
