# Sourced by the scripts that run Wine: sets `wine` to the loader of 64-bit
# programs and `wineserver` to its server. Debian keeps them off the PATH
# under /usr/lib/wine (wine64 up to Debian 12; from Debian 13 on the one
# loader "wine" runs both kinds); other systems put them on the PATH.

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
