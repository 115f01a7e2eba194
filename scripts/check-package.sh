#!/usr/bin/env bash
# scripts/check-package.sh DEB
# Checks the Debian package that ./scripts/setup.sh package made: its desktop
# entry and AppStream file pass their validators, and the programs unpacked
# from it run: korva-cli repairs a damaged file that sox then reads, and the
# window answers --version.
set -euo pipefail

deb=$(realpath "${1:?usage: $0 DEB}")
app_id=io.github.korva.Korva
version=$(dpkg-deb --field "$deb" Version)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() {
    echo "check-package: $*" >&2
    exit 1
}

root=$scratch/root
dpkg-deb -x "$deb" "$root"

# Any message at all, warning or hint, fails the check.
desktop=$root/usr/share/applications/$app_id.desktop
messages=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate failed: $messages"
[ -z "$messages" ] || fail "desktop-file-validate: $messages"
echo "desktop-file-validate: $app_id.desktop passes"

# The AppStream file: no error, warning or hint. The one pedantic note left is
# the upper-case letter of the id, which the id carries on purpose (the
# reverse-DNS id names the .desktop file, the window and the macOS bundle).
metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
report=$(appstreamcli validate --no-net --explain "$metainfo" 2>&1) || fail "$report"
echo "$report"
! grep -E '^ *[EWI]: ' <<<"$report" >/dev/null || fail "appstreamcli has more than pedantic notes"
# The tree check finds the launchable's .desktop file beside it.
report=$(appstreamcli validate-tree --no-net "$root" 2>&1) || fail "$report"
for binary in $(sed -n 's|.*<binary>\(.*\)</binary>.*|\1|p' "$metainfo"); do
    [ -x "$root/usr/bin/$binary" ] || fail "the AppStream file provides $binary; usr/bin has none"
done

cd "$root"

actual=$(usr/bin/korva-cli --version | head -n 1)
[ "$actual" = "korva-cli $version" ] || fail "korva-cli --version printed '$actual', the package is $version"
echo "korva-cli --version: $actual"

# A take whose fmt chunk was lost: RIFF/WAVE, a 602-byte bext chunk, 24 zero
# bytes where the fmt chunk stood, and 0.1 s of 48 kHz 16-bit mono audio.
le32() {
    local n=$1
    printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((n & 255)) $((n >> 8 & 255)) \
        $((n >> 16 & 255)) $((n >> 24 & 255)))"
}
frames=4800
audio=$scratch/audio.raw
head -c $((frames * 2)) /dev/urandom >"$audio"
mkdir "$scratch/card" "$scratch/repaired"
take=$scratch/card/take1.wav
{
    printf 'RIFF'
    le32 $((4 + 8 + 602 + 24 + 8 + frames * 2))
    printf 'WAVE'
    printf 'bext'
    le32 602
    printf 'Scene 12 take 1'
    head -c $((602 - 15)) /dev/zero
    head -c 24 /dev/zero
    printf 'data'
    le32 $((frames * 2))
    cat "$audio"
} >"$take"
cp "$take" "$scratch/take1.original"
# The check below means something only if the damaged take does not open.
if soxi "$take" >/dev/null 2>&1; then
    fail "sox opens the damaged take: it is not damaged"
fi

usr/bin/korva-cli repair --dest "$scratch/repaired" --rate 48000 --bits 16 --channels 1 "$take" \
    >"$scratch/repair.out"
cat "$scratch/repair.out"
repaired=$scratch/repaired/take1.wav
grep -q "^repaired	$repaired	" "$scratch/repair.out" || fail "korva-cli did not report the repair"
cmp "$take" "$scratch/take1.original" || fail "korva-cli changed the source file"

info=$(sndfile-info "$repaired" 2>&1)
grep -E '^(Sample Rate|Frames|Channels) ' <<<"$info" ||
    fail "sndfile-info cannot read the repaired copy: $(tail -n 3 <<<"$info")"
[ "$(soxi -r "$repaired")" = 48000 ] || fail "the repaired copy is not 48000 Hz"
[ "$(soxi -c "$repaired")" = 1 ] || fail "the repaired copy is not mono"
[ "$(soxi -b "$repaired")" = 16 ] || fail "the repaired copy is not 16 bit"
[ "$(soxi -s "$repaired")" = $frames ] || fail "the repaired copy has not $frames frames"
sox "$repaired" -t raw "$scratch/decoded.raw"
cmp "$audio" "$scratch/decoded.raw" || fail "sox decodes other samples than the take holds"
echo "korva-cli repair: sox reads the repaired take as 48000 Hz 16-bit mono, samples intact"

# The window, without a display; timeout guards against a window that opens
# instead of answering.
actual=$(QT_QPA_PLATFORM=offscreen timeout 20 usr/bin/korva --version) ||
    fail "korva --version failed ($?)"
[[ $actual == *"$version"* ]] || fail "korva --version printed '$actual', the package is $version"
echo "korva --version: $actual"
