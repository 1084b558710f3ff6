#!/usr/bin/env bash
# The programs built in CMake's build types with g++ and with clang++, warnings as errors: each
# optimisation level inlines differently, and so each compiler warns about different code.
# Stops at the first build that fails and names its type and compiler.
# Usage: build_types.sh OUT [TYPE...]: one build tree per pair, OUT/<compiler>-<type>; the types
# Release Debug RelWithDebInfo MinSizeRel by default. COMPILERS (default "gcc clang") and JOBS
# (default 2) from the environment. ccache, when installed, serves repeated runs; a fresh
# machine gains nothing from it, since no two of these builds share their flags.
set -euo pipefail
source=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:?usage: build_types.sh OUT [TYPE...]}
shift
types=("$@")
[ $# -gt 0 ] || types=(Release Debug RelWithDebInfo MinSizeRel)
launcher=()
command -v ccache >/dev/null &&
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

for type in "${types[@]}"; do
  for compiler in ${COMPILERS:-gcc clang}; do
    case $compiler in
      gcc) cc=gcc cxx=g++ ;;
      clang) cc=clang cxx=clang++ ;;
      *) echo "build_types: unknown compiler $compiler (gcc or clang)" >&2; exit 2 ;;
    esac
    dir=$out/$compiler-$type
    echo "-- $type with $cxx in $dir"
    # Ninja, when installed, keeps both cores busy across the three programs' last steps, which
    # make runs one program at a time: a fifth less time on 2 cores. A tree keeps its generator.
    generator=()
    [ -f "$dir/CMakeCache.txt" ] || ! command -v ninja >/dev/null || generator=(-G Ninja)
    # The tests stay out (no GoogleTest): only the programs and what they link are built.
    if ! { CC=$cc CXX=$cxx cmake -S "$source" -B "$dir" -DCMAKE_BUILD_TYPE="$type" \
      -DNIMBREL_WERROR=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON "${generator[@]}" "${launcher[@]}" \
      >/dev/null &&
      cmake --build "$dir" -j "${JOBS:-2}" --target nimbrel nimbrel-settings nimbrel-describe; }; then
      echo "build_types: the $type build with $cxx failed ($dir)" >&2
      exit 1
    fi
  done
done
