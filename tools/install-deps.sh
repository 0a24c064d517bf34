#!/usr/bin/env bash
# Installs with apt-get whatever the build, the panel workflow and the tests
# need and this machine lacks. Does nothing when all is there.
set -euo pipefail
missing() { # prints the packages among "$@" that dpkg does not know as installed
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}
install() { # install [--no-install-recommends] PACKAGE...
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "$@"
}

# The core and its tests: compiler, CMake, GoogleTest; the sanitizer build
# uses g++'s runtimes, the fuzz target clang and libFuzzer.
core=(cmake g++ libgtest-dev clang)
compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null ||
  core+=(libclang-rt-dev)
# The panel workflow and its tests (Debian's /usr/bin/python3 and its
# packages), the Slurm test cluster, and the benchmark's timer and memory
# meter (GNU time); R (Rscript) writes the R/qtl2 objects; libdeflate gzips
# the large tables at twice zlib's speed (tarvel_panel/fast_gzip.py).
panel=(python3 python3-yaml python3-pytest python3-matplotlib python3-pysam python3-numpy
  snakemake slurm-wlm munge hyperfine time r-base-core libdeflate0)
need=($(missing "${core[@]}"))
[ ${#need[@]} -eq 0 ] || install "${need[@]}"
# Snakemake's recommendations (cloud storage clients, CWL, Biopython...) are
# not needed here and would triple the download.
need=($(missing "${panel[@]}"))
[ ${#need[@]} -eq 0 ] || install --no-install-recommends "${need[@]}"

# Snakemake's report: the page embeds Debian's React and ReactDOM (the rest
# it needs is in workflow/report/assets); its test looks at the page in
# Debian's Chromium. Nothing comes from npm: the panel's libraries are
# Debian's packages only.
need=($(missing node-react node-react-dom chromium))
[ ${#need[@]} -eq 0 ] || install --no-install-recommends "${need[@]}"

# The Windows build and its comparison under Wine. In CI they are required;
# elsewhere a machine that cannot install them skips that comparison.
win=($(missing g++-mingw-w64-x86-64 wine wine64))
if [ ${#win[@]} -gt 0 ]; then
  if [ "${CI:-}" = true ]; then
    install "${win[@]}"
  else
    install "${win[@]}" || echo "could not install ${win[*]}: the Windows build will not be tested"
  fi
fi
