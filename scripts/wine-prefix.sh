# Sourced by the scripts that run the Windows build under Wine: finds Wine and makes a
# throw-away Wine prefix, so that nothing of the user's ~/.wine is used and nothing is left.
#
#   source scripts/wine-prefix.sh
#   wine_find || fail "wine is missing"     # sets $wine and $wineserver
#   trap wine_prefix_remove EXIT
#   wine_prefix_start || fail "..."         # exports WINEPREFIX; programs run with "$wine"

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
  export WINEPREFIX
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/reelfix-wine.XXXXXXXX")
  export WINEARCH=win64 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="  # no offer to install Mono or Gecko
  unset DISPLAY WAYLAND_DISPLAY                # no windows, not even an error box
  # The first start creates the prefix; wineboot waits for it. A failure shows in the test
  # for drive_c.
  timeout 300 "$wine" wineboot --init >/dev/null 2>&1 || true
  if [[ -n $wineserver ]]; then timeout 120 "$wineserver" --wait >/dev/null 2>&1 || true; fi
  [[ -d $WINEPREFIX/drive_c ]]
}

wine_prefix_remove() {
  [[ -n ${WINEPREFIX:-} ]] || return 0
  if [[ -n ${wineserver:-} ]]; then "$wineserver" -k >/dev/null 2>&1 || true; fi
  rm -rf "$WINEPREFIX"
}
