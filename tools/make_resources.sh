#!/usr/bin/env bash
# Draws every image under resources/img/ and synthesises the alarm sound
# resources/critical.mp3. Output is deterministic: no time stamps or other
# volatile metadata are written, so re-running it gives identical files.
#
# Needs: ImageMagick (convert), sox, lame, fonts-dejavu-core.
#
#   tools/make_resources.sh          regenerate into resources/
#   tools/make_resources.sh --check  regenerate into a temporary folder and
#                                    compare with the committed files
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$here/resources"
check=0
if [ "${1:-}" = "--check" ]; then
  check=1
  out="$(mktemp -d)"
fi
img="$out/img"
mkdir -p "$img"
work="$(mktemp -d)"
trap 'rm -rf "$work"; [ $check -eq 1 ] && rm -rf "$out"; true' EXIT

export LC_ALL=C
export MAGICK_THREAD_LIMIT=1   # identical pixels on every machine

font_dir=/usr/share/fonts/truetype/dejavu
BOLD="$font_dir/DejaVuSans-Bold.ttf"
BOOK="$font_dir/DejaVuSans.ttf"
COND="$font_dir/DejaVuSansCondensed-Bold.ttf"
for f in "$BOLD" "$BOOK" "$COND"; do
  [ -f "$f" ] || { echo "missing font $f (install fonts-dejavu-core)" >&2; exit 1; }
done

# Palette: calm dark-grey industrial look with teal accents and crimson alarms.
BG_DARK='rgb(49,49,49)'
BG_MID='rgb(61,61,61)'
BG_LIGHT='rgb(73,73,73)'
EDGE='rgb(96,96,96)'
TEXT='rgb(214,214,214)'
TEXT_DIM='rgb(160,160,160)'
INK='rgb(58,58,58)'          # dark text on the light title and status bars
TEAL='rgb(0,128,128)'
TEAL_LIGHT='rgb(43,160,156)'
TEAL_DARK='rgb(24,68,76)'
CRIMSON='rgb(181,27,66)'
CRIMSON_LIGHT='rgb(214,70,100)'

# Writes a PNG without time stamps or text chunks.
png() { # png <convert args...> <output>
  local args=("$@")
  local dest="${args[-1]}"
  unset 'args[-1]'
  convert "${args[@]}" -strip -define png:exclude-chunks=date,time,tEXt,zTXt,iTXt \
    -define png:color-type=6 -define png:bit-depth=8 "PNG32:$dest"
}

# Polygon of a gear: cx cy outer inner teeth
gear_points() {
  awk -v cx="$1" -v cy="$2" -v ro="$3" -v ri="$4" -v n="$5" 'BEGIN {
    pi = 3.14159265358979; s = "";
    for (i = 0; i < n * 4; i++) {
      a = (i - 0.5) * pi * 2 / (n * 4);
      r = ((int(i / 2)) % 2 == 0) ? ro : ri;
      s = s sprintf("%.2f,%.2f ", cx + r * cos(a), cy + r * sin(a));
    }
    print s }'
}

# ---------------------------------------------------------------- product ---
# About-box product picture, 720 x 326.
chart_line="$(awk 'BEGIN { s = "M";
  for (i = 0; i <= 60; i++) {
    x = 412 + i * 4.4;
    y = 196 - 34 * sin(i / 6.0) - 12 * sin(i / 2.3) - i * 0.6;
    s = s sprintf(" %.1f,%.1f", x, y); if (i == 0) s = s " L" }
  print s }')"
png -size 720x326 "gradient:$BG_LIGHT-$BG_DARK" \
  -fill none -stroke "$EDGE" -strokewidth 2 -draw "rectangle 1,1 718,324" \
  -stroke none -fill "$TEAL" -draw "rectangle 0,0 10,326" \
  -fill "$TEXT" -font "$BOLD" -pointsize 54 -annotate +44+112 'QUILLARK' \
  -fill "$TEAL_LIGHT" -font "$BOLD" -pointsize 30 -annotate +46+156 'Lite Modbus' \
  -fill "$TEXT_DIM" -font "$BOOK" -pointsize 15 -annotate +46+196 'Wireless sensor data recorder' \
  -annotate +46+218 'Modbus TCP  |  up to 32 channels' \
  -annotate +46+240 'Data viewer & daily reporter' \
  -fill "$BG_DARK" -stroke "$EDGE" -strokewidth 1 -draw "roundrectangle 400,60 690,250 8,8" \
  -stroke 'rgb(70,70,70)' -draw "line 400,110 690,110" -draw "line 400,155 690,155" \
  -draw "line 400,200 690,200" \
  -fill none -stroke "$TEAL_LIGHT" -strokewidth 3 -draw "path '$chart_line'" \
  -stroke "$CRIMSON_LIGHT" -strokewidth 1 -draw "line 404,84 686,84" \
  -stroke none -fill "$TEXT_DIM" -font "$BOOK" -pointsize 12 -annotate +410+78 'ALARM' \
  -fill "$EDGE" -draw "rectangle 44,264 690,265" \
  -fill "$TEXT_DIM" -font "$BOLD" -pointsize 16 -annotate +46+296 'Fennolink' \
  -fill "$TEXT_DIM" -font "$BOOK" -pointsize 13 -annotate +560+296 'Version 1.03' \
  "$img/quillark_lite_Modbus.png"

# ----------------------------------------------------------------- splash ---
# Splash panel, 600 x 340; the bottom strip stays plain for the loading message.
png -size 600x340 "gradient:$BG_LIGHT-$BG_DARK" \
  -fill none -stroke "$EDGE" -strokewidth 2 -draw "rectangle 1,1 598,338" \
  -stroke none -fill "$TEAL" -draw "rectangle 0,0 600,6" \
  -fill "$TEXT" -font "$BOLD" -pointsize 50 -gravity north -annotate +0+92 'QUILLARK' \
  -fill "$TEAL_LIGHT" -pointsize 26 -annotate +0+158 'Lite Modbus' \
  -fill "$EDGE" -draw "rectangle 200,206 400,207" \
  -fill "$TEXT_DIM" -font "$BOOK" -pointsize 14 -annotate +0+222 'Wireless sensor data recorder' \
  -gravity none "$img/LoadingLite.png"

# ------------------------------------------------------------ window icon ---
png -size 64x64 xc:none \
  -fill "$BG_DARK" -stroke "$TEAL" -strokewidth 3 -draw "roundrectangle 2,2 61,61 12,12" \
  -fill none -stroke "$TEXT" -strokewidth 6 -draw "circle 31,30 31,14" \
  -stroke "$TEAL_LIGHT" -strokewidth 6 -draw "line 36,36 50,51" \
  "$img/I_2.png"

# ------------------------------------------------------------------ logos ---
# Title-bar and message-dialog logo; sits on light grey bars.
png -size 135x26 xc:none \
  -fill "$TEAL" -draw "rectangle 2,5 5,21" \
  -fill "$INK" -font "$BOLD" -pointsize 14 -annotate +10+19 'QUILLARK' \
  -fill "$TEAL" -font "$COND" -pointsize 10 -annotate +94+19 'Modbus' \
  "$img/QuillarkLogoModbus.png"

# Status-strip maker logo; sits on rgb(220,220,220).
png -size 96x16 xc:none \
  -fill "$TEAL" -draw "circle 8,8 8,3" -fill 'rgb(220,220,220)' -draw "circle 8,8 8,6" \
  -fill "$TEAL" -draw "circle 8,8 8,7" \
  -fill 'rgb(88,88,88)' -font "$BOLD" -pointsize 11 -annotate +17+12 'Fennolink' \
  "$img/FennolinkLogo.png"

# Maker symbol: a node with two radio arcs (rings cut to their upper-right
# quarter). Large one for the start page, small one for the device list.
symbol() { # symbol <w>x<h> cx cy dot r1 r2 stroke out
  png -size "$1" xc:none \
    -fill none -stroke "$TEAL_LIGHT" -strokewidth "$7" \
    -draw "circle $2,$3 $2,$(($3 - $5))" -draw "circle $2,$3 $2,$(($3 - $6))" \
    \( -size "$1" xc:none -fill white -draw "rectangle $(($2 - 1)),0 100,$(($3 + 1))" \) \
    -compose DstIn -composite -compose Over \
    -stroke none -fill "$TEAL_LIGHT" -draw "circle $2,$3 $2,$(($3 - $4))" \
    "$8"
}
symbol 32x32 6 26 5 13 23 3 "$img/FennolinkSymbol.png"
symbol 17x18 3 15 3 7 12 2 "$img/FennolinkSymbol2.png"

# ---------------------------------------------------------- record states ---
png -size 80x16 xc:none \
  -fill "$BG_LIGHT" -draw "roundrectangle 0,0 79,15 4,4" \
  -fill "$TEAL_LIGHT" -draw "circle 9,8 9,4" \
  -fill "$TEXT" -font "$BOLD" -pointsize 10 -annotate +19+12 'READY' \
  "$img/StateReady.png"
png -size 80x16 xc:none \
  -fill "$CRIMSON" -draw "roundrectangle 0,0 79,15 4,4" \
  -fill 'rgb(255,255,255)' -draw "circle 9,8 9,4" \
  -fill 'rgb(255,255,255)' -font "$COND" -pointsize 9 -annotate +17+12 'RECORDING' \
  "$img/StateRecording.png"

# -------------------------------------------------------------- dashboard ---
png -size 99x16 xc:none \
  -fill "$TEAL" -draw "rectangle 0,2 2,13" \
  -fill 'rgb(192,192,192)' -font "$BOLD" -pointsize 11 -annotate +6+12 'DASHBOARD' \
  "$img/DashboardText.png"

# -------------------------------------------------------- device symbols ---
# Connection state, 16 x 18: a disc with signal bars (teal) or a struck-out
# grey disc.
png -size 16x18 xc:none \
  -fill "$TEAL" -stroke 'rgb(20,60,60)' -strokewidth 1 -draw "circle 7.5,9 7.5,1.5" \
  -stroke none -fill 'rgb(235,235,235)' \
  -draw "rectangle 3,10 4,12" -draw "rectangle 6,8 7,12" -draw "rectangle 9,6 10,12" \
  -draw "rectangle 12,4 12,12" \
  "$img/DeviceConnectingSymbol.png"
png -size 16x18 xc:none \
  -fill 'rgb(120,120,120)' -stroke 'rgb(60,60,60)' -strokewidth 1 -draw "circle 7.5,9 7.5,1.5" \
  -stroke "$CRIMSON_LIGHT" -strokewidth 2 -draw "line 4,5 11,13" -draw "line 11,5 4,13" \
  "$img/DeviceDisconnectedSymbol.png"

# Sensor device, 18 x 17: a small box with an antenna and a display.
png -size 18x17 xc:none \
  -stroke 'rgb(40,40,40)' -strokewidth 1 -draw "line 13,1 13,6" \
  -fill "$BG_LIGHT" -draw "roundrectangle 2,5 15,15 2,2" \
  -stroke none -fill "$TEAL_LIGHT" -draw "rectangle 5,8 12,11" \
  -fill "$TEAL_LIGHT" -draw "circle 13,1.5 13,0.5" \
  "$img/DeviceImg.png"

# Network (LAN), 18 x 17: one hub linked to two hosts.
png -size 18x17 xc:none \
  -stroke 'rgb(40,40,40)' -strokewidth 1 \
  -draw "line 8.5,6 8.5,10" -draw "line 3.5,10 13.5,10" \
  -draw "line 3.5,10 3.5,12" -draw "line 13.5,10 13.5,12" \
  -fill "$TEAL_LIGHT" -draw "rectangle 5,1 12,6" \
  -fill "$TEAL" -draw "rectangle 1,12 6,16" -draw "rectangle 11,12 16,16" \
  "$img/icon_lan.png"

# Channel markers beside the chart panels, 47 x 123, vertical text.
for ch in 1 2; do
  png -size 123x47 xc:none \
    -fill "$TEAL" -draw "rectangle 10,40 113,42" \
    -fill 'rgb(192,192,192)' -font "$BOLD" -pointsize 20 -gravity center \
    -annotate +0-3 "CH $ch" -gravity none -rotate -90 \
    "$img/DeviceCh$ch.png"
done

# ---------------------------------------------------------------- buttons ---
# Option / network buttons: a gear, 20 x 20.
png -size 20x20 xc:none \
  -fill "$TEXT" -stroke 'rgb(90,90,90)' -strokewidth 0.6 \
  -draw "polygon $(gear_points 10 10 9.3 6.6 8)" \
  -stroke none -fill "$TEAL" -draw "circle 10,10 10,6.5" \
  -fill 'rgb(60,60,60)' -draw "circle 10,10 10,8" \
  "$img/SettingButton.png"

# Record and stop, 50 x 50.
png -size 50x50 xc:none \
  -fill "$BG_MID" -stroke 'rgb(150,150,150)' -strokewidth 3 -draw "circle 24.5,24.5 24.5,2.5" \
  -stroke none -fill "$CRIMSON_LIGHT" -draw "circle 24.5,24.5 24.5,11" \
  "$img/RecordButton.png"
png -size 50x50 xc:none \
  -fill "$CRIMSON" -stroke "$CRIMSON_LIGHT" -strokewidth 3 -draw "circle 24.5,24.5 24.5,2.5" \
  -stroke none -fill 'rgb(235,235,235)' -draw "roundrectangle 16,16 33,33 2,2" \
  "$img/RecordStopButton.png"

# Project editor buttons, 112 x 48.
png -size 112x48 xc:none \
  \( -size 108x44 "gradient:$BG_LIGHT-$BG_DARK" \) -geometry +2+2 -composite \
  -fill none -stroke "$TEAL" -strokewidth 2 -draw "roundrectangle 1,1 110,46 6,6" \
  -stroke "$TEXT" -strokewidth 2 -draw "circle 22,24 22,13" \
  -draw "line 22,24 22,17" -draw "line 22,24 27,24" \
  -stroke none -fill "$TEXT" -font "$BOLD" -pointsize 12 -annotate +40+29 'INTERVAL' \
  "$img/btn_interval.png"
png -size 112x48 xc:none \
  \( -size 108x44 "gradient:$TEAL_LIGHT-$TEAL_DARK" \) -geometry +2+2 -composite \
  -fill none -stroke 'rgb(20,60,60)' -strokewidth 2 -draw "roundrectangle 1,1 110,46 6,6" \
  -stroke 'rgb(240,240,240)' -strokewidth 3 -draw "line 22,15 22,33" -draw "line 13,24 31,24" \
  -stroke none -fill 'rgb(240,240,240)' -font "$BOLD" -pointsize 12 \
  -annotate +40+22 'CREATE' -annotate +40+37 'PROJECT' \
  "$img/btn_createProject.png"

# Round the corners of the two editor buttons so they match the outline.
for b in btn_interval btn_createProject; do
  png "$img/$b.png" \( -size 112x48 xc:none -fill white -draw "roundrectangle 1,1 110,46 6,6" \) \
    -compose DstIn -composite "$img/$b.png"
done

# ------------------------------------------------------------------ alarm ---
# Two-tone alarm, 880 Hz / 660 Hz alternating, 3 x 0.25 s each = 1.5 s,
# 44.1 kHz mono, short fades against clicks, peak at -3 dBFS.
sox -R -D -n -r 44100 -c 1 -b 16 "$work/hi.wav" synth 0.25 sine 880 fade q 0.008 0.25 0.008
sox -R -D -n -r 44100 -c 1 -b 16 "$work/lo.wav" synth 0.25 sine 660 fade q 0.008 0.25 0.008
sox -R -D "$work/hi.wav" "$work/lo.wav" "$work/hi.wav" "$work/lo.wav" "$work/hi.wav" "$work/lo.wav" \
  "$work/alarm.wav" gain -n -3
lame --quiet --noreplaygain -m m -b 128 --resample 44.1 "$work/alarm.wav" "$out/critical.mp3"

# The mp3 must decode again.
lame --quiet --decode "$out/critical.mp3" "$work/check.wav"
len="$(soxi -D "$work/check.wav")"
awk -v l="$len" 'BEGIN { exit !(l >= 1.0 && l <= 2.2) }' || { echo "bad alarm length $len" >&2; exit 1; }

# Resource list: images under ":/img/", the sound at ":/critical.mp3".
{
  echo '<RCC>'
  echo '    <qresource prefix="/">'
  (cd "$out" && ls img/*.png | sort) | sed 's|.*|        <file>&</file>|'
  echo '        <file>critical.mp3</file>'
  echo '    </qresource>'
  echo '</RCC>'
} > "$out/resources.qrc"

if [ $check -eq 1 ]; then
  diff -r "$out/img" "$here/resources/img" && cmp "$out/critical.mp3" "$here/resources/critical.mp3" \
    && diff "$out/resources.qrc" "$here/resources/resources.qrc" && echo "resources are up to date"
else
  echo "wrote $(ls "$img" | wc -l) images and critical.mp3 (${len} s) into $out"
fi
