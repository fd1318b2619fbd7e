# Sourced by the scripts that run the Windows build under Wine: finds Wine and makes a
# throw-away Wine prefix, so that nothing of the user's ~/.wine is used and nothing is left.
#
#   source scripts/wine-prefix.sh
#   wine_find || fail "wine is missing"     # sets $wine and $wineserver
#   trap wine_prefix_remove EXIT
#   wine_prefix_start || fail "..."         # exports WINEPREFIX; programs run with "$wine"
#
# wine_prefix_remove removes only the prefix that wine_prefix_start made.

# Debian's wine package puts `wine` on the PATH; wine64 alone leaves its loader in
# /usr/lib/wine.
wine_find() {
  wine=$(command -v wine64 || command -v wine || true)
  [[ -z $wine && -x /usr/lib/wine/wine64 ]] && wine=/usr/lib/wine/wine64
  wineserver=$(command -v wineserver || true)
  [[ -z $wineserver && -x /usr/lib/wine/wineserver64 ]] && wineserver=/usr/lib/wine/wineserver64
  [[ -z $wineserver && -x /usr/lib/wine/wineserver ]] && wineserver=/usr/lib/wine/wineserver
  [[ -n $wine ]]
}

wine_prefix_start() {
  # Remembered apart from WINEPREFIX, which the user's environment may set to a real prefix.
  wine_prefix_made=$(mktemp -d "${TMPDIR:-/tmp}/reelfix-wine.XXXXXXXX")
  export WINEPREFIX=$wine_prefix_made
  export WINEARCH=win64 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="  # no offer to install Mono or Gecko
  unset DISPLAY WAYLAND_DISPLAY                # no windows, not even an error box
  # The first start creates the prefix; wineboot waits for it. A failure shows in the test
  # for drive_c.
  timeout 300 "$wine" wineboot --init >/dev/null 2>&1 || true
  if [[ -n $wineserver ]]; then timeout 120 "$wineserver" --wait >/dev/null 2>&1 || true; fi
  [[ -d $WINEPREFIX/drive_c ]]
}

# Removes the prefix that wine_prefix_start made, if it made one, and nothing else.
wine_prefix_remove() {
  [[ -n ${wine_prefix_made:-} ]] || return 0
  if [[ -n ${wineserver:-} ]]; then
    WINEPREFIX=$wine_prefix_made "$wineserver" -k >/dev/null 2>&1 || true
  fi
  rm -rf "$wine_prefix_made"
  wine_prefix_made=
}
