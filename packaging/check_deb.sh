#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks what it installs and what
# it depends on.
#
#   check_deb.sh BUILD_DIR
set -euo pipefail

[[ $# -eq 1 ]] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)

for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate; do
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
    ./usr/share/icons/hicolor/48x48/apps/tarnwick-logout.png; do
    grep -qxF -- "-rw-r--r-- $path" <<<"$contents" ||
        grep -qxF -- "-rwxr-xr-x $path" <<<"$contents" || fail "does not install $path"
done
grep -qxF -- "-rwxr-xr-x ./usr/bin/tarnwick-logout" <<<"$contents" ||
    fail "/usr/bin/tarnwick-logout is not executable"
# Only the program: no test copy of it, no build leftovers.
others=$(grep -v -e '/$' -e ' ./usr/bin/tarnwick-logout$' -e ' ./usr/share/applications/' \
    -e ' ./usr/share/icons/hicolor/' <<<"$contents" || true)
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
recommends=$(dpkg-deb -f "$deb" Recommends)
[[ $recommends == *firebird3.0-server-core* ]] ||
    fail "Recommends lacks firebird3.0-server-core (has: $recommends)"

((failures == 0)) || exit 1
echo "package: contents and dependencies as expected"
