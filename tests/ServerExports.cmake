# libkestrix.so defines exactly the four server entry points, the three
# runtime functions a host collects error information with, and the C++
# interface in its dynamic symbol table: the pricing code and the rest of the
# runtime inside stay private, so a host with its own copies never binds to
# the library's (nor the library to its).
execute_process(COMMAND ${NM} -D -C --defined-only ${LIBRARY} RESULT_VARIABLE status OUTPUT_VARIABLE table
                ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed: ${errors}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${table}")
set(names)
foreach(line IN LISTS lines)
  # Only code and data the library defines, not version nodes or the sanitizers' hooks.
  if(line MATCHES "^[0-9a-f]+ [TDBRVW] (.+)$")
    set(name ${CMAKE_MATCH_1})
    if(NOT name MATCHES "^__(asan|ubsan|sanitizer|lsan)")
      list(APPEND names ${name})
    endif()
  endif()
endforeach()
list(SORT names)
set(expected DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer GetErrorInfo SysFreeString
    SysStringLen
    "kestrix::ErrorText(kestrix::enumOErrCodes)"
    "kestrix::v1::AmericanCall(kestrix::v1::AmericanCallInputs const&)"
    "kestrix::v1::BSAmerican(kestrix::v1::AmericanApproxInputs const&)"
    "kestrix::v1::Binomial(kestrix::v1::BinomialInputs const&)"
    "kestrix::v1::Eurodollar(kestrix::v1::EurodollarInputs const&)"
    "kestrix::v1::FrenchBS(kestrix::v1::FrenchBSInputs const&)"
    "kestrix::v1::GenBS(kestrix::v1::GenBSInputs const&)"
    "kestrix::v1::JumpDiffusion(kestrix::v1::JumpDiffusionInputs const&)"
    "kestrix::v1::LibraryVersion()"
    "kestrix::v1::Whaley(kestrix::v1::AmericanApproxInputs const&)")
list(SORT expected)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "libkestrix.so exports ${names}; expected ${expected}")
endif()
