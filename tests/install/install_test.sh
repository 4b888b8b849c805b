#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and uses it the way an outside project
# would, with nothing from the source tree on any path:
#   - the installed headers: no detail/ folder, every include names an installed header,
#     and each header compiles on its own against the prefix alone;
#   - the shared libraries carry a SONAME, and the simulation libraries need no SDL;
#   - every examples/*/ with a CMakeLists.txt configures with find_package(gelsim) from the
#     prefix, builds (shared and static), and passes the tests it registers (its run);
#   - every installed shared library finds the others beside it ($ORIGIN RUNPATH);
#   - one program per exported library (tests/install/each_target), linked to it alone,
#     shared and static, runs; so do C programs from a project that enables only C
#     (tests/install/c_only) with the C interface static, shared and with pictures;
#   - a program that only simulates builds through pkg-config (gelsim.pc), static and
#     shared, runs with the same result both ways, and has no libSDL2 among its NEEDED
#     entries; the C++ example also builds through gelsim-platform.pc; a C program builds
#     through gelsim-c.pc, shared and static, with the same result as through CMake.
# Nothing runs with LD_LIBRARY_PATH: what is installed must find its own libraries.
# Usage: tests/install/install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
unset LD_LIBRARY_PATH
build=$(readlink -f "$1")
src=$(readlink -f "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/gelsim-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
jobs=${GELSIM_INSTALL_TEST_JOBS:-2}
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# `... | contains PATTERN`: whether the input has a line matching PATTERN. Unlike grep -q
# it reads to the end, so the writer never dies of SIGPIPE, which pipefail would count as
# the pipeline failing, and a match would pass as none.
contains() {
  local text
  text=$(cat)
  grep -q -- "$1" <<<"$text"
}

cmake --install "$build" --prefix "$prefix" >/dev/null
inc=$prefix/include/gelsim
lib=$prefix/lib
echo "installed: $(find "$prefix" -type f | wc -l) files under the prefix"

# --- headers ------------------------------------------------------------------------
if [ -n "$(find "$prefix" -path '*/detail*')" ]; then
  fail "internal headers installed: $(find "$prefix" -path '*/detail*' | tr '\n' ' ')"
fi
while IFS= read -r header; do
  while IFS= read -r included; do
    [ -f "$inc/$included" ] || fail "${header#"$inc"/} includes $included, which is not installed"
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$header")
done < <(find "$inc" -name '*.h')
# Each header on its own, with only the prefix on the include path.
if ! (cd "$inc" && find . -name '*.h' -printf '%P\n' | sort |
      xargs -P "$jobs" -I{} sh -c 'printf "#include \"%s\"\n" "{}" |
        c++ -std=c++20 -fsyntax-only -Wall -Wextra -Werror -I "$0" -x c++ - ||
        { echo "  header does not compile on its own: {}" >&2; exit 255; }' "$inc"); then
  fail "installed headers do not all compile on their own"
fi

# --- libraries ------------------------------------------------------------------------
needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }
for name in gelsim gelsim_runtime gelsim_platform; do
  so=$lib/lib$name.so
  [ -f "$lib/lib$name.a" ] || fail "lib$name.a not installed"
  soname=$(readelf -d "$so" 2>/dev/null | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  [[ "$soname" == lib$name.so.* ]] || fail "lib$name.so has no versioned SONAME (got '$soname')"
  [ -f "$lib/$soname" ] || fail "lib$name.so: $soname is not installed"
done
for name in gelsim gelsim_runtime; do
  if needed "$lib/lib$name.so" | contains SDL; then fail "lib$name.so needs SDL: $(needed "$lib/lib$name.so" | tr '\n' ' ')"; fi
done
for archive in "$lib"/libgelsim.a "$lib"/libgelsim_runtime.a "$lib"/libgelsim_c.a; do
  [ -f "$archive" ] || continue
  if nm -u "$archive" 2>/dev/null | contains ' SDL_\| Mix_'; then fail "$(basename "$archive") refers to SDL"; fi
done
# The checks themselves must be able to see SDL where it is.
needed "$lib/libgelsim_platform.so" | contains '^libSDL2' || fail "libgelsim_platform.so shows no SDL: the NEEDED check reads nothing"
nm -u "$lib/libgelsim_platform.a" 2>/dev/null | contains ' SDL_' || fail "libgelsim_platform.a shows no SDL: the archive check reads nothing"
# A shared library finds the ones it needs beside itself, wherever the prefix is.
runpath() { readelf -d "$1" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p'; }
for so in "$lib"/lib*.so.*; do
  [ "$(runpath "$so")" = '$ORIGIN' ] || fail "$(basename "$so") has RUNPATH '$(runpath "$so")', not \$ORIGIN"
done

# --- outside projects through the CMake package ---------------------------------------------
# Each with the shared libraries (the package's default) and with the static ones.
for dir in "$src"/examples/*/; do
  [ -f "$dir/CMakeLists.txt" ] || continue
  name=$(basename "$dir")
  for kind in shared static; do
    out=$work/example-$name-$kind
    static=OFF
    [ "$kind" = static ] && static=ON
    if cmake -S "$dir" -B "$out" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release \
             -DGELSIM_USE_STATIC_LIBS=$static >"$out.log" 2>&1 &&
       cmake --build "$out" -j"$jobs" >>"$out.log" 2>&1 &&
       (cd "$out" && ctest --output-on-failure >>"$out.log" 2>&1); then
      echo "example $name ($kind libraries): built against the prefix and ran"
    else
      cat "$out.log" >&2
      fail "example $name ($kind libraries)"
    fi
  done
done

# --- every exported library on its own -------------------------------------------------------
# A shared program must load only the prefix's libraries (no copy from elsewhere), a static
# one none of them.
loads_prefix() { ldd "$1" | contains "$lib/libgelsim${2:-}"; }
loads_gelsim() { ldd "$1" | contains 'libgelsim'; }
built() {  # built NAME SOURCE_DIR [cmake options...]: configures and builds into $work/NAME
  local name=$1 dir=$2
  shift 2
  if cmake -S "$dir" -B "$work/$name" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release "$@" \
       >"$work/$name.log" 2>&1 &&
     cmake --build "$work/$name" -j"$jobs" >>"$work/$name.log" 2>&1; then
    return 0
  fi
  cat "$work/$name.log" >&2
  fail "$name did not build against the prefix"
  return 1
}
before=$failures
if built each_target "$src/tests/install/each_target"; then
  for name in runtime gelsim platform picture; do
    for kind in shared static; do
      exe=$work/each_target/${name}_$kind
      if ! result=$("$exe" 2>&1); then
        fail "gelsim::${name}_$kind: the program linked to it alone does not run: $result"
        continue
      fi
      if [ "$kind" = shared ]; then
        loads_prefix "$exe" || fail "gelsim::${name}_shared: the program loads no shared gelsim library from the prefix"
      elif loads_gelsim "$exe"; then
        fail "gelsim::${name}_static: the program loads a shared gelsim library"
      fi
    done
    [ "$("$work/each_target/${name}_shared")" = "$("$work/each_target/${name}_static")" ] ||
      fail "gelsim::$name: shared and static programs print different results"
  done
  [ "$failures" -ne "$before" ] || echo "each exported C++ library, shared and static: linked alone and ran"
fi
c_result=
before=$failures
if built c_only "$src/tests/install/c_only"; then
  grep -q '^CMAKE_CXX_COMPILER:' "$work/c_only/CMakeCache.txt" && fail "the C-only project had C++ enabled for it"
  for name in gelsim_c gelsim_c_shared gelsim_c_picture; do
    "$work/c_only/${name}_program" >/dev/null 2>&1 || fail "gelsim::$name from a C-only project does not run"
  done
  loads_gelsim "$work/c_only/gelsim_c_program" && fail "gelsim::gelsim_c loads a shared gelsim library"
  loads_gelsim "$work/c_only/gelsim_c_picture_program" && fail "gelsim::gelsim_c_picture loads a shared gelsim library"
  loads_prefix "$work/c_only/gelsim_c_shared_program" _c.so ||
    fail "gelsim::gelsim_c_shared: the program does not load libgelsim_c.so from the prefix"
  c_result=$("$work/c_only/gelsim_c_program" 2>&1) || true
  [ "$c_result" = "$("$work/c_only/gelsim_c_shared_program" 2>&1)" ] ||
    fail "C interface: static and shared programs print different results"
  [ "$failures" -ne "$before" ] ||
    echo "C-only project: gelsim::gelsim_c, gelsim_c_shared and gelsim_c_picture linked and ran ($c_result)"
fi

# --- pkg-config ------------------------------------------------------------------------------
export PKG_CONFIG_PATH=$lib/pkgconfig
sim=$work/simulate_only
c++ -std=c++20 -O2 -Wall -Wextra -Werror $(pkg-config --cflags gelsim) -c "$src/tests/install/simulate_only.cpp" -o "$sim.o"
c++ "$sim.o" -o "$sim-shared" -Wl,-rpath,"$lib" $(pkg-config --libs gelsim)
c++ "$sim.o" -o "$sim-static" "$lib/libgelsim.a" "$lib/libgelsim_runtime.a" \
  $(pkg-config --static --libs-only-l --libs-only-other gelsim | sed 's/-lgelsim_runtime//; s/-lgelsim//')
shared_result=$("$sim-shared") || fail "simulate-only program (shared): $shared_result"
static_result=$("$sim-static") || fail "simulate-only program (static): $static_result"
[ "$shared_result" = "$static_result" ] || fail "static and shared links differ: '$static_result' vs '$shared_result'"
for exe in "$sim-shared" "$sim-static"; do
  if needed "$exe" | contains '^libSDL2'; then fail "$(basename "$exe") needs SDL: $(needed "$exe" | tr '\n' ' ')"; fi
  # Loaded libraries too (what the dynamic loader really brings in).
  if ldd "$exe" | contains 'libSDL2'; then fail "$(basename "$exe") loads SDL"; fi
done
# The C interface's own shared library carries no window system either (the C example
# draws a picture, so it links the platform on purpose).
if needed "$lib/libgelsim_c.so" | contains SDL; then fail "libgelsim_c.so needs SDL"; fi
if nm -D --defined-only "$lib/libgelsim_c.so" | awk '{print $3}' | grep -v '^gelsim_' | contains .; then
  fail "libgelsim_c.so exports names other than gelsim_*: $(nm -D --defined-only "$lib/libgelsim_c.so" | awk '{print $3}' | grep -v '^gelsim_' | head -3 | tr '\n' ' ')"
fi
echo "simulate-only: $shared_result; NEEDED $(needed "$sim-shared" | tr '\n' ' ')"
echo "simulate-only (static): NEEDED $(needed "$sim-static" | tr '\n' ' ')"

c++ -std=c++20 -O2 -Wall -Wextra -Werror $(pkg-config --cflags gelsim-platform) "$src/examples/cpp/lattice.cpp" \
  -o "$work/lattice-pc" -Wl,-rpath,"$lib" $(pkg-config --libs gelsim-platform)
(cd "$work" && ./lattice-pc "$work/lattice-pc.png" >/dev/null) || fail "lattice through pkg-config"
[ -s "$work/lattice-pc.png" ] || fail "lattice through pkg-config wrote no picture"

# C through gelsim-c.pc: shared (the C interface's own library), and static with the
# archives in place of the -lgelsim* items, every other library coming from --static.
cprog=$work/c-pc
if cc -std=c11 -O2 -Wall -Wextra -Werror "$src/tests/install/c_only/c_only.c" -o "$cprog-shared" -Wl,-rpath,"$lib" \
      $(pkg-config --cflags --libs gelsim-c) 2>"$cprog.log" &&
   cc -std=c11 -O2 -Wall -Wextra -Werror "$src/tests/install/c_only/c_only.c" -o "$cprog-static" \
      $(pkg-config --static --cflags --libs gelsim-c | sed "s|-lgelsim\([a-z_]*\)|$lib/libgelsim\1.a|g") 2>>"$cprog.log"; then
  for kind in shared static; do
    result=$("$cprog-$kind" 2>&1) || fail "C program through gelsim-c.pc ($kind) does not run: $result"
    [ -z "$c_result" ] || [ "$result" = "$c_result" ] ||
      fail "C program through gelsim-c.pc ($kind) prints '$result', through CMake '$c_result'"
  done
  loads_prefix "$cprog-shared" _c.so || fail "gelsim-c.pc: the shared program does not load libgelsim_c.so"
  loads_gelsim "$cprog-static" && fail "gelsim-c.pc --static: the program loads a shared gelsim library"
  echo "C through gelsim-c.pc: shared and static built ($(pkg-config --static --libs gelsim-c))"
else
  cat "$cprog.log" >&2
  fail "C program through gelsim-c.pc"
fi

if [ "$failures" -ne 0 ]; then
  echo "install test: $failures failure(s)" >&2
  exit 1
fi
echo "install test: all checks passed"
