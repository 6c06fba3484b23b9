#!/bin/sh
# Installs the build as a user would get it and checks what lands where:
#  1. `cmake --install` into a throw-away prefix: both programs, the desktop
#     entry and AppStream metainfo (each passing its validator), the icon in
#     every hicolor size at that size, and as SVG;
#  2. the Debian package CPack makes: its declared dependencies are all
#     installable here, its files unpack into a throw-away root, and the app
#     from it starts (offscreen) and makes its private notes file.
# Usage: check-install.sh BUILD_DIR APP_ID
set -eu
build=$(cd "$1" && pwd)
app_id=$2
work=$(mktemp -d)
app=""
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-install.sh: $*" >&2; exit 1; }
for tool in desktop-file-validate appstreamcli cpack dpkg-deb identify; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is not installed"
done

# 1. The install rules.
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log" >&2; fail "cmake --install failed"; }
for file in bin/toviknote bin/tovik-sync-server; do
    [ -x "$prefix/$file" ] || fail "$file is not installed"
done
desktop="$prefix/share/applications/$app_id.desktop"
metainfo="$prefix/share/metainfo/$app_id.metainfo.xml"
[ -f "$desktop" ] || fail "no desktop entry"
[ -f "$metainfo" ] || fail "no AppStream metainfo"
desktop-file-validate "$desktop" || fail "the desktop entry does not validate"
appstreamcli validate --no-net --explain "$metainfo" || fail "the metainfo does not validate"
grep -qx "Icon=$app_id" "$desktop" || fail "the desktop entry names another icon"
grep -qx "Exec=toviknote" "$desktop" || fail "the desktop entry starts another program"
[ -f "$prefix/share/icons/hicolor/scalable/apps/$app_id.svg" ] || fail "no scalable icon"
for size in 16 22 24 32 48 64 128 256 512; do
    png="$prefix/share/icons/hicolor/${size}x${size}/apps/$app_id.png"
    [ -f "$png" ] || fail "no ${size}x${size} icon"
    [ "$(identify -format '%wx%h' "$png")" = "${size}x${size}" ] || fail "the ${size}x${size} icon has another size"
done

# 2. The package.
(cd "$work" && cpack -G DEB -B "$work/package" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1) \
    || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$work"/package/toviknote_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "cpack made no .deb"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for needed in libqt6core6 libqt6quick6 libsqlite3-0 qml6-module-qtquick-controls qt6-qpa-plugins; do
    echo "$depends" | grep -q "$needed" || fail "the package does not depend on $needed"
done
# Every dependency is a Debian 12 package that this machine has.
echo "$depends" | tr ',' '\n' | sed 's/^ *//; s/ .*//; s/|.*//' | while read -r name; do
    [ -n "$name" ] || continue
    dpkg-query -W -f='${Status}\n' "$name" 2>/dev/null | grep -q "install ok installed" \
        || fail "dependency $name is not an installed package here"
done
# dpkg's own verdict needs its lock, which only root may take.
if [ "$(id -u)" -eq 0 ]; then
    dpkg --dry-run -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg would not install the package"; }
fi
root="$work/root"
dpkg-deb -x "$deb" "$root"
for file in usr/bin/toviknote usr/bin/tovik-sync-server "usr/share/applications/$app_id.desktop" \
            "usr/share/metainfo/$app_id.metainfo.xml" "usr/share/icons/hicolor/48x48/apps/$app_id.png" \
            "usr/share/icons/hicolor/scalable/apps/$app_id.svg"; do
    [ -e "$root/$file" ] || fail "the package lacks /$file"
done

# The packaged app starts and makes its notes file, owner-only.
home="$work/home"
mkdir "$home"
HOME="$home" QT_QPA_PLATFORM=offscreen DBUS_SESSION_BUS_ADDRESS= "$root/usr/bin/toviknote" >"$work/app.log" 2>&1 &
app=$!
tries=0
while [ ! -s "$home/.tovik/tovik.db" ]; do
    kill -0 "$app" 2>/dev/null || { cat "$work/app.log" >&2; fail "the packaged app ended at start"; }
    tries=$((tries + 1))
    [ "$tries" -gt 200 ] && fail "the packaged app made no notes file"
    sleep 0.1
done
sleep 1
kill -0 "$app" 2>/dev/null || { cat "$work/app.log" >&2; fail "the packaged app ended"; }
[ "$(stat -c %a "$home/.tovik/tovik.db")" = 600 ] || fail "the notes file is not owner-only"
kill -TERM "$app"
wait "$app" || fail "the packaged app did not end cleanly"
app=""
echo "check-install.sh: installed files, package and start all fine"
