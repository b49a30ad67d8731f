# Run by CPack after it has staged the package's files and before it zips
# them: signs the executables with Authenticode through osslsigncode when
# QUORVEX_SIGN_CERT (a PEM or DER certificate, or a chain of them) and
# QUORVEX_SIGN_KEY (its private key) are set. QUORVEX_SIGN_PASS_FILE names a
# file holding the key's passphrase; QUORVEX_SIGN_TIMESTAMP is the URL of an
# RFC 3161 timestamping server.

set(cert "$ENV{QUORVEX_SIGN_CERT}")
set(key "$ENV{QUORVEX_SIGN_KEY}")
if(cert STREQUAL "" AND key STREQUAL "")
  message(STATUS "Not signing: no certificate given")
  return()
endif()
if(cert STREQUAL "" OR key STREQUAL "")
  message(FATAL_ERROR "Signing needs both QUORVEX_SIGN_CERT and QUORVEX_SIGN_KEY")
endif()
foreach(file IN ITEMS "${cert}" "${key}" "$ENV{QUORVEX_SIGN_PASS_FILE}")
  if(NOT file STREQUAL "" AND NOT EXISTS "${file}")
    message(FATAL_ERROR "Signing: ${file} does not exist")
  endif()
endforeach()
find_program(OSSLSIGNCODE osslsigncode)
if(NOT OSSLSIGNCODE)
  message(FATAL_ERROR "Signing needs osslsigncode (Debian package osslsigncode)")
endif()

set(options -certs "${cert}" -key "${key}" -h sha256 -n Quorvex)
if(NOT "$ENV{QUORVEX_SIGN_PASS_FILE}" STREQUAL "")
  list(APPEND options -readpass "$ENV{QUORVEX_SIGN_PASS_FILE}")
endif()
if(NOT "$ENV{QUORVEX_SIGN_TIMESTAMP}" STREQUAL "")
  list(APPEND options -ts "$ENV{QUORVEX_SIGN_TIMESTAMP}")
endif()

file(GLOB_RECURSE programs "${CPACK_TEMPORARY_DIRECTORY}/*.exe")
if(NOT programs)
  message(FATAL_ERROR "Signing: no executable in ${CPACK_TEMPORARY_DIRECTORY}")
endif()
foreach(program IN LISTS programs)
  set(signed "${program}.signed")
  file(REMOVE "${signed}")
  execute_process(COMMAND "${OSSLSIGNCODE}" sign ${options} -in "${program}" -out "${signed}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "Signing ${program} failed:\n${output}")
  endif()
  file(RENAME "${signed}" "${program}")
  file(RELATIVE_PATH name "${CPACK_TEMPORARY_DIRECTORY}" "${program}")
  message(STATUS "Signed ${name}")
endforeach()
