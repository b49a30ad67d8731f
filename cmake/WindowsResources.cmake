# The Windows resources every program of Quorvex carries beside its own:
# an application manifest (RT_MANIFEST 1) and a version resource
# (VS_VERSIONINFO), each from a template in resources/.
#
#   quorvex_windows_resources(TARGET <target>
#     LEVEL <requireAdministrator|asInvoker>
#     DESCRIPTION "<FileDescription text>"
#     ORIGINAL_FILENAME <name.exe>
#     [PRODUCT_NAME <text>]        # default: Quorvex
#     [INTERNAL_NAME <text>]       # default: ORIGINAL_FILENAME without extension
#     [COMPANY_NAME <text>]        # default: none (no CompanyName value)
#     [VERSION <major.minor.patch[.tweak]>])  # default: PROJECT_VERSION
#
# LEVEL is the requested execution level of the manifest: requireAdministrator
# for a program that writes HKLM\SOFTWARE or Program Files (it must never be
# virtualised), asInvoker for a read-only tool. The values are kept on the
# target (properties QUORVEX_RESOURCE_*) for the tests. Does nothing when
# not building for Windows.
set(QUORVEX_RESOURCE_TEMPLATES "${CMAKE_CURRENT_LIST_DIR}/../resources")
get_filename_component(QUORVEX_RESOURCE_TEMPLATES "${QUORVEX_RESOURCE_TEMPLATES}" ABSOLUTE)

function(quorvex_windows_resources)
  cmake_parse_arguments(ARG ""
    "TARGET;LEVEL;DESCRIPTION;ORIGINAL_FILENAME;PRODUCT_NAME;INTERNAL_NAME;COMPANY_NAME;VERSION" ""
    ${ARGN})
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "quorvex_windows_resources: unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  foreach(required TARGET LEVEL DESCRIPTION ORIGINAL_FILENAME)
    if(NOT DEFINED ARG_${required} OR ARG_${required} STREQUAL "")
      message(FATAL_ERROR "quorvex_windows_resources: ${required} is required")
    endif()
  endforeach()
  if(NOT TARGET ${ARG_TARGET})
    message(FATAL_ERROR "quorvex_windows_resources: no target ${ARG_TARGET}")
  endif()
  if(NOT ARG_LEVEL MATCHES "^(requireAdministrator|asInvoker)$")
    message(FATAL_ERROR "quorvex_windows_resources: LEVEL is requireAdministrator or asInvoker, not ${ARG_LEVEL}")
  endif()
  if(NOT ARG_ORIGINAL_FILENAME MATCHES "^[^/\\\\:]+\\.exe$")
    message(FATAL_ERROR "quorvex_windows_resources: ORIGINAL_FILENAME is a file name ending in .exe, not ${ARG_ORIGINAL_FILENAME}")
  endif()
  if(NOT ARG_PRODUCT_NAME)
    set(ARG_PRODUCT_NAME Quorvex)
  endif()
  get_filename_component(stem "${ARG_ORIGINAL_FILENAME}" NAME_WLE)
  if(NOT ARG_INTERNAL_NAME)
    set(ARG_INTERNAL_NAME "${stem}")
  endif()
  if(NOT ARG_VERSION)
    set(ARG_VERSION "${PROJECT_VERSION}")
  endif()
  if(NOT ARG_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)(\\.([0-9]+))?$")
    message(FATAL_ERROR "quorvex_windows_resources: a version of three or four numbers is needed (project(... VERSION x.y.z)), not '${ARG_VERSION}'")
  endif()
  set(tweak 0)
  if(NOT "${CMAKE_MATCH_5}" STREQUAL "")
    set(tweak ${CMAKE_MATCH_5})
  endif()
  set(parts ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${tweak})
  foreach(part IN LISTS parts)
    if(part GREATER 65535)
      message(FATAL_ERROR "quorvex_windows_resources: version part ${part} is over 65535")
    endif()
  endforeach()

  # Set on every build so that the tests can read them.
  set_target_properties(${ARG_TARGET} PROPERTIES
    QUORVEX_RESOURCE_LEVEL "${ARG_LEVEL}"
    QUORVEX_RESOURCE_DESCRIPTION "${ARG_DESCRIPTION}"
    QUORVEX_RESOURCE_ORIGINAL_FILENAME "${ARG_ORIGINAL_FILENAME}"
    QUORVEX_RESOURCE_PRODUCT_NAME "${ARG_PRODUCT_NAME}"
    QUORVEX_RESOURCE_INTERNAL_NAME "${ARG_INTERNAL_NAME}"
    QUORVEX_RESOURCE_COMPANY_NAME "${ARG_COMPANY_NAME}"
    QUORVEX_RESOURCE_VERSION "${ARG_VERSION}")
  if(NOT WIN32)
    return()
  endif()

  # Values for the templates.
  set(QWR_LEVEL "${ARG_LEVEL}")
  set(QWR_VERSION "${ARG_VERSION}")
  list(JOIN parts "." QWR_VERSION4)
  list(JOIN parts "," QWR_VERSION_COMMAS)
  set(QWR_ORIGINAL_FILENAME "${ARG_ORIGINAL_FILENAME}")
  set(QWR_ASSEMBLY_NAME "${ARG_PRODUCT_NAME}.${stem}")
  string(REGEX REPLACE "[^A-Za-z0-9._-]" "" QWR_ASSEMBLY_NAME "${QWR_ASSEMBLY_NAME}")
  string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" processor)
  if(processor MATCHES "^(i[3-6]86|x86)$")
    set(QWR_ARCHITECTURE x86)
  elseif(processor MATCHES "^(x86_64|amd64)$")
    set(QWR_ARCHITECTURE amd64)
  elseif(processor MATCHES "^(aarch64|arm64)$")
    set(QWR_ARCHITECTURE arm64)
  else()
    set(QWR_ARCHITECTURE "*")
  endif()
  # XML text, and resource-script strings ("" for a quote, \\ for a backslash).
  set(xml "${ARG_DESCRIPTION}")
  string(REPLACE "&" "&amp;" xml "${xml}")
  string(REPLACE "<" "&lt;" xml "${xml}")
  string(REPLACE ">" "&gt;" xml "${xml}")
  set(QWR_XML_DESCRIPTION "${xml}")
  foreach(field DESCRIPTION PRODUCT_NAME INTERNAL_NAME ORIGINAL_FILENAME COMPANY_NAME)
    string(REPLACE "\\" "\\\\" text "${ARG_${field}}")
    string(REPLACE "\"" "\"\"" text "${text}")
    set(QWR_RC_${field} "${text}")
  endforeach()
  if(ARG_COMPANY_NAME)
    set(QWR_COMPANY_LINE "      VALUE \"CompanyName\", \"${QWR_RC_COMPANY_NAME}\"\n")
  else()
    set(QWR_COMPANY_LINE "")
  endif()

  set(folder "${CMAKE_CURRENT_BINARY_DIR}/${ARG_TARGET}-resources")
  set(QWR_MANIFEST_FILE "${folder}/${stem}.manifest")
  configure_file("${QUORVEX_RESOURCE_TEMPLATES}/application.manifest.in" "${QWR_MANIFEST_FILE}" @ONLY)
  configure_file("${QUORVEX_RESOURCE_TEMPLATES}/manifest.rc.in" "${folder}/manifest.rc" @ONLY)
  configure_file("${QUORVEX_RESOURCE_TEMPLATES}/version.rc.in" "${folder}/version.rc" @ONLY)
  # The resource compiler reads the manifest, which no dependency scan sees.
  set_source_files_properties("${folder}/manifest.rc" PROPERTIES OBJECT_DEPENDS "${QWR_MANIFEST_FILE}")
  target_sources(${ARG_TARGET} PRIVATE "${folder}/manifest.rc" "${folder}/version.rc")
  set_target_properties(${ARG_TARGET} PROPERTIES QUORVEX_RESOURCE_MANIFEST "${QWR_MANIFEST_FILE}")
endfunction()
