#!/usr/bin/env bash
# The installed program: "cmake --install" puts every file in place and the
# desktop validators accept them; the installed program answers --version
# without a display and, run as a user, writes to the XDG folders and the
# videos folder; the Debian package made by CPack unpacks to a program that
# runs.  Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1
scratch=$(mktemp -d /tmp/qmr_install_XXXXXX)
trap 'rm -rf "$scratch"' EXIT
failures=0
passes=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@" >"$scratch/out" 2>&1; then
    echo "ok: $what"
    passes=$((passes + 1))
  else
    echo "FAILED: $what"
    cat "$scratch/out"
    failures=$((failures + 1))
  fi
}

prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" --strip >/dev/null
id=org.quelmar.VideoCapture
for f in bin/qmr share/qmr/index.htm share/qmr/alarm.wav share/qmr/demo.ini \
  share/applications/$id.desktop share/metainfo/$id.metainfo.xml share/man/man1/qmr.1.gz \
  share/doc/qmr/copyright; do
  check "installed $f" test -s "$prefix/$f"
done
for size in 16 22 24 32 48 64 128 256; do
  icon=$prefix/share/icons/hicolor/${size}x${size}/apps/qmr.png
  check "icon ${size}x${size} is a PNG of that size" \
    bash -c "file '$icon' | grep -q 'PNG image data, $size x $size'"
done
check "desktop-file-validate" desktop-file-validate "$prefix/share/applications/$id.desktop"
check "appstreamcli validate" appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml"
check "the manual page formats without warnings" \
  bash -c "zcat '$prefix/share/man/man1/qmr.1.gz' | groff -man -Tutf8 -ww -z 2>&1 | (! grep .)"
check "installed --version without a display" \
  bash -c "env -u DISPLAY -u WAYLAND_DISPLAY '$prefix/bin/qmr' --version | grep -q '^qmr '"

# Run as a user of the installed program: the XDG folders (set to scratch
# folders here) and the videos folder named in user-dirs.dirs.
home=$scratch/home
mkdir -p "$home/xdg-config"
printf 'XDG_VIDEOS_DIR="$HOME/Movies"\n' >"$home/xdg-config/user-dirs.dirs"
run_env=(env -u QMR_HOME HOME="$home" XDG_CONFIG_HOME="$home/xdg-config"
  XDG_STATE_HOME="$home/xdg-state" SDL_AUDIODRIVER=dummy)
if [ -n "${DISPLAY:-}" ]; then
  "${run_env[@]}" "$prefix/bin/qmr" --minimized >"$scratch/run.txt" 2>&1 &
  pid=$!
  sleep 4
  kill -TERM $pid
  check "the installed program ends on SIGTERM" wait $pid
  check "settings folder in XDG_CONFIG_HOME" test -d "$home/xdg-config/qmr"
  check "log folder in XDG_STATE_HOME" test -d "$home/xdg-state/qmr"
  check "recordings in the videos folder" test -d "$home/Movies/Quelmar/AVI"
  check "pictures in the videos folder" test -d "$home/Movies/Quelmar/PIC"
  check "nothing written beside the program" bash -c "! ls '$prefix/bin' | grep -qv '^qmr$'"
else
  echo "skipped: the installed program on a display (no DISPLAY)"
fi

# The Debian package: made by CPack, unpacked into a scratch root.
if command -v dpkg-deb >/dev/null; then
  check "cpack makes the package" cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/pkg"
  deb=$(ls "$scratch"/pkg/qmr_*.deb 2>/dev/null | head -n 1 || true)
  check "the package lists its library dependencies" \
    bash -c "dpkg-deb -f '$deb' Depends | grep -q libwxgtk"
  check "the package unpacks" dpkg -x "$deb" "$scratch/root"
  check "the unpacked program answers --version" \
    bash -c "env -u DISPLAY '$scratch/root/usr/bin/qmr' --version | grep -q '^qmr '"
  check "the unpacked program finds its files" test -s "$scratch/root/usr/share/qmr/demo.ini"
fi

echo "$passes passed, $failures failed"
[ $failures -eq 0 ]
