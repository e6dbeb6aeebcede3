#!/usr/bin/env bash
# Builds the Debian package from a finished build tree into a scratch folder,
# unpacks it without installing it, and checks that what it holds works: the
# program answers, the batch runner gives the build's own results, the sweep
# drives the packaged batch runner, and the help documents sit where the help
# viewer looks for them. It also reads the package as the desktop and Debian's
# tools do: lintian, the launcher and software-centre checkers, the manual
# pages, the file type, the window's class, hardening and file times.
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

# Debian's package checker: no errors and no warnings.
if command -v lintian >/dev/null 2>&1; then
  lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log" >&2; fail "lintian found faults"; }
  if grep -E '^[EW]: ' "$work/lintian.log" >&2; then fail "lintian warned"; fi
fi

root="$work/root"
dpkg-deb -x "$deb" "$root"
bin="$root/usr/bin"

# The change log's newest entry must be the version the package carries.
zcat "$root/usr/share/doc/quindelle/changelog.gz" | head -n 1 | grep -qF "quindelle ($version)" ||
  fail "the newest change log entry is not $version"

[ "$("$bin/quindelle" --version)" = "quindelle $version" ] || fail "quindelle --version: $("$bin/quindelle" --version)"

# Every file carries the time of the newest change log entry, so the same
# source makes the same package.
epoch=$(dpkg-parsechangelog -l "$source/dist/changelog" -S Timestamp)
stamp=$(date -u -d "@$epoch" '+%Y-%m-%d %H:%M')
odd=$(dpkg-deb --fsys-tarfile "$deb" | TZ=UTC tar -tv | grep -vF " $stamp " || true)
[ -z "$odd" ] || fail "files not dated $stamp: $odd"

# Hardened as Debian builds: read-only relocations bound at start, fortified calls.
for b in quindelle quindelle-run; do
  # Read whole first: grep -q would stop reading early and fail the pipe.
  headers=$(readelf -lW "$bin/$b") dynamic=$(readelf -dW "$bin/$b") symbols=$(readelf -sW --dyn-syms "$bin/$b")
  grep -q GNU_RELRO <<<"$headers" || fail "$b: no RELRO"
  grep -q BIND_NOW <<<"$dynamic" || fail "$b: not bound now"
  grep -q '__[a-z_]*_chk@' <<<"$symbols" || fail "$b: no fortified calls"
done

# The launcher and the software-centre entry as the desktop's own checkers read them.
share="$root/usr/share"
desktop-file-validate "$share/applications/org.quindelle.quindelle.desktop" >"$work/desktop.log" 2>&1 ||
  { cat "$work/desktop.log" >&2; fail "desktop-file-validate found faults"; }
[ ! -s "$work/desktop.log" ] || { cat "$work/desktop.log" >&2; fail "desktop-file-validate remarked"; }
appstreamcli validate --no-net --pedantic "$share/metainfo/org.quindelle.quindelle.metainfo.xml" \
  >"$work/appstream.log" 2>&1 || { cat "$work/appstream.log" >&2; fail "appstreamcli found faults"; }
if grep -E '^[IWEP]: ' "$work/appstream.log" >&2; then fail "appstreamcli remarked"; fi
for binary in quindelle quindelle-run quindelle-sweep; do
  grep -q "<binary>$binary</binary>" "$share/metainfo/org.quindelle.quindelle.metainfo.xml" ||
    fail "the metainfo does not provide $binary"
done
grep -q '<project_license>GPL-3.0-or-later</project_license>' "$share/metainfo/org.quindelle.quindelle.metainfo.xml" ||
  fail "the metainfo names no licence"

# Each manual page renders without a complaint from man or groff.
for page in quindelle quindelle-run quindelle-sweep; do
  file="$share/man/man1/$page.1.gz"
  [ -f "$file" ] || fail "no manual page for $page"
  out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null) || fail "man -l $page failed"
  [ -z "$out" ] || fail "man -l $page: $out"
  shown=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$file" 2>/dev/null)
  grep -q "^NAME" <<<"$shown" || fail "man -l $page shows no NAME"
done
for tool in quindelle-run quindelle-sweep; do
  bash -n "$share/bash-completion/completions/$tool" || fail "the completion of $tool is not valid bash"
done

# The file type as an installed system sees it: the system's MIME packages and
# ours in one database, where a spreadsheet type claims *.pln too.
mimedb="$work/mime-data"
mkdir -p "$mimedb/mime/packages"
cp /usr/share/mime/packages/*.xml "$share/mime/packages/"*.xml "$mimedb/mime/packages/"
update-mime-database "$mimedb/mime" >/dev/null 2>&1 || fail "update-mime-database failed"
for example in "$share/quindelle/examples/"*.pln; do
  type=$(XDG_DATA_HOME="$work/no-data-home" XDG_DATA_DIRS="$mimedb" gio info -a standard::content-type "$example" 2>/dev/null |
    sed -n 's/^ *standard::content-type: //p')
  [ "$type" = application/x-quindelle-taons ] || fail "gio calls $(basename "$example") $type"
done
XDG_DATA_HOME="$work/no-data-home" XDG_DATA_DIRS="$mimedb" QD_INSTALLED_BIN_DIR="$bin" "$build/quindelle_ui_tests" \
  --gtest_filter='InstalledTree.*' >"$work/mime.log" 2>&1 ||
  { cat "$work/mime.log" >&2; fail "Qt does not see *.pln as ours in the unpacked package"; }
grep -q '\[  PASSED  \] 1 test' "$work/mime.log" || { cat "$work/mime.log" >&2; fail "the file type check did not run"; }

# Every example runs in the packaged batch runner with the formula its
# commentary suggests.
for example in "$share/quindelle/examples/"*.pln; do
  [ -s "${example%.pln}.txt" ] || fail "$(basename "$example") has no commentary"
  "$bin/quindelle-run" "$example" --steps 2000 --formula DUDI >/dev/null 2>"$work/example.log" ||
    { cat "$work/example.log" >&2; fail "$(basename "$example") does not run"; }
done

# The window's class (WM_CLASS) is the one the launcher names, so that the
# desktop shows the window with its launcher.
if command -v xvfb-run >/dev/null 2>&1 && command -v xprop >/dev/null 2>&1; then
  wmclass=$(sed -n 's/^StartupWMClass=//p' "$share/applications/org.quindelle.quindelle.desktop")
  [ -n "$wmclass" ] || fail "the launcher names no StartupWMClass"
  cat >"$work/wmclass.sh" <<'SCRIPT'
"$1" & pid=$!
for _ in $(seq 50); do
  class=$(xprop -name Quindelle WM_CLASS 2>/dev/null) && break
  sleep 0.2
done
kill "$pid"; wait "$pid" 2>/dev/null
echo "$class"
SCRIPT
  seen=$(QT_QPA_PLATFORM=xcb xvfb-run -a bash "$work/wmclass.sh" "$bin/quindelle" 2>/dev/null)
  [[ "$seen" == *"\"quindelle\", \"$wmclass\""* ]] || fail "the window's class is '$seen', the launcher's $wmclass"
fi

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
  grep -q "^\\[\"$bin/quindelle-run\", " "$work/sweep/jobs.json" || fail "the packaged sweep ran another quindelle-run"
fi

QD_INSTALLED_BIN_DIR="$bin" "$build/quindelle_ui_tests" \
  --gtest_filter='HelpDocuments.FoundWhereTheViewerLooksInAnInstalledTree' >"$work/help.log" 2>&1 ||
  { cat "$work/help.log" >&2; fail "help documents not found in the unpacked package"; }
grep -q '\[  PASSED  \] 1 test' "$work/help.log" || { cat "$work/help.log" >&2; fail "the help check did not run"; }

# The Python package: in Debian's folder for the system's python3, with its
# stubs and PEP 561 marker beside the compiled part, importable from the
# unpacked package alone, and computing what quindelle-run computes.
pydir="$root/usr/lib/python3/dist-packages"
compgen -G "$pydir/quindelle/_quindelle.cpython-*.so" >/dev/null ||
  fail "no compiled Python module in usr/lib/python3/dist-packages/quindelle"
for file in __init__.py _ase.py _notebook.py _signatures.py _quindelle.pyi py.typed; do
  [ -f "$pydir/quindelle/$file" ] || fail "the Python package lacks $file"
done
[ -z "$(find "$pydir" -name __pycache__)" ] || fail "byte-code in the package"
[[ ", $depends," == *", python3-numpy"[\ ,]* ]] || fail "Depends lacks python3-numpy: $depends"
PYTHONPATH="$pydir" /usr/bin/python3 -s -B -c '
import pickle, sys, quindelle
assert quindelle.__file__.startswith(sys.argv[1]), quindelle.__file__
sim = quindelle.load(sys.argv[2])
sim.run(200)
assert type(sim).__module__ == "quindelle" and pickle.loads(pickle.dumps(sim)) == sim
sim.save(sys.argv[3])' "$pydir" "$input" "$work/python.pln" >"$work/python.log" 2>&1 ||
  { cat "$work/python.log" >&2; fail "import quindelle from the unpacked package failed"; }
cmp "$work/python.pln" "$work/packaged.pln" || fail "the packaged Python module saved another result"

echo "package check: $(basename "$deb") is sound"
