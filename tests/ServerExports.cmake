# libkestrix.so defines exactly the four server entry points and the three
# runtime functions a host collects error information with in its dynamic
# symbol table: the pricing code and the rest of the runtime inside stay
# private, so a host with its own copies never binds to the library's.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} RESULT_VARIABLE status OUTPUT_VARIABLE table
                ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed: ${errors}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${table}")
set(names)
foreach(line IN LISTS lines)
  # Only code and data the library defines, not version nodes or the sanitizers' hooks.
  if(line MATCHES "^[0-9a-f]+ [TDBRV] ([^ ]+)$")
    set(name ${CMAKE_MATCH_1})
    if(NOT name MATCHES "^__(asan|ubsan|sanitizer|lsan)")
      list(APPEND names ${name})
    endif()
  endif()
endforeach()
list(SORT names)
set(expected DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer GetErrorInfo SysFreeString
    SysStringLen)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "libkestrix.so exports ${names}; expected ${expected}")
endif()
