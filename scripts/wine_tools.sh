# Sourced by the scripts that run Wine: sets `wine` to the loader of 64-bit
# programs and `wineserver` to its server. Debian 12 and 13 keep them off the
# PATH as /usr/lib/wine/wine64 and wineserver64 (12 also as wineserver);
# other systems put them on the PATH.

# The first of the given programs that exists: a path, or a name looked up
# on the PATH.
first_program() {
  local candidate
  for candidate in "$@"; do
    if [[ $candidate == /* ]]; then
      [[ -x $candidate ]] && echo "$candidate" && return 0
    else
      command -v "$candidate" && return 0
    fi
  done
  echo "None of these is installed: $*" >&2
  return 1
}

wine=$(first_program /usr/lib/wine/wine64 /usr/lib/wine/wine wine64 wine)
wineserver=$(first_program /usr/lib/wine/wineserver64 \
  /usr/lib/wine/wineserver wineserver)
