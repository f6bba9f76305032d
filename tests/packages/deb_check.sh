#!/bin/sh
# deb_check.sh CMAKE CPACK BUILD WORK VERSION
# Builds the Debian packages of BUILD under WORK, checks what each holds and
# depends on, then runs korvax from the runtime and tools packages unpacked
# into a folder of their own. Exit 77 (skipped) without cpack or dpkg-deb.
set -eu
cmake=$1 cpack=$2 build=$3 work=$4 version=$5
fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in "$cpack" dpkg-deb; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done
command -v dpkg-shlibdeps >/dev/null 2>&1 ||
  fail "dpkg-shlibdeps is not installed (apt-get install dpkg-dev): the packages would not depend on the system's libraries"

rm -rf "$work"
mkdir -p "$work"
# -B: cpack's staging folders and the packages stay under WORK.
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/packages" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack -G DEB"; }

deb() {
  set -- "$work/packages/$1_$version-1_"*.deb
  [ -f "$1" ] || fail "no package $1"
  echo "$1"
}
# One assignment a line: set -e sees only the last substitution of a line.
runtime=$(deb libkorvax1)
dev=$(deb libkorvax-dev)
tools=$(deb korvax-tools)

# Files and links of each package, without the leading ./usr/.
for p in runtime dev tools; do
  eval "dpkg-deb -c \"\$$p\"" | awk '$1 !~ /^d/ { sub("^\\./usr/", "", $6); print $6 }' | sort >"$work/$p.files"
done
# PACKAGE MUST|NOT EXTENDED-REGEX (the library folder may be lib/ or lib/ARCH/).
while read -r p rule re; do
  if grep -Eq "^($re)\$" "$work/$p.files"; then found=MUST; else found=NOT; fi
  [ "$found" = "$rule" ] || fail "$p: expected $rule hold '$re'; it holds:
$(cat "$work/$p.files")"
done <<TABLE
runtime MUST lib/(.*/)?libKORVAX\.so\.1
runtime MUST lib/(.*/)?libkorvaxvisa\.so\.1
runtime MUST lib/(.*/)?libkorvaxsim\.so\.1
runtime MUST lib/(.*/)?libkorvaxswitch\.so\.1
runtime NOT  lib/(.*/)?lib[^/]*\.so|include/.*|bin/.*
dev     MUST include/KORVAX\.h
dev     MUST include/korvax/extensions\.h
dev     MUST include/korvax/switching\.hpp
dev     MUST lib/(.*/)?libKORVAX\.so
dev     MUST lib/(.*/)?cmake/KORVAX/KORVAXConfig\.cmake
dev     MUST lib/(.*/)?pkgconfig/KORVAX\.pc
dev     NOT  lib/(.*/)?lib[^/]*\.so\..*|bin/.*
tools   MUST bin/korvax
tools   MUST bin/korvax-sim
tools   MUST bin/korvax-panel
tools   MUST share/man/man1/korvax-panel\.1\.gz
tools   MUST share/man/man1/korvax\.1\.gz
tools   NOT  lib/.*|include/.*
TABLE

# Every installed file is in exactly one package: dpkg refuses two packages
# that hold one file, and a file of no component would be in none.
sort "$work/runtime.files" "$work/dev.files" "$work/tools.files" >"$work/packaged"
dups=$(uniq -d "$work/packaged")
[ -z "$dups" ] || fail "in more than one package: $dups"
"$cmake" --install "$build" --prefix "$work/installed" >/dev/null
(cd "$work/installed" && find . ! -type d | sed 's|^\./||' | sort) >"$work/installed.files"
missing=$(comm -23 "$work/installed.files" "$work/packaged")
[ -z "$missing" ] || fail "installed but in no package (install them with a COMPONENT, see cmake/install-components.cmake):
$missing"

# Depends: ours exactly this version, the system's computed by dpkg-shlibdeps.
depends() {
  d=$(dpkg-deb -f "$1" Depends)
  shift
  for want in "$@"; do
    case ", $d," in *", $want"[\ ,]*) ;; *) fail "Depends '$d' lacks '$want'" ;; esac
  done
}
depends "$runtime" libc6 libstdc++6
depends "$dev" "libkorvax1 (= $version-1)"
depends "$tools" "libkorvax1 (= $version-1)" libc6 libstdc++6
dpkg-deb --info "$runtime" shlibs | grep -q "^libKORVAX 1 libkorvax1 (>= $version-1)\$" ||
  fail "libkorvax1 does not declare libKORVAX.so.1 in its shlibs"

# The packaged korvax, unpacked anywhere, finds its libraries by its run path
# (the built-in VISA library beside libKORVAX included) and nothing else.
root=$work/root
for p in "$runtime" "$tools"; do dpkg-deb -x "$p" "$root"; done
unset LD_LIBRARY_PATH KORVAX_VISA_LIBRARY KORVAX_LIBRARY
out=$("$root/usr/bin/korvax" --version)
[ "$out" = "$version" ] || fail "korvax --version printed '$out', not $version"
out=$("$root/usr/bin/korvax-panel" --version)
[ "$out" = "$version" ] || fail "korvax-panel --version printed '$out', not $version"
LD_TRACE_LOADED_OBJECTS=1 "$root/usr/bin/korvax" | grep -Fq "libKORVAX.so.1 => $root/usr/" ||
  fail "the unpacked korvax does not load the unpacked libKORVAX"
"$root/usr/bin/korvax" --sim RQ523 find | grep -q "TCPIP0::sim-rq523::INSTR" ||
  fail "the unpacked korvax found no simulated chassis"
gzip -dc "$root/usr/share/man/man1/korvax.1.gz" | grep -q '^\.SH NAME' ||
  fail "korvax.1.gz is not a man page"
echo "packages: $(basename "$runtime") $(basename "$dev") $(basename "$tools")"
