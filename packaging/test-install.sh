#!/usr/bin/env bash
# Builds the Debian package of the build tree BUILD, unpacks it into a
# temporary root with dpkg-deb -x and tries what it installs:
#   1. zart-cli --demo serial prints 8 hexadecimal digits, from any directory;
#   2. zart-configurator --demo, with its install directory read-only and a
#      fresh home, writes its settings into $XDG_CONFIG_HOME at exit, no error;
#   3. the desktop entry and the AppStream metainfo validate;
#   4. man -l renders the three man pages;
#   5. the bash completion offers the commands and their arguments;
#   6. lintian, where it is installed, finds no error in the package.
# Exit status 77 (skipped) where the Debian packaging tools are missing.
set -euo pipefail
build=$(cd "${1:?usage: test-install.sh BUILD}" && pwd)

for tool in dpkg-deb dpkg-shlibdeps cpack; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is missing (scripts/setup.sh installs dpkg-dev)"
        exit 77
    fi
done
for tool in desktop-file-validate appstreamcli man file setpriv; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (run scripts/setup.sh)"; exit 1; }
done

tmp=$(mktemp -d)
cleanup() { chmod -R u+w "$tmp" 2>/dev/null || true; rm -rf "$tmp"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# The package, made into the temporary folder so the build tree keeps no trace.
cpack -G DEB -B "$tmp/out" --config "$build/CPackConfig.cmake" >"$tmp/cpack.log" 2>&1 ||
    { cat "$tmp/cpack.log"; fail "cpack"; }
debs=("$tmp"/out/zart-configurator_*_*.deb)
[[ -f ${debs[0]} ]] || fail "no zart-configurator_<version>_<arch>.deb in $(ls "$tmp/out")"
deb=${debs[0]}
echo "package: $(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libqt6serialport6* && $depends == *libqt6widgets6* ]] ||
    fail "Depends lacks the Qt libraries: $depends"
[[ $(dpkg-deb -f "$deb" Recommends) == *qt6-translations-l10n* ]] || fail "Recommends"

root=$tmp/root
dpkg-deb -x "$deb" "$root"
bin=$root/usr/bin
share=$root/usr/share
for f in "$bin"/zart-configurator "$bin"/zart-cli "$bin"/zart-sensor-sim \
         "$share"/applications/zart-configurator.desktop \
         "$share"/icons/hicolor/scalable/apps/zart-configurator.svg \
         "$share"/bash-completion/completions/zart-cli \
         "$share"/man/man1/zart-cli.1.gz "$share"/man/man1/zart-configurator.1.gz \
         "$share"/man/man1/zart-sensor-sim.1.gz "$share"/doc/zart-configurator/copyright \
         "$share"/doc/zart-configurator/changelog.Debian.gz; do
    [[ -e $f ]] || fail "not in the package: ${f#"$root"}"
done

# 1. The command line front end, from an unrelated directory.
serial=$(cd / && "$bin/zart-cli" --demo serial)
[[ $serial =~ ^[0-9A-F]{8}$ ]] || fail "zart-cli --demo serial printed '$serial'"
echo "zart-cli --demo serial: $serial"

# 2. The window, installed read-only, as a normal user with a fresh home. Root
# writes into read-only folders, so root runs it as the user nobody.
home=$tmp/home
mkdir -p "$home" "$tmp/runtime"
chmod 0700 "$tmp/runtime"
run_as=()
if [[ $(id -u) -eq 0 ]]; then
    chmod 0755 "$tmp"
    chown 65534:65534 "$home" "$tmp/runtime"
    run_as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
chmod -R a-w "$root"
(cd "$home" && exec env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/config" \
    XDG_RUNTIME_DIR="$tmp/runtime" QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 \
    "${run_as[@]}" "$bin/zart-configurator" --demo >"$tmp/window.log" 2>&1) &
pid=$!
# Ready once it handles SIGTERM (bit 15 of the caught-signal mask): then it
# closes its window on the signal as on a click, saving the settings.
ready=0
for _ in $(seq 400); do
    caught=$(awk '/^SigCgt:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
    [[ -z $caught ]] && break
    if (( (16#$caught >> 14) & 1 )); then ready=1; break; fi
    sleep 0.05
done
[[ $ready -eq 1 ]] || { cat "$tmp/window.log"; fail "the window did not start"; }
kill -TERM "$pid"
status=0
for _ in $(seq 400); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
done
if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid"
    fail "the window did not close within 20 s (an error report left open?)"
fi
wait "$pid" || status=$?
# With its settings saved it ends by the signal, as a shell expects: 128 + 15.
[[ $status -eq 143 ]] || { cat "$tmp/window.log"; fail "zart-configurator exit status $status, not 143 (SIGTERM)"; }
ini=$home/config/zart-configurator/zart-configurator.ini
[[ -f $ini ]] || fail "no settings at $ini: $(find "$home" "$root/usr/bin" -name '*.ini')"
grep -q '^Timeout=' "$ini" || fail "settings incomplete: $(cat "$ini")"
[[ ! -e $home/Documents ]] || fail "the data folder was made before it was needed"
echo "settings written: ${ini#"$tmp"/}"

# 3. Desktop entry and metainfo.
desktop-file-validate "$share/applications/zart-configurator.desktop" || fail "desktop-file-validate"
metainfo=("$share"/metainfo/*.metainfo.xml)
appstreamcli validate --no-net "${metainfo[0]}" || fail "appstreamcli validate"

# 4. The man pages.
for page in zart-cli zart-configurator zart-sensor-sim; do
    text=$(MANWIDTH=80 man -l "$share/man/man1/$page.1.gz" 2>"$tmp/man.err") ||
        { cat "$tmp/man.err"; fail "man -l $page"; }
    [[ $text == *NAME*"$page"*DESCRIPTION* ]] || fail "man page of $page: $text"
done
cli_page=$(man -l "$share/man/man1/zart-cli.1.gz" 2>/dev/null)
[[ $cli_page == *--demo* && $cli_page == *Ошибка* ]] || fail "zart-cli.1 lacks the options or the Russian texts"

# 5. The completion, with the installed zart-cli first in PATH.
complete_words() {
    PATH="$bin:$PATH" bash -c '
        source "$1"; shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
        _zart_cli; printf "%s\n" "${COMPREPLY[@]}" | sort' _ \
        "$share/bash-completion/completions/zart-cli" "$@"
}
verbs=$(complete_words zart-cli "")
for verb in serial dump restore passport-restore power light search; do
    grep -qx "$verb" <<<"$verbs" || fail "completion lacks the command $verb: $verbs"
done
[[ $(complete_words zart-cli --demo light "" | tr '\n' ' ') == "off x y " ]] || fail "completion of light"
[[ $(complete_words zart-cli --speed "" | tr '\n' ' ') == "115200 57600 9600 " ]] || fail "completion of --speed"
[[ $(complete_words zart-cli --verb) == --verbose ]] || fail "completion of --verb"

# 6. Debian's checks: errors fail, the remaining warnings are listed.
if command -v lintian >/dev/null; then
    lintian --fail-on error "$deb" >"$tmp/lintian.log" 2>&1 ||
        { cat "$tmp/lintian.log"; fail "lintian"; }
    sed 's/^/lintian: /' "$tmp/lintian.log"
else
    echo "lintian is not installed: the package's policy checks skipped"
fi
echo "package installed and tried: ok"
