# Sourced by the build scripts. pm_configure DIR ARGS... configures DIR for
# Ninja with the given cache settings; a folder an earlier version of these
# scripts configured for Make is switched over (its cache is dropped, its
# objects are rebuilt). ccache is used when installed.
pm_configure() {
  local dir=$1
  shift
  if [[ -f "$dir/CMakeCache.txt" ]] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$dir/CMakeCache.txt"; then
    rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
  fi
  local launcher=()
  if command -v ccache >/dev/null; then
    # The precompiled headers are only cached when ccache may trust them.
    export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S . -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
}
