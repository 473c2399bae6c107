# Sourced by the scripts that run Windows programs under Wine:
#   . scripts/wine-prefix.sh; wine_prefix [PREFIX]
# wine_prefix exports the settings every run here uses (no debug channels, no
# Mono or Gecko installer prompts) and the prefix when one is given, and makes
# the prefix the first time it is used.
wine_prefix() {
  if [ $# -gt 0 ]; then
    export WINEPREFIX=$1
  fi
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "${WINEPREFIX:-$HOME/.wine}/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
}
