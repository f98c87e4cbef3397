# Prices the sample book with the built kestrix and checks the priced book:
# one output row per input row, the closed-form value of the first row, the
# failing row's code and text, and an HResult on every row.
execute_process(COMMAND ${KESTRIX} price ${BOOK} -o ${OUT} RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "kestrix price exited with ${status}: ${errors}")
endif()

file(STRINGS ${BOOK} input)
file(STRINGS ${OUT} output)
list(LENGTH input inputRows)
list(LENGTH output outputRows)
if(NOT inputRows EQUAL outputRows)
  message(FATAL_ERROR "${inputRows} input lines but ${outputRows} output lines")
endif()

list(GET input 0 inputHeader)
list(GET output 0 outputHeader)
if(NOT outputHeader STREQUAL "${inputHeader},Result,HResult,Description")
  message(FATAL_ERROR "unexpected header: ${outputHeader}")
endif()

# European call S=K=100, T=1, sigma=0.2, r=0.05: 10.450583572185565.
list(GET output 1 first)
if(NOT first MATCHES ",10\\.4505[0-9]*,0x00000000,$")
  message(FATAL_ERROR "first row is not the closed-form value: ${first}")
endif()

list(GET output -1 failing)
if(NOT failing MATCHES ",,0x80050002,StrikePrice must be greater than 0\\.$")
  message(FATAL_ERROR "failing row not reported: ${failing}")
endif()

list(REMOVE_AT output 0)
foreach(row IN LISTS output)
  if(NOT row MATCHES ",0x[0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F],[^,]*$")
    message(FATAL_ERROR "row without an HResult: ${row}")
  endif()
endforeach()
