#!/usr/bin/env bash
# blackbox.sh: uses the real tonflux.exe under Wine as a new user would, on a virtual screen.
#
#   tools/blackbox.sh [BUILD_DIR] [--program DIR] [--screenshots DIR] [--dpi N]
#
# BUILD_DIR is a 32-bit cross build (default build/win32) holding tonflux.exe, tonflux.html,
# cli/tonflux-convert.exe and the helpers from tests/blackbox/. With --program, the programs are
# those of DIR instead (tonflux.exe, tonflux.html and tonflux-convert.exe side by side, as a
# release zip unpacks), and tonflux.exe runs from DIR itself. The run gets a Wine prefix and an
# Xvfb of its own (BUILD_DIR/blackbox/wine), so other Wine runs cannot take its keyboard focus.
# It starts tonflux.exe from a fresh folder (or DIR), changes the options, converts
# samples/sample.mid through Ctrl+O and the open and save dialogs, converts a dropped copy, takes
# the first .mds back through Ctrl+O and the open dialog's file type for MIDI stream files and
# the second by a drop while the size field is empty, opens the help and the About box with its
# e-mail and web links (the shell's open commands only record what they get), closes the window,
# and checks the two .mds files and the two .mid files (byte for byte against tonflux-convert
# with the same options) and tonflux.ini. Then it starts a copy from a folder whose
# path is too long and checks that the help shows an error and no settings are written.
# Screenshots of the main window and the About box go to BUILD_DIR/blackbox/, and also to the
# folder given with --screenshots (the README's pictures: --screenshots docs/screenshots).
# --dpi runs it all on a screen of N dots per inch (Wine's LogPixels; default 96, as Windows at
# 100 %); the screenshots of another than 96 are named with "-<N>dpi".
set -euo pipefail
source_root=$(cd "$(dirname "$0")/.." && pwd)
build=""
shots=""
dpi=96
release=""
while [[ $# -gt 0 ]]; do
    case "$1" in
    --screenshots) shots="${2:?--screenshots needs a folder}"; shift 2 ;;
    --dpi) dpi="${2:?--dpi needs a number}"; shift 2 ;;
    --program) release="${2:?--program needs a folder}"; shift 2 ;;
    *) build="$1"; shift ;;
    esac
done
build=$(cd "${build:-$source_root/build/win32}" && pwd)
[[ -z "$shots" ]] || shots=$(mkdir -p "$shots" && cd "$shots" && pwd)
work="$build/blackbox"
rm -rf "$work/run" "$work/long"
mkdir -p "$work/run/program" "$work/run/music"
if [[ -n "$release" ]]; then
    program=$(cd "$release" && pwd)
    [[ ! -e "$program/tonflux.ini" ]] || { echo "blackbox: $program must be fresh: it has tonflux.ini" >&2; exit 1; }
    sources=("$program/tonflux.exe" "$program/tonflux.html" "$program/tonflux-convert.exe")
else
    program="$work/run/program"
    sources=("$build/tonflux.exe" "$build/tonflux.html" "$build/cli/tonflux-convert.exe")
fi
for f in "${sources[@]}" "$build/tests/blackbox/blackbox_dropfile.exe" \
    "$build/tests/blackbox/blackbox_peekbox.exe"; do
    [[ -f "$f" ]] || { echo "blackbox: $f is missing; build it first" >&2; exit 1; }
done
convert=${sources[2]}
WINE_ENV_XVFB=always source "$source_root/tools/wine-env.sh" "$work/wine" || exit 1

app=""
step() { printf 'blackbox: %s\n' "$*"; }
fail() {
    printf 'blackbox: FAILED: %s\n' "$*" >&2
    import -window root "$work/failure.png" 2>/dev/null && echo "blackbox: screen in $work/failure.png" >&2
    [[ -z "$app" ]] || kill "$app" 2>/dev/null || true
    wine_env_stop "$work/wine" >/dev/null 2>&1 || true
    exit 1
}
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# Waits for a window whose whole caption is $1 (a regex) and prints its id.
window() { timeout "${2:-15}" xdotool search --sync --name "^$1\$" 2>/dev/null | head -n1; }
gone() {
    local i
    for ((i = 0; i < 100; i++)); do
        xdotool search --name "^$1\$" >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    return 1
}
# Types path into the file dialog titled $1 and confirms it. On a loaded machine keys sent while
# the dialog still builds its controls can be lost, and the dialog then stays (or answers with a
# box of its own title): the name is typed again, at most three times in all. What the program
# does with the name is for the caller to check.
answer_dialog() {
    local attempt dialog
    for ((attempt = 0; attempt < 3; attempt++)); do
        dialog=$(window "$1") && [[ -n "$dialog" ]] || return 1
        xdotool windowfocus --sync "$dialog" 2>/dev/null || true
        sleep 0.3
        xdotool key ctrl+a
        xdotool type --delay 5 "$2"
        xdotool key Return
        gone "$1" && return 0
    done
    return 1
}
wait_file() {
    local i
    for ((i = 0; i < 150; i++)); do
        [[ -s "$1" ]] && return 0
        sleep 0.1
    done
    return 1
}
# The console's text mode ends each printed line with CR LF.
# Keys go to the window Wine thinks active; once another program took the foreground, only a
# click on the caption brings it back.
activate() {
    xdotool mousemove --window "$1" 150 8 click 1
    sleep 0.3
}
peek() {
    wine "$build/tests/blackbox/blackbox_peekbox.exe" --wait 8000 --press "$1" 2>/dev/null |
        tr -d '\r'
    [[ "${PIPESTATUS[0]}" == 0 ]]
}

# The screen's resolution, read by every program started from now on.
[[ "$dpi" =~ ^[0-9]+$ ]] || { echo "blackbox: --dpi takes a number" >&2; exit 2; }
shot_suffix=""
[[ "$dpi" == 96 ]] || shot_suffix="-${dpi}dpi"
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1

# The shell's "open" for .html files records what it was given instead of starting a browser.
opened="$work/run/opened.txt"
wine reg add 'HKCR\.html' /ve /d tonfluxtest.html /f >/dev/null 2>&1
wine reg add 'HKCR\tonfluxtest.html\shell\open\command' /ve \
    /d "C:\\windows\\system32\\cmd.exe /c echo %1> $(winpath "$opened")" /f >/dev/null 2>&1

# Likewise for the About box's links: mailto: and web addresses.
mailed="$work/run/mailed.txt"
browsed="$work/run/browsed.txt"
for scheme in mailto:"$mailed" https:"$browsed" http:"$browsed"; do
    wine reg add "HKCR\\${scheme%%:*}\\shell\\open\\command" /ve \
        /d "C:\\windows\\system32\\cmd.exe /c echo %1> $(winpath "${scheme#*:}")" /f >/dev/null 2>&1
done

[[ -n "$release" ]] || cp "${sources[@]:0:2}" "$program/"
music="$work/run/music"
cp "$source_root/samples/sample.mid" "$music/sample.mid"
cp "$source_root/samples/sample.mid" "$music/dropped.mid"

step "start tonflux.exe"
wine "$program/tonflux.exe" >"$work/run/tonflux.log" 2>&1 &
app=$!
main=$(window Tonflux) && [[ -n "$main" ]] || fail "the main window did not appear"
sleep 0.5
import -window "$main" "$work/main-window$shot_suffix.png"
xdotool windowfocus --sync "$main"

step "a buffer size of 0 is refused with a warning"
xdotool key alt+m End BackSpace BackSpace BackSpace
xdotool type 0
xdotool key ctrl+o
box=$(peek 1) || fail "no warning for a buffer size of 0"
[[ "$box" == "警告"$'\t'"ストリーム バッファの最大サイズが不正です。\n1KB 以上 63KB 以下にしてください。" ]] ||
    fail "unexpected box: $box"
gone "開く" || fail "an open dialog appeared after the warning"

step "8 KB without running status; Enter shows the open dialog; convert through Ctrl+O and the dialogs"
sleep 0.3
xdotool key End BackSpace BackSpace BackSpace
xdotool type 8
xdotool key alt+r Return
window "開く" >/dev/null || fail "Enter showed no open dialog"
sleep 0.3
xdotool key Escape
gone "開く" || fail "the open dialog stayed"
activate "$main"
xdotool key ctrl+o
window "開く" >/dev/null || fail "Ctrl+O showed no open dialog"
answer_dialog "開く" "$(winpath "$music/sample.mid")" || fail "the open dialog took no file"
window "名前を付けて保存" >/dev/null || fail "no save dialog after the open dialog"
answer_dialog "名前を付けて保存" "$(winpath "$music/opened.mds")" || fail "the save dialog stayed"
wait_file "$music/opened.mds" || fail "opened.mds was not written"

step "convert a dropped file"
wine "$build/tests/blackbox/blackbox_dropfile.exe" Tonflux "$(winpath "$music/dropped.mid")" ||
    fail "could not drop a file"
window "名前を付けて保存" >/dev/null || fail "no save dialog after the drop"
answer_dialog "名前を付けて保存" "$(winpath "$music/dropped.mds")" || fail "the save dialog stayed"
wait_file "$music/dropped.mds" || fail "dropped.mds was not written"

step "the way back: choose an .mds through Ctrl+O with its file type, save the .mid"
activate "$main"
xdotool key ctrl+o
dialog=$(window "開く") && [[ -n "$dialog" ]] || fail "Ctrl+O showed no open dialog"
xdotool windowfocus --sync "$dialog" 2>/dev/null || true
sleep 0.3
xdotool key alt+t End
type=$(wine "$build/tests/blackbox/blackbox_peekbox.exe" --file-type 2>/dev/null | tr -d '\r')
[[ "$type" == "開く"$'\t'"MIDI ストリーム ファイル (*.mds)" ]] || fail "the open dialog's last file type: $type"
xdotool key alt+n
answer_dialog "開く" "$(winpath "$music/opened.mds")" || fail "the open dialog took no .mds file"
window "名前を付けて保存" >/dev/null || fail "no save dialog for the way back"
answer_dialog "名前を付けて保存" "$(winpath "$music/opened-back.mid")" || fail "the save dialog stayed"
wait_file "$music/opened-back.mid" || fail "opened-back.mid was not written"

step "the way back: drop an .mds while the size field is empty, save the .mid"
activate "$main"
xdotool key alt+m End BackSpace BackSpace BackSpace
wine "$build/tests/blackbox/blackbox_dropfile.exe" Tonflux "$(winpath "$music/dropped.mds")" ||
    fail "could not drop a file"
window "名前を付けて保存" >/dev/null || fail "no save dialog after the drop of an .mds"
answer_dialog "名前を付けて保存" "$(winpath "$music/dropped-back.mid")" || fail "the save dialog stayed"
wait_file "$music/dropped-back.mid" || fail "dropped-back.mid was not written"
activate "$main"
xdotool key alt+m End BackSpace BackSpace BackSpace
xdotool type 8

step "F1 opens the help file beside the program"
xdotool windowfocus --sync "$main"
xdotool key F1
wait_file "$opened" || fail "F1 opened nothing"
grep -qiF "$(winpath "$program/tonflux.html")" "$opened" || fail "F1 opened $(cat "$opened")"

step "the About box"
activate "$main"
xdotool key alt+h
sleep 0.3
xdotool key v
about=$(window "バージョン情報") && [[ -n "$about" ]] || fail "no About box"
sleep 0.5
import -window "$about" "$work/about-box$shot_suffix.png"
# From the OK button, four tabs reach the e-mail button and one more the web button.
xdotool key Tab Tab Tab Tab space
wait_file "$mailed" || fail "the e-mail button opened nothing"
grep -q '^mailto:[^ ]*@' "$mailed" || fail "the e-mail button opened $(cat "$mailed")"
activate "$about"
xdotool key Tab space
box=$(peek 6) || fail "the web button asked nothing"
[[ "$box" == "確認"$'\t'"WWW ブラウザを起動し、インターネットへの接続を試みますか？" ]] ||
    fail "unexpected box: $box"
wait_file "$browsed" || fail "Yes to the web question opened nothing"
grep -q '^https\?://' "$browsed" || fail "the web button opened $(cat "$browsed")"
step "  e-mail: $(tr -d '\r' <"$mailed"), web: $(tr -d '\r' <"$browsed")"
activate "$about"
xdotool key Escape
gone "バージョン情報" || fail "Esc did not close the About box"

step "Esc leaves the main window open; Alt+F4 closes it"
activate "$main"
xdotool key Escape
sleep 0.3
xdotool search --name '^Tonflux$' >/dev/null || fail "Esc closed the main window"
xdotool key alt+F4
wait "$app" || fail "tonflux.exe ended with status $?"
app=""

step "check the settings and the converted files"
expected=$'[Main]\r\nStreamBufferSize=8\r\nUseRunningStatus=0\r\nCompressStreamID=0\r\nLeft=0\r\nTop=0\r\n'
[[ "$(cat "$program/tonflux.ini")" == "${expected%$'\n'}" ]] ||
    fail "tonflux.ini holds: $(cat -A "$program/tonflux.ini")"
wine "$convert" -q -f -k 8 --no-running-status \
    -o "$(winpath "$work/run/reference.mds")" "$(winpath "$music/sample.mid")" ||
    fail "tonflux-convert failed on the sample"
cmp "$work/run/reference.mds" "$music/opened.mds" || fail "opened.mds differs from tonflux-convert's"
cmp "$work/run/reference.mds" "$music/dropped.mds" || fail "dropped.mds differs from tonflux-convert's"
wine "$convert" -q -f --no-running-status -o "$(winpath "$work/run/reference.mid")" \
    "$(winpath "$music/opened.mds")" || fail "tonflux-convert failed on opened.mds"
cmp "$work/run/reference.mid" "$music/opened-back.mid" || fail "opened-back.mid differs from tonflux-convert's"
cmp "$work/run/reference.mid" "$music/dropped-back.mid" || fail "dropped-back.mid differs from tonflux-convert's"

step "a program folder too long for its paths"
long="$work/long/$(printf 'l%.0s' {1..100})/$(printf 'o%.0s' {1..100})/$(printf 'n%.0s' {1..60})"
mkdir -p "$long"
cp "${sources[@]:0:2}" "$long/"
rm -f "$opened"
wine "$long/tonflux.exe" >"$work/run/tonflux-long.log" 2>&1 &
app=$!
main=$(window Tonflux) && [[ -n "$main" ]] || fail "the main window did not appear"
xdotool windowfocus --sync "$main"
xdotool key F1
box=$(peek 1) || fail "F1 showed nothing"
[[ "$box" == "エラー"$'\t'* ]] || fail "unexpected box: $box"
step "  F1 says: ${box#*$'\t'}"
[[ ! -e "$opened" ]] || fail "F1 opened $(cat "$opened")"
xdotool windowfocus --sync "$main"
xdotool key alt+F4
wait "$app" || fail "tonflux.exe ended with status $?"
app=""
[[ ! -e "$long/tonflux.ini" ]] || fail "settings were written into the long folder"

if [[ -n "$shots" ]]; then
    cp "$work/main-window$shot_suffix.png" "$work/about-box$shot_suffix.png" "$shots/"
    step "screenshots in $shots"
fi
wine_env_stop "$work/wine" >/dev/null 2>&1 || true
step "passed"
