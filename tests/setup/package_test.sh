#!/usr/bin/env bash
# The Debian package, made with cpack from the finished build tree (nothing
# is rebuilt): its name, its Depends from dpkg-shlibdeps, its file list, and
# its programs run from a root it is unpacked into with dpkg -x.
set -euo pipefail
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1) ||
  { cat "$tmp/cpack.log"; fail "cpack -G DEB"; }
version=$("$build/bin/vdx" --version | sed 's/^vdx (Vardex) //')
deb=$tmp/out/vardex_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || fail "no $deb: $(ls "$tmp/out")"

# Depends: found by dpkg-shlibdeps, so the C library, Qt and zlib with versions.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libqt6core6 libqt6widgets6 libqt6dbus6 zlib1g libsqlite3-0; do
  [[ ", $depends" == *", $library (>= "* ]] || fail "Depends lacks $library: $depends"
done

files=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
for file in /usr/bin/Vdx32 /usr/bin/vdx /usr/share/vardex/Language.ini \
  /usr/share/vardex/Language.de.ini /usr/share/applications/vardex.desktop \
  /usr/share/icons/hicolor/scalable/apps/vardex.svg /usr/share/man/man1/vdx.1 \
  /usr/share/man/man1/Vdx32.1 /usr/share/bash-completion/completions/vdx \
  /usr/share/bash-completion/completions/Vdx32 /usr/share/metainfo/org.vardex.vardex.metainfo.xml; do
  grep -qxF "$file" <<<"$files" || fail "the package lacks $file"
done
# Nothing from the build tree: no tests, no build paths.
grep -vE '^/usr/(bin|share)(/|$)|^/usr/?$|^/?$' <<<"$files" && fail "files outside /usr/bin and /usr/share"

root=$tmp/root
dpkg -x "$deb" "$root"
grep -qxF 'Exec="/usr/bin/Vdx32"' "$root/usr/share/applications/vardex.desktop" ||
  fail "the menu entry does not start /usr/bin/Vdx32"
export XDG_CONFIG_HOME=$tmp/config
unset VARDEX_HOME VARDEX_ENGINE_CONFIG
out=$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/Vdx32" --version) || fail "Vdx32 --version: $out"
[[ $out == "Vdx32 (Vardex) $version" ]] || fail "Vdx32 --version: $out"
out=$("$root/usr/bin/vdx" --help) || fail "vdx --help: $out"
[[ $out == *"vdx verify"* ]] || fail "vdx --help: $out"
echo "ok"
