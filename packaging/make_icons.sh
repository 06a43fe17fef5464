#!/usr/bin/env bash
# Writes the desktop icons of the three programs and of project files as
# scalable SVG into packaging/icons/. Output is deterministic (plain text,
# coordinates computed with awk under LC_ALL=C), so re-running it gives
# identical files. The palette is the one of tools/make_resources.sh.
#
#   packaging/make_icons.sh          regenerate into packaging/icons/
#   packaging/make_icons.sh --check  regenerate into a temporary folder and
#                                    compare with the committed files
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
out="$here/icons"
check=0
if [ "${1:-}" = "--check" ]; then
  check=1
  out="$(mktemp -d)"
  trap 'rm -rf "$out"' EXIT
fi
mkdir -p "$out"
export LC_ALL=C

BG_LIGHT='#494949'
BG_DARK='#313131'
EDGE='#606060'
GRID='#464646'
TEXT='#d6d6d6'
TEAL='#008080'
TEAL_LIGHT='#2ba09c'
CRIMSON='#b51b42'
PAPER='#ececec'
PAPER_EDGE='#a0a0a0'
INK='#3a3a3a'

# Polyline of a sensor trace: x0 width y0 amplitude samples
trace() {
  awk -v x0="$1" -v w="$2" -v y0="$3" -v a="$4" -v n="$5" 'BEGIN {
    s = "";
    for (i = 0; i <= n; i++) {
      x = x0 + i * w / n;
      y = y0 - a * (0.7 * sin(i * 6.0 / n) + 0.3 * sin(i * 17.0 / n)) - i * a * 0.4 / n;
      s = s sprintf("%s%.1f,%.1f", (i ? " " : ""), x, y) }
    print s }'
}

# The dark rounded tile with a grid shared by the program icons.
tile() {
  cat <<SVG
  <defs>
    <linearGradient id="bg" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="$BG_LIGHT"/>
      <stop offset="1" stop-color="$BG_DARK"/>
    </linearGradient>
  </defs>
  <rect x="16" y="16" width="224" height="224" rx="40" fill="url(#bg)" stroke="$TEAL" stroke-width="8"/>
  <g stroke="$GRID" stroke-width="4">
    <line x1="44" y1="88" x2="212" y2="88"/>
    <line x1="44" y1="136" x2="212" y2="136"/>
    <line x1="44" y1="184" x2="212" y2="184"/>
  </g>
SVG
}

header() { # header <title>
  cat <<SVG
<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">
  <title>$1</title>
SVG
}

# Recorder: live trace with an alarm line and the record dot.
{
  header "Quillark Lite Modbus"
  tile
  cat <<SVG
  <line x1="44" y1="70" x2="212" y2="70" stroke="$CRIMSON" stroke-width="4" stroke-dasharray="10 8"/>
  <polyline points="$(trace 44 168 160 44 48)" fill="none" stroke="$TEAL_LIGHT" stroke-width="10" stroke-linecap="round" stroke-linejoin="round"/>
  <circle cx="196" cy="52" r="20" fill="$CRIMSON" stroke="$TEXT" stroke-width="5"/>
</svg>
SVG
} >"$out/org.quillark.LiteModbus.svg"

# Data viewer: a recorded trace under a magnifying glass.
{
  header "RideZodazo"
  tile
  cat <<SVG
  <polyline points="$(trace 44 168 150 40 48)" fill="none" stroke="$TEAL" stroke-width="8" stroke-linecap="round" stroke-linejoin="round"/>
  <clipPath id="lens"><circle cx="112" cy="112" r="52"/></clipPath>
  <circle cx="112" cy="112" r="52" fill="$BG_DARK"/>
  <polyline clip-path="url(#lens)" points="$(trace 52 120 128 26 24)" fill="none" stroke="$TEAL_LIGHT" stroke-width="9" stroke-linecap="round" stroke-linejoin="round"/>
  <circle cx="112" cy="112" r="52" fill="none" stroke="$TEXT" stroke-width="14"/>
  <line x1="150" y1="150" x2="204" y2="204" stroke="$TEXT" stroke-width="22" stroke-linecap="round"/>
</svg>
SVG
} >"$out/org.quillark.RideZodazo.svg"

# Daily report: a printed page with a table, a chart and a tick.
{
  header "DavavoZurer"
  cat <<SVG
  <path d="M52 20 H164 L212 68 V236 H52 Z" fill="$PAPER" stroke="$PAPER_EDGE" stroke-width="6" stroke-linejoin="round"/>
  <path d="M164 20 V68 H212" fill="none" stroke="$PAPER_EDGE" stroke-width="6" stroke-linejoin="round"/>
  <rect x="72" y="40" width="76" height="12" fill="$TEAL"/>
  <g stroke="$EDGE" stroke-width="6">
    <line x1="72" y1="80" x2="192" y2="80"/>
    <line x1="72" y1="100" x2="192" y2="100"/>
    <line x1="72" y1="120" x2="160" y2="120"/>
  </g>
  <rect x="72" y="140" width="120" height="56" fill="none" stroke="$PAPER_EDGE" stroke-width="4"/>
  <polyline points="$(trace 76 112 174 14 24)" fill="none" stroke="$TEAL" stroke-width="6" stroke-linecap="round" stroke-linejoin="round"/>
  <path d="M150 214 L166 228 L202 190" fill="none" stroke="$CRIMSON" stroke-width="12" stroke-linecap="round" stroke-linejoin="round"/>
  <line x1="72" y1="220" x2="136" y2="220" stroke="$INK" stroke-width="4"/>
</svg>
SVG
} >"$out/org.quillark.DavavoZurer.svg"

# Project file: a page carrying the recorder's trace and a teal corner.
{
  header "Quillark project"
  cat <<SVG
  <path d="M52 20 H164 L212 68 V236 H52 Z" fill="$PAPER" stroke="$PAPER_EDGE" stroke-width="6" stroke-linejoin="round"/>
  <path d="M164 20 V68 H212 Z" fill="$TEAL" stroke="$TEAL" stroke-width="6" stroke-linejoin="round"/>
  <rect x="68" y="100" width="128" height="100" rx="10" fill="$BG_DARK"/>
  <polyline points="$(trace 80 104 160 26 24)" fill="none" stroke="$TEAL_LIGHT" stroke-width="8" stroke-linecap="round" stroke-linejoin="round"/>
</svg>
SVG
} >"$out/application-x-quillark-project.svg"

if [ $check -eq 1 ]; then
  diff -r "$out" "$here/icons" >/dev/null || { echo "packaging/icons differ from packaging/make_icons.sh output" >&2; exit 1; }
  echo "packaging/icons up to date"
fi
