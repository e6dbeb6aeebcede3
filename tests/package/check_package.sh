#!/usr/bin/env bash
# Builds the Debian package from a finished build tree into a scratch folder,
# unpacks it without installing it, and checks that what it holds works: the
# program answers, the batch runner gives the build's own results, the sweep
# drives the packaged batch runner, and the help documents sit where the help
# viewer looks for them.
# Usage: check_package.sh BUILD_DIR SOURCE_DIR [CPACK]
set -euo pipefail

build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
cpack=${3:-cpack}
work="$build/package-check"
rm -rf "$work"
mkdir -p "$work/config"
export XDG_CONFIG_HOME="$work/config"

fail() {
  echo "package check: $*" >&2
  exit 1
}

if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  fail "cpack failed"
fi
# The log's warnings (a dependency scan that found nothing, say) are faults too.
if grep -i "warning" "$work/cpack.log" >&2; then fail "cpack warned"; fi

debs=("$work"/*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one package, found: ${debs[*]}"
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
arch=$(dpkg-deb -f "$deb" Architecture)
[ "$(basename "$deb")" = "quindelle_${version}_${arch}.deb" ] || fail "unexpected file name $(basename "$deb")"

depends=$(dpkg-deb -f "$deb" Depends)
for dep in fonts-liberation2 libqt6widgets6 libc6; do
  [[ ", $depends," == *", $dep"[\ ,]* ]] || fail "Depends lacks $dep: $depends"
done
# Debian's own triggers look after the caches; the package brings no scripts.
scripts=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -E 'inst$|rm$' || true)
[ -z "$scripts" ] || fail "maintainer scripts in the package: $scripts"

# Debian's package checker: no errors and no warnings but the kept one (the
# two programs explain their options with --help and in the README; no
# manual pages yet).
if command -v lintian >/dev/null 2>&1; then
  lintian --fail-on error,warning --suppress-tags no-manual-page "$deb" >"$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log" >&2; fail "lintian found faults"; }
fi

root="$work/root"
dpkg-deb -x "$deb" "$root"
bin="$root/usr/bin"

# The change log's newest entry must be the version the package carries.
zcat "$root/usr/share/doc/quindelle/changelog.gz" | head -n 1 | grep -qF "quindelle ($version)" ||
  fail "the newest change log entry is not $version"

[ "$("$bin/quindelle" --version)" = "quindelle $version" ] || fail "quindelle --version: $("$bin/quindelle" --version)"

# The packaged batch runner computes exactly what the build tree's does.
input="$source/tests/package/square.pln"
"$bin/quindelle-run" "$input" --steps 200 --out "$work/packaged.pln" --list velocities >"$work/packaged.txt"
"$build/quindelle-run" "$input" --steps 200 --out "$work/built.pln" --list velocities >"$work/built.txt"
cmp "$work/packaged.pln" "$work/built.pln" || fail "the packaged quindelle-run saved another result"
cmp "$work/packaged.txt" "$work/built.txt" || fail "the packaged quindelle-run listed another result"
cmp -s "$input" "$work/packaged.pln" && fail "200 steps left the configuration unchanged"

# The packaged sweep drives the packaged batch runner beside it.
if command -v parallel >/dev/null 2>&1; then
  "$bin/quindelle-sweep" "$input" --steps 20 --vary A1=1,2 --out "$work/sweep" --jobs 1 >/dev/null 2>"$work/sweep.log" ||
    { cat "$work/sweep.log" >&2; fail "the packaged quindelle-sweep failed"; }
  [ "$(wc -l <"$work/sweep/summary.csv")" -eq 3 ] || fail "the packaged sweep's summary lacks rows"
  grep -q "^$bin/quindelle-run " "$work/sweep/jobs.txt" || fail "the packaged sweep ran another quindelle-run"
fi

QD_INSTALLED_BIN_DIR="$bin" "$build/quindelle_ui_tests" \
  --gtest_filter='HelpDocuments.FoundWhereTheViewerLooksInAnInstalledTree' >"$work/help.log" 2>&1 ||
  { cat "$work/help.log" >&2; fail "help documents not found in the unpacked package"; }
grep -q '\[  PASSED  \] 1 test' "$work/help.log" || { cat "$work/help.log" >&2; fail "the help check did not run"; }

# The Python module: in Debian's folder for the system's python3, importable
# from the unpacked package alone, and computing what quindelle-run computes.
pydir="$root/usr/lib/python3/dist-packages"
compgen -G "$pydir/quindelle.cpython-*.so" >/dev/null || fail "no Python module in usr/lib/python3/dist-packages"
[[ ", $depends," == *", python3-numpy"[\ ,]* ]] || fail "Depends lacks python3-numpy: $depends"
PYTHONPATH="$pydir" /usr/bin/python3 -s -c '
import sys, quindelle
assert quindelle.__file__.startswith(sys.argv[1]), quindelle.__file__
sim = quindelle.load(sys.argv[2])
sim.run(200)
sim.save(sys.argv[3])' "$pydir" "$input" "$work/python.pln" >"$work/python.log" 2>&1 ||
  { cat "$work/python.log" >&2; fail "import quindelle from the unpacked package failed"; }
cmp "$work/python.pln" "$work/packaged.pln" || fail "the packaged Python module saved another result"

echo "package check: $(basename "$deb") is sound"
