#!/usr/bin/env bash
# Builds the Debian package (tools/package.sh), lints it, installs it into this
# machine with apt, uses what it installed, and removes it again. Needs root or
# sudo; meant for CI and release checks.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)

# The build's output goes on to our stderr and its last line names the package.
# Not `tee /dev/stderr`: reopening it truncates a log file stderr is sent to.
deb=$("$top/tools/package.sh" "$@" | {
    last=
    while IFS= read -r line; do
        printf '%s\n' "$line" >&2
        last=$line
    done
    printf '%s\n' "$last"
})

echo "package-check: lintian"
# Errors fail; warnings are shown.
lintian --fail-on error "$deb"

if dpkg-query -W -f='${Status}' voicelib 2>/dev/null | grep -q 'install ok installed'; then
    echo "package-check: voicelib is already installed on this machine; not touching it" >&2
    exit 1
fi
echo "package-check: installing $deb"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=600 "$deb" >/dev/null
remove() { "${sudo[@]}" apt-get remove -y -q --purge -o DPkg::Lock::Timeout=600 voicelib >/dev/null; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"; remove' EXIT

echo "package-check: the installed files"
dpkg -L voicelib | while read -r f; do [[ -d "$f" ]] || echo "$f"; done | sort
dpkg-query -W -f='Depends: ${Depends}\nRecommends: ${Recommends}\n' voicelib

echo "package-check: voicelib --help; voicelib build on the example voices"
/usr/bin/voicelib --help >/dev/null
/usr/bin/voicelib build -o "$tmp/examples.bin" "$top"/examples/voices/*.wav
/usr/bin/voicelib info "$tmp/examples.bin" | head -n 3
printf 'name,text\nwelcome,欢迎\nbye,goodbye\n' > "$tmp/script.csv"
/usr/bin/voicelib speak -o "$tmp/spoken" --list "$tmp/spoken.ini" "$tmp/script.csv"
/usr/bin/voicelib check "$tmp/spoken.ini"

echo "package-check: the message catalogs, and the command line in Chinese"
dpkg -L voicelib | grep -E '/locale/(en|zh_CN)/LC_MESSAGES/voicelib\.mo$'
info=$(LANGUAGE=zh_CN LANG=C.UTF-8 /usr/bin/voicelib info "$tmp/examples.bin")
grep -q '^条目' <<<"$info"

echo "package-check: voicelib convert, through the installed conversion module"
dpkg -L voicelib | grep '/voicelib-conversion\.so$'
/usr/bin/voicelib convert -o "$tmp/converted" "$top"/examples/voices/*.wav | tail -n 1

echo "package-check: voicelib-gui offscreen, closed once shown, Qt Multimedia not loaded at start"
dpkg -L voicelib | grep '/voicelib-player\.so$'
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen VOICELIB_GUI_CLOSE_AFTER_SHOW=1 LD_DEBUG=libs \
    timeout 60 /usr/bin/voicelib-gui 2>"$tmp/gui-libs"
grep -q 'libQt6Widgets' "$tmp/gui-libs"
! grep -q 'libQt6Multimedia' "$tmp/gui-libs"

echo "package-check: man pages, completion, desktop entry, AppStream data, icons"
man -w voicelib voicelib-gui
bash -n /usr/share/bash-completion/completions/voicelib
bash -c 'source /usr/share/bash-completion/completions/voicelib 2>/dev/null; complete -p voicelib'
desktop-file-validate /usr/share/applications/voicelib.desktop
appstreamcli validate --no-net /usr/share/metainfo/*voicelib*.metainfo.xml
for size in 48 128 256; do
    file -b "/usr/share/icons/hicolor/${size}x${size}/apps/voicelib.png" | grep -q "PNG image data, $size x $size"
done
test -s /usr/share/icons/hicolor/scalable/apps/voicelib.svg

remove
trap 'rm -rf "$tmp"' EXIT
! dpkg-query -W -f='${Status}' voicelib 2>/dev/null | grep -q 'install ok installed'
test ! -e /usr/bin/voicelib
echo "package-check: installed, used and removed $(basename "$deb")"
