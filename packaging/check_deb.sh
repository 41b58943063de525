#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks what it installs and what
# it depends on, then has lintian and appstreamcli judge it: any error or warning fails.
#
#   check_deb.sh BUILD_DIR
set -euo pipefail

[[ $# -eq 1 ]] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)

for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate lintian appstreamcli readelf; do
    command -v "$tool" >/dev/null || { echo "package: $tool is missing; run scripts/setup" >&2; exit 1; }
done

failures=0
fail() { echo "package: $*" >&2; failures=$((failures + 1)); }

work=$(mktemp -d /tmp/tw-package.XXXXXX)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; echo "package: cpack failed" >&2; exit 1; }
debs=("$work"/*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || { echo "package: expected one .deb, got: ${debs[*]}" >&2; exit 1; }
deb=${debs[0]}
echo "package: $(basename "$deb")"

contents=$(dpkg-deb -c "$deb" | awk '{ print $1, $NF }')
for path in ./usr/bin/tarnwick-logout \
    ./usr/share/applications/tarnwick-logout.desktop \
    ./usr/share/icons/hicolor/scalable/apps/tarnwick-logout.svg \
    ./usr/share/icons/hicolor/48x48/apps/tarnwick-logout.png \
    ./usr/share/metainfo/invalid.tarnwick.logout.metainfo.xml \
    ./usr/share/man/man1/tarnwick-logout.1.gz \
    ./usr/share/doc/tarnwick-logout/copyright \
    ./usr/share/doc/tarnwick-logout/changelog.gz; do
    grep -qxF -- "-rw-r--r-- $path" <<<"$contents" ||
        grep -qxF -- "-rwxr-xr-x $path" <<<"$contents" || fail "does not install $path"
done
grep -qxF -- "-rwxr-xr-x ./usr/bin/tarnwick-logout" <<<"$contents" ||
    fail "/usr/bin/tarnwick-logout is not executable"
# Only the program and its data: no test copy of it, no build leftovers.
others=$(grep -v -e '/$' -e ' ./usr/bin/tarnwick-logout$' -e ' ./usr/share/applications/' \
    -e ' ./usr/share/icons/hicolor/' -e ' ./usr/share/metainfo/invalid.tarnwick.logout.metainfo.xml$' \
    -e ' ./usr/share/man/man1/tarnwick-logout.1.gz$' -e ' ./usr/share/doc/tarnwick-logout/' \
    <<<"$contents" || true)
[[ -z $others ]] || fail "installs more than expected: $others"

# The entry as the desktop reads it from the installed package.
dpkg-deb -x "$deb" "$work/root"
entry=$work/root/usr/share/applications/tarnwick-logout.desktop
if [[ -f $entry ]]; then
    for line in "Type=Application" "Name=ログアウト処理" "Exec=tarnwick-logout" \
        "Icon=tarnwick-logout" "Terminal=false"; do
        grep -qxF "$line" "$entry" || fail "the .desktop entry lacks '$line'"
    done
    grep -qE '^Categories=.*Database;' "$entry" || fail "the .desktop entry is not in Database"
    desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
fi

# Depends as a list of alternatives groups, versions dropped: "a (>= 1) | b" -> "a | b".
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed -e 's/([^)]*)//g' -e 's/  */ /g' \
    -e 's/^ //' -e 's/ $//')
for wanted in libqt6widgets6 libqt6gui6 qt6-qpa-plugins libfbclient2 \
    "fonts-noto-cjk | fonts-japanese-gothic"; do
    grep -qxF -- "$wanted" <<<"$depends" || fail "Depends lacks '$wanted' (has: $(dpkg-deb -f "$deb" Depends))"
done
# The embedded engine it recommends is of the major version of the client it was built
# against, the one installed here.
client_major=$(dpkg-query -W -f='${Version}' libfbclient2 | sed -E 's/^([0-9]+:)?([0-9]+).*/\2/')
recommends=$(dpkg-deb -f "$deb" Recommends)
[[ $recommends == *"firebird$client_major.0-server-core"* ]] ||
    fail "Recommends lacks firebird$client_major.0-server-core (has: $recommends)"

# The program finds its libraries where the system keeps them.
if [[ -f $work/root/usr/bin/tarnwick-logout ]]; then
    runpath=$(readelf -d "$work/root/usr/bin/tarnwick-logout" | grep -E '\((RPATH|RUNPATH)\)' || true)
    [[ -z $runpath ]] || fail "the installed program has a run path: $runpath"
fi

# Software-centre metadata, and the menu entry it launches, which must be in the package.
metainfo=$work/root/usr/share/metainfo/invalid.tarnwick.logout.metainfo.xml
if [[ -f $metainfo ]]; then
    appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects the metadata"
    # The installed tree as a software centre reads it: also checks the file's name
    # against the component id.
    appstreamcli validate-tree --no-net "$work/root" || fail "appstreamcli rejects the installed tree"
    launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
    [[ -n $launchable && -f $work/root/usr/share/applications/$launchable ]] ||
        fail "the metadata launches '$launchable', which the package does not install"
fi

# Every tag lintian prints at warning level or above is a failure; an accepted one
# belongs in an override beside its reason, not here.
if ! lintian_out=$(lintian --fail-on error,warning --display-level '>=warning' "$deb") ||
    [[ -n $lintian_out ]]; then
    echo "$lintian_out" >&2
    fail "lintian reports the above"
fi

((failures == 0)) || exit 1
echo "package: contents, dependencies, metadata and lintian as expected"
