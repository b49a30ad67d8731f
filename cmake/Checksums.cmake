# Run by CPack after signing, before it zips the staged files: writes
# SHA256SUMS, one "<sha256>  <path>" line per file of the package (the
# format that sha256sum -c reads), paths relative to the package's root.

file(GLOB_RECURSE files RELATIVE "${CPACK_TEMPORARY_DIRECTORY}" "${CPACK_TEMPORARY_DIRECTORY}/*")
list(REMOVE_ITEM files SHA256SUMS)
list(SORT files)
set(sums "")
foreach(file IN LISTS files)
  file(SHA256 "${CPACK_TEMPORARY_DIRECTORY}/${file}" hash)
  string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE "${CPACK_TEMPORARY_DIRECTORY}/SHA256SUMS" "${sums}")
list(LENGTH files count)
message(STATUS "SHA256SUMS of ${count} files")
