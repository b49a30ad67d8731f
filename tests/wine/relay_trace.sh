# Reading a program's calls from a Wine relay trace (WINEDEBUG=+pid,+relay).
# Every Wine process that the run starts writes into the trace, and a 32-bit
# program under WoW64 is started by a 64-bit one that makes calls of the
# same names, as a console host may start a 64-bit one from an image at the
# same base: the program's own process is the one whose first act, the
# call of SetDefaultDllDirectories that both our programs make before
# anything else, returns into the program's image (from its image base to
# base plus size). (GetCommandLineA tells nothing: a 32-bit program's
# runtime reads the command line, not its own code.) Sourced by the scripts
# that read traces; needs od and awk only.

# relay_image_range EXE: "FIRST END", the decimal addresses of EXE's image,
# from its PE headers.
relay_image_range() {
  local at base size
  number() { od -An -t "u$2" -j "$1" -N "$2" "$3" | tr -d ' '; }
  at=$(number 60 4 "$1")
  [ "$(od -An -c -j "$at" -N 2 "$1" | tr -d ' ')" = PE ] || return 1
  case $(number $((at + 24)) 2 "$1") in
    267) base=$(number $((at + 52)) 4 "$1") ;;  # PE32
    523) base=$(number $((at + 48)) 8 "$1") ;;  # PE32+
    *) return 1 ;;
  esac
  size=$(number $((at + 80)) 4 "$1")
  echo "$base $((base + size))"
}

# relay_program_lines EXE TRACE [own]: the trace's lines of the process that
# ran EXE, without the process id ("TID:Call ..."); with own, only the calls
# that return into EXE's image, those its own code made. Fails when EXE's
# image cannot be read.
relay_program_lines() {
  local range
  range=$(relay_image_range "$1") || return 1
  awk -v range="$range" -v own="${3:-}" '
    function hex(text,  i, v) {
      v = 0
      for (i = 1; i <= length(text); i++) v = v * 16 + index("0123456789abcdef", substr(text, i, 1)) - 1
      return v
    }
    function returns_into_image(line,  address) {
      if (!match(line, / ret=[0-9a-f]+$/)) return 0
      address = hex(substr(line, RSTART + 5))
      return address >= lo && address < hi
    }
    BEGIN { split(range, bounds, " "); lo = bounds[1] + 0; hi = bounds[2] + 0 }
    NR == FNR {
      if (pid == "" && /^[0-9a-f]+:[0-9a-f]+:Call KERNEL32\.SetDefaultDllDirectories\(/ &&
          returns_into_image($0)) {
        pid = substr($0, 1, index($0, ":"))
      }
      next
    }
    pid != "" && index($0, pid) == 1 && (own == "" || returns_into_image($0)) {
      print substr($0, length(pid) + 1)
    }' "$2" "$2"
}
