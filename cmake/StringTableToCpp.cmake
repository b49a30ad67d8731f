# Writes the string tables of a resource script as C++ for the Linux build,
# so that both builds carry the texts of one source.
#
#   cmake -DINPUT=strings.rc -DOUTPUT=string_table_data.cpp -P StringTableToCpp.cmake
#
# Understands what resources/strings.rc uses: LANGUAGE statements naming
# English (US) or Japanese, STRINGTABLE blocks with one "<id> "text"" entry
# per line, and the escapes \n, \t, \\ and "". Anything else inside a
# string table is an error, so that the two builds cannot quietly differ.
cmake_minimum_required(VERSION 3.21)

if(NOT INPUT OR NOT OUTPUT)
  message(FATAL_ERROR "usage: cmake -DINPUT=file.rc -DOUTPUT=file.cpp -P ${CMAKE_CURRENT_LIST_FILE}")
endif()

file(READ "${INPUT}" source)
# List handling would split at semicolons; keep them out of the way.
string(REPLACE ";" "@SEMICOLON@" source "${source}")
string(REPLACE "\r" "" source "${source}")
string(REPLACE "\n" ";" lines "${source}")

set(language "")
set(state outside)  # outside, table (before BEGIN), entries (after BEGIN)
set(entries "")
set(seen "")
set(lineNumber 0)
foreach(line IN LISTS lines)
  math(EXPR lineNumber "${lineNumber} + 1")
  string(STRIP "${line}" line)
  if(line STREQUAL "" OR line MATCHES "^//" OR line MATCHES "^#")
    continue()
  endif()

  if(state STREQUAL "outside")
    if(line MATCHES "^LANGUAGE[ \t]+([A-Z_]+)[ \t]*,[ \t]*([A-Z_]+)$")
      set(pair "${CMAKE_MATCH_1},${CMAKE_MATCH_2}")
      if(pair STREQUAL "LANG_ENGLISH,SUBLANG_ENGLISH_US")
        set(language "0x0409")
      elseif(pair STREQUAL "LANG_JAPANESE,SUBLANG_DEFAULT" OR pair STREQUAL "LANG_JAPANESE,SUBLANG_JAPANESE_JAPAN")
        set(language "0x0411")
      else()
        message(FATAL_ERROR "${INPUT}:${lineNumber}: unknown language ${pair}")
      endif()
    elseif(line STREQUAL "STRINGTABLE")
      if(language STREQUAL "")
        message(FATAL_ERROR "${INPUT}:${lineNumber}: STRINGTABLE before any LANGUAGE")
      endif()
      set(state table)
    else()
      message(FATAL_ERROR "${INPUT}:${lineNumber}: unexpected line: ${line}")
    endif()
  elseif(state STREQUAL "table")
    if(NOT line STREQUAL "BEGIN")
      message(FATAL_ERROR "${INPUT}:${lineNumber}: BEGIN expected")
    endif()
    set(state entries)
  elseif(line STREQUAL "END")
    set(state outside)
  elseif(line MATCHES "^([0-9]+)[ \t]*,?[ \t]*\"(.*)\"$")
    set(id "${CMAKE_MATCH_1}")
    set(text "${CMAKE_MATCH_2}")
    if(id GREATER 65535)
      message(FATAL_ERROR "${INPUT}:${lineNumber}: id ${id} out of range")
    endif()
    if("${language}:${id}" IN_LIST seen)
      message(FATAL_ERROR "${INPUT}:${lineNumber}: id ${id} given twice")
    endif()
    list(APPEND seen "${language}:${id}")
    # Resource-script escapes to C++ escapes.
    string(REPLACE "\\\\" "@BACKSLASH@" text "${text}")
    string(REGEX REPLACE "\\\\[nt]" "" unknown "${text}")
    if(unknown MATCHES "\\\\")
      message(FATAL_ERROR "${INPUT}:${lineNumber}: unsupported escape in ${text}")
    endif()
    string(REPLACE "\"\"" "@QUOTE@" text "${text}")
    if(text MATCHES "\"")
      message(FATAL_ERROR "${INPUT}:${lineNumber}: a lone double quote in a string")
    endif()
    string(REPLACE "@QUOTE@" "\\\"" text "${text}")
    string(REPLACE "@BACKSLASH@" "\\\\" text "${text}")
    # Keep "??" from being read as a trigraph start by older compilers.
    string(REPLACE "?" "\\?" text "${text}")
    string(APPEND entries "    {${language}, ${id}, u\"${text}\"},\n")
  else()
    message(FATAL_ERROR "${INPUT}:${lineNumber}: string table entry expected: ${line}")
  endif()
endforeach()
if(NOT state STREQUAL "outside")
  message(FATAL_ERROR "${INPUT}: unterminated STRINGTABLE")
endif()
if(entries STREQUAL "")
  message(FATAL_ERROR "${INPUT}: no strings")
endif()
string(REPLACE "@SEMICOLON@" ";" entries "${entries}")

get_filename_component(inputName "${INPUT}" NAME)
set(content "// Generated from ${inputName} at build time. Do not edit.
#include \"platform/posix/string_table_data.h\"

namespace standin {

const StringTableEntry kStringTableEntries[] = {
${entries}};
const size_t kStringTableEntryCount = sizeof kStringTableEntries / sizeof kStringTableEntries[0];

}  // namespace standin
")
# Rewrite only on change so that dependants are not rebuilt for nothing.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" previous)
  if(previous STREQUAL content)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${content}")
