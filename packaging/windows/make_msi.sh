#!/usr/bin/env bash
# Builds the Windows installer package with wixl (msitools):
#   make_msi.sh VERSION PROGRAM.exe OUT.msi
# With STRIP naming the cross strip tool, the packaged copy is stripped, as the
# zip's is.
# VERSION is the CMake project version, the one the program's version resource
# carries. wixl takes a file's source only as a name relative to the folder it
# runs in, so the program is staged under the name the package gives it.
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 VERSION PROGRAM.exe OUT.msi" >&2; exit 2; }
version=$1 program=$(realpath "$2") out=$(realpath -m "$3")
here=$(cd "$(dirname "$0")" && pwd)
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+(\.[0-9]+)?$ ]] || { echo "not a version: $version" >&2; exit 2; }
[ -f "$program" ] || { echo "no program at $program" >&2; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$program" "$stage/InkoraUpdater.exe"
[ -z "${STRIP:-}" ] || "$STRIP" "$stage/InkoraUpdater.exe"
rm -f "$out"
(cd "$stage" && wixl -a x64 -D Version="$version" -o "$out.tmp" "$here/InkoraUpdater.wxs")
# wixl has no RemoveFile element. Mode 2: the log goes when its component is
# removed, i.e. at uninstall; an upgrade keeps the component and the log.
# The same for the file a full log is moved to.
for row in "ProgramLog|InkoraUpdater.log" "ProgramOldLog|InkoraUpdater.old.log"; do
  msibuild "$out.tmp" -q "INSERT INTO RemoveFile (FileKey, Component_, FileName, DirProperty, InstallMode) \
    VALUES ('${row%%|*}', 'ProgramComponent', '${row#*|}', 'INSTALLDIR', 2)"
done
mv "$out.tmp" "$out"
