# Sourced by the tests that run a program under a virtual X display: makes WORK afresh
# with a new wine prefix in it, sets `work` to its absolute path (wine wants one) and
# exports WINEPREFIX with wine's diagnostics silenced.
#   . fresh-prefix.sh WORK
rm -rf "$1"
mkdir -p "$1"
work=$(cd "$1" && pwd)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
wineboot -i >/dev/null 2>&1
wineserver -w
