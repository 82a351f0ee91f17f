#!/usr/bin/env bash
# Sets up the machine, builds the demo Setup and runs the program's main job:
# a silent installation of the demo ORVI into a sandbox folder (nothing
# outside it is touched), then shows what was installed: the files, the
# uninstall log, the registry entry and the shortcuts.
#
#   scripts/run.sh [SANDBOX_FOLDER]     (default: build/demo-machine, made afresh)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/bootstrap.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target demo_setup setup-pack setup-registry

# Prints a text file the setup wrote (UTF-16LE or UTF-8, with or without a
# byte order mark) as UTF-8 with LF line ends.
show_text() {
  case $(head -c 2 "$1" | od -An -tx1 | tr -d ' ') in
    fffe) iconv -f UTF-16LE -t UTF-8 "$1" | sed '1s/^\xEF\xBB\xBF//' | tr -d '\r' ;;
    *) sed '1s/^\xEF\xBB\xBF//' "$1" | tr -d '\r' ;;
  esac
}

machine=$(realpath -m "${1:-build/demo-machine}")
rm -rf "$machine"
mkdir -p "$machine"
export ORVI_SETUP_SANDBOX=$machine

echo
echo "== Installing the demo ORVI: build/demo/Setup /AUTO /SILENT (sandbox: $machine) =="
status=0
build/demo/Setup /AUTO /SILENT || status=$?
echo "exit status: $status"
dest=$machine/opt/ORVI
if [[ $status -ne 0 || ! -d $dest ]]; then
  exit "$status"
fi

echo
echo "== Installed files ($dest) =="
(cd "$dest" && find . -type f -printf '%10s  %P\n' | sort -k2)

echo
echo "== Uninstall log (Uninstall.dat -> Uninstall.ini) =="
log=$(mktemp -d)
build/tools/setup-pack/setup-pack extract "$dest/Uninstall.dat" "$log" >/dev/null
show_text "$log/Uninstall.ini"
rm -rf "$log"

echo
echo "== Registry entry =="
build/tools/setup-registry/setup-registry

echo
echo "== Shortcuts =="
(cd "$machine" && find . -name '*.desktop' -printf '%P\n' | sort)

echo
echo "== ORVI.ini =="
show_text "$dest/ORVI.ini"

echo
echo "To uninstall it again:  ORVI_SETUP_SANDBOX=$machine $dest/Uninstall /AUTO /SILENT"
