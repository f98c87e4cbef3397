# kestrix register writes the registry named by KESTRIX_REGISTRY (set by the
# test to REGISTRY); each later kestrix process then creates the object by its
# programmatic identifier, through the registry and the library it names.
file(REMOVE_RECURSE ${REGISTRY})
get_filename_component(folder ${REGISTRY} DIRECTORY)
file(REMOVE_RECURSE ${folder})

function(run expected_status)
  execute_process(COMMAND ${KESTRIX} ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL expected_status)
    message(FATAL_ERROR "kestrix ${ARGN}: exit ${status}, expected ${expected_status}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

set(put GenBS ExerciseType=European OptionType=PutOption OptionFunction=Theoretical AssetPrice=100 StrikePrice=95
    TimeExpire=0.5 Volatility=0.25 InterestRate=0.05 YieldRate=0.02 TimeFormat=Years --json)
set(failing GenBS ExerciseType=European OptionType=CallOption OptionFunction=Theoretical AssetPrice=100
    StrikePrice=0 TimeExpire=1 Volatility=0.2 InterestRate=0.05 YieldRate=0 TimeFormat=Years --json)

run(1 call --progid Quantora.Kestrix ${put})
if(NOT err MATCHES "0x800401F3")
  message(FATAL_ERROR "an unregistered identifier is not reported: ${err}")
endif()

run(0 register)
if(NOT out MATCHES "DllRegisterServer in .*libkestrix\\.so succeeded")
  message(FATAL_ERROR "unexpected register output: ${out}")
endif()

run(0 call ${put})
set(linked "${out}")
run(0 call --progid Quantora.Kestrix ${put})
if(NOT out MATCHES "\"result\":[0-9]" OR NOT out STREQUAL linked)
  message(FATAL_ERROR "by identifier: ${out}built in: ${linked}")
endif()

run(1 call --progid quantora.kestrix ${failing})
if(NOT out MATCHES "\"hresult\":\"0x80050002\".*\"source\":\"Quantora.Kestrix\"")
  message(FATAL_ERROR "the error's source is not the identifier: ${out}")
endif()

run(0 register)  # again: harmless
run(0 unregister)
run(1 call --progid Quantora.Kestrix ${put})
file(READ ${REGISTRY} text)
if(text MATCHES "Quantora.Kestrix" OR NOT text MATCHES "TypeLib")
  message(FATAL_ERROR "unregister left the class or removed the type library:\n${text}")
endif()

run(1 register ${folder}/no-such-library.so)
file(WRITE ${REGISTRY} "KESTRIX REGISTRY 1\n[Cut")
run(1 register)
if(NOT err MATCHES "0x800703F1 the registry file is corrupt")
  message(FATAL_ERROR "a damaged registry is not reported: ${err}")
endif()

# An empty registry file is an empty registry.
file(WRITE ${REGISTRY} "")
run(0 register)
run(0 call --progid Quantora.Kestrix ${put})

# A registry naming the library by a bare name, which the loader would search
# for: the object is not created.
file(READ ${REGISTRY} registered)
string(REGEX REPLACE "@=\"/[^\"]*/libkestrix\\.so[.0-9]*\"" "@=\"libkestrix.so\"" planted "${registered}")
if(planted STREQUAL registered)
  message(FATAL_ERROR "no registered library path to replace in ${registered}")
endif()
file(WRITE ${REGISTRY} "${planted}")
run(1 call --progid Quantora.Kestrix ${put})
if(NOT err MATCHES "0x80070005 the registered library \"libkestrix.so\" is not a full path")
  message(FATAL_ERROR "a bare library name is not refused: ${err}")
endif()

# A registry file others may write to is not trusted with what to load.
file(WRITE ${REGISTRY} "${registered}")
file(CHMOD ${REGISTRY} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ GROUP_WRITE)
run(1 call --progid Quantora.Kestrix ${put})
if(NOT err MATCHES "0x80070005 the registry file .*registry may be written by others \\(mode 0660\\)")
  message(FATAL_ERROR "a registry others may write is trusted: ${err}")
endif()
file(CHMOD ${REGISTRY} PERMISSIONS OWNER_READ OWNER_WRITE)
run(0 call --progid Quantora.Kestrix ${put})

# Through a symbolic link, unregister changes the link's target and the link stays.
file(RENAME ${REGISTRY} ${folder}/real-registry)
file(CREATE_LINK real-registry ${folder}/link SYMBOLIC)
set(ENV{KESTRIX_REGISTRY} ${folder}/link)
run(0 unregister)
file(READ ${folder}/real-registry text)
if(NOT IS_SYMLINK ${folder}/link OR text MATCHES "Quantora.Kestrix")
  message(FATAL_ERROR "unregister through a link did not reach its target:\n${text}")
endif()
run(0 register)
set(ENV{KESTRIX_REGISTRY} ${REGISTRY})
file(RENAME ${folder}/real-registry ${REGISTRY})

# Another process holds the registry's lock (flock, as the writers do):
# register gives up after a few seconds naming the lock file, writes nothing.
file(READ ${REGISTRY} before)
execute_process(COMMAND flock ${REGISTRY}.lock sh -c "echo held; sleep 6"
                COMMAND sh -c "read held && exec \"$0\" register" ${KESTRIX}
                RESULTS_VARIABLE statuses OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
file(READ ${REGISTRY} after)
if(NOT statuses STREQUAL "0;1" OR NOT err MATCHES "0x80070021 another process holds the registry's lock .*registry\\.lock"
   OR NOT after STREQUAL before)
  message(FATAL_ERROR "a held lock: exit ${statuses}\n${out}${err}")
endif()
