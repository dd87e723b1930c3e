#!/usr/bin/env bash
# Installs a host build into a staging prefix and uses it as a stranger would: every shared
# library of the build is installed with its versioned name; each library exports exactly the
# symbols kept in tests/install/exports (each declared by an installed header or bound by name,
# listed in bound-by-name.txt); every installed header compiles alone with nothing but
# `pkg-config --cflags` of its package; a small program that codes
# a page through the engine API and decodes it through the decoder API is built once with
# pkg-config and once with find_package and run against the installed libraries (nothing may
# be loaded from the build tree); the installed monodoc codes and decodes a sample page; the
# manual page formats without warnings.
#
#   scripts/check-install.sh BUILD_DIR [--update-exports]
# --update-exports rewrites the kept symbol lists from the build instead of comparing (after a
# deliberate change of the exported entry points; review the diff).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: check-install.sh BUILD_DIR [--update-exports]}" && pwd)
update=${2:-}
kept=$here/tests/install/exports
work=$build/install-check
prefix=$work/prefix
rm -rf "$work"
mkdir -p "$work"
failures=0
problem() { echo "check-install: $*" >&2; failures=$((failures + 1)); }
step() { printf '==> %s\n' "$*"; }

step "installing into $prefix"
cmake --install "$build" --prefix "$prefix" > "$work/install.log"
libdir=$prefix/lib
[ -d "$libdir" ] || { echo "check-install: no lib folder in $prefix" >&2; exit 1; }

step "every shared library of the build, versioned"
for built in "$build"/lib/lib*.so; do
  name=$(basename "$built")
  soname=$(objdump -p "$built" | awk '$1 == "SONAME" {print $2}')
  # monodoc's command modules are loaded by their plain names, never linked against.
  case "$name" in libmonodoc_*) soname= ;; *)
  case "$soname" in "$name".[0-9]*) ;; *) problem "$name has no versioned SONAME (${soname:-none})" ;; esac ;; esac
  [ -e "$libdir/$name" ] || problem "$name is built but not installed (cmake/install.cmake, MONO_INSTALL_LIBRARIES)"
  [ -z "$soname" ] || [ -e "$libdir/$soname" ] || problem "$soname (the SONAME of $name) is not installed"
done

# From here on the installed packages' own pkg-config files say how to compile and link: a
# header that needs flags its package does not give fails as it would for a user.
export PKG_CONFIG_PATH=$libdir/pkgconfig
unset LD_LIBRARY_PATH MONODOC_PLUGIN_PATH
pkg-config --exists --print-errors monocodec pagefiler
# package_of HEADER: the package whose Cflags serve the header's folder.
package_of() {
  case "$1" in "$prefix"/include/monocodec/*) echo monocodec ;; *) echo pagefiler ;; esac
}

step "exported symbols"
# Names bound by name, and the few entry points exported only for the tests of their library.
cat "$here"/tests/install/exports/bound-by-name.txt "$here"/tests/install/exports/test-hooks.txt > "$work/bound.txt"
{
  for h in "$prefix"/include/*/*.h; do echo "#include \"$h\""; done
} > "$work/all-headers.cpp"
# Declarations after the preprocessor, so names that macros make count and comments do not.
declared_unknown=0
if c++ -std=c++20 -E -P $(pkg-config --cflags monocodec pagefiler) "$work/all-headers.cpp" > "$work/all-headers.i" \
  2> "$work/all-headers.log"; then
  tr -c 'A-Za-z0-9_' '\n' < "$work/all-headers.i" | sort -u > "$work/declared.txt"
else
  problem "the installed headers do not preprocess with pkg-config --cflags monocodec pagefiler:"
  head -5 "$work/all-headers.log" >&2
  declared_unknown=1
fi
for lib in "$libdir"/lib*.so; do
  name=$(basename "$lib" .so)
  nm -D --defined-only --format=just-symbols "$lib" \
    | grep -v -x -e _init -e _fini -e _edata -e _end -e __bss_start | sort > "$work/$name.txt"
  if [ "$update" = "--update-exports" ]; then
    cp "$work/$name.txt" "$kept/$name.txt"
  elif [ ! -f "$kept/$name.txt" ]; then
    problem "$name: no kept symbol list (tests/install/exports/$name.txt; --update-exports writes it)"
  elif ! diff -u "$kept/$name.txt" "$work/$name.txt" > "$work/$name.diff"; then
    problem "$name exports other symbols than tests/install/exports/$name.txt:"
    sed -n '3,$p' "$work/$name.diff" | grep '^[-+]' | head -40 >&2
  fi
  [ "$declared_unknown" = 0 ] || continue
  undeclared=$(comm -23 "$work/$name.txt" "$work/declared.txt" | comm -23 - <(sort -u "$work/bound.txt"))
  [ -z "$undeclared" ] || problem "$name exports names no installed header declares: $(echo $undeclared | head -c 2000)"
done

step "each installed header compiles alone, with only pkg-config --cflags of its package"
for h in "$prefix"/include/*/*.h; do
  # A part of another header says so; it is compiled with that one.
  grep -q 'not meant to be included alone' "$h" && continue
  package=$(package_of "$h")
  echo "#include \"$(basename "$h")\"" | c++ -std=c++20 -fsyntax-only -Wall -Wextra -Werror \
    $(pkg-config --cflags "$package") -x c++ - 2> "$work/header.log" \
    || { problem "${h#$prefix/} does not compile with pkg-config --cflags $package alone:"; head -5 "$work/header.log" >&2; }
done

consumer=$here/tests/install/consumer
step "the consumer through pkg-config"
c++ -std=c++20 -Wall -Wextra -Werror -o "$work/consumer-pkgconfig" "$consumer/consumer.cpp" \
  $(pkg-config --cflags --libs monocodec) -Wl,-rpath,"$libdir"
c++ -std=c++20 -Wall -Wextra -Werror -o "$work/pagefiler-consumer-pkgconfig" "$consumer/pagefiler_consumer.cpp" \
  $(pkg-config --cflags --libs pagefiler) -Wl,-rpath,"$libdir"
step "the consumer through find_package"
cmake -S "$consumer" -B "$work/consumer-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" > "$work/consumer-cmake.log"
cmake --build "$work/consumer-cmake" >> "$work/consumer-cmake.log"

# Runs a program and fails when any file of the build tree's lib folder is loaded.
run_installed() {
  LD_DEBUG=files LD_DEBUG_OUTPUT=$work/ld "$@"
  if grep -h "file=$build/lib/" "$work"/ld.* > /dev/null 2>&1; then
    problem "$1 loaded libraries of the build tree:"
    grep -h "file=$build/lib/" "$work"/ld.* | head -5 >&2
  fi
  rm -f "$work"/ld.*
}
for exe in "$work/consumer-pkgconfig" "$work/consumer-cmake/consumer"; do
  step "running ${exe#$work/}"
  run_installed "$exe"
done
for exe in "$work/pagefiler-consumer-pkgconfig" "$work/consumer-cmake/pagefiler_consumer"; do
  step "running ${exe#$work/}"
  run_installed "$exe"
done

step "the installed monodoc on a sample page"
# A page of repeated shapes, lossless by default: decoding gives the same PBM back.
{
  printf 'P1\n64 24\n'
  for y in $(seq 0 23); do
    row=""
    for x in $(seq 0 63); do
      if [ $((x % 16)) -lt 10 ] && [ $((y % 12)) -lt 8 ] && { [ $((x % 16)) -lt 2 ] || [ $((y % 12)) -lt 2 ]; }; then
        row+="1 "
      else
        row+="0 "
      fi
    done
    echo "$row"
  done
} > "$work/sample.pbm"
run_installed "$prefix/bin/monodoc" encode -o "$work/sample" "$work/sample.pbm"
run_installed "$prefix/bin/monodoc" decode -o "$work/decoded" "$work/sample-dict.jb2" "$work/sample-1.jb2"
decoded=$(ls "$work"/decoded*.pbm 2> /dev/null | head -1)
if [ -z "$decoded" ]; then
  problem "monodoc decode wrote no page"
elif ! cmp -s <(pnmtopnm -plain < "$work/sample.pbm" 2> /dev/null) <(pnmtopnm -plain < "$decoded" 2> /dev/null); then
  problem "the installed monodoc's round trip changed the sample page"
fi
# Without a store named capstamp says so and ends well: enough to show it loads what it needs.
CFGKEEP=$work/no-store run_installed "$prefix/bin/capstamp" 2> "$work/capstamp.log" \
  && grep -q '^capstamp: cannot attach' "$work/capstamp.log" || problem "the installed capstamp does not run"

step "monodoc's manual page"
man_page=$prefix/share/man/man1/monodoc.1
if [ ! -f "$man_page" ]; then
  problem "no manual page at ${man_page#$prefix/}"
else
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$man_page" 2>&1 > /dev/null || true)
  [ -z "$warnings" ] || problem "the manual page formats with warnings: $warnings"
  for command in $("$prefix/bin/monodoc" help | awk '/^Commands:/ {on = 1; next} on && /^  [a-z]/ {print $1}'); do
    grep -q "^\.SS $command\$" "$man_page" || problem "the manual page has no section for $command"
  done
fi

if [ "$failures" -ne 0 ]; then
  echo "check-install: $failures problem(s)" >&2
  exit 1
fi
echo "check-install: the installed tree works (kept in $work)"
