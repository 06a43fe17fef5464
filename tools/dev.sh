#!/usr/bin/env bash
# Sets up a Debian 12 machine for Quillark Lite Modbus, builds it, and either
# runs the program (with the bundled gateway simulator) or runs every test.
#
#   tools/dev.sh run    install what is missing, build, start simulator + program
#   tools/dev.sh test   install what is missing, build, run every test (ctest)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QK_BUILD_DIR:-$here/build}"

packages=(
  build-essential cmake pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5serialbus5-dev qtmultimedia5-dev
  libqt5sql5-sqlite libqt5multimedia5-plugins gstreamer1.0-plugins-good
  fonts-dejavu-core
  python3 python3-pymodbus python3-serial python3-serial-asyncio mbpoll sqlite3 libsqlite3-dev libssl-dev
  xvfb xauth xdotool imagemagick x11-apps
  libmodbus-dev libqcustomplot-dev
  clang libclang-rt-14-dev
  libmosquitto-dev mosquitto mosquitto-clients influxdb curl openssl
  desktop-file-utils appstream shared-mime-info lintian dpkg-dev fakeroot file
  poppler-utils
)

install_packages() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {
  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j"$(nproc)"
}

cmd="${1:-}"
case "$cmd" in
  run)
    install_packages
    build
    # Two simulated gateways, 8 devices each: the demo project (examples/demo.qlk)
    # reads 127.0.0.1:1502 and 127.0.0.1:1503.
    sim_port="${QK_SIM_PORT:-1502}"
    "$build/tools/gateway_sim/quillark-gateway-sim" --port "$sim_port" --devices 8 &
    sim_pid=$!
    "$build/tools/gateway_sim/quillark-gateway-sim" --port "$((sim_port + 1))" --devices 8 &
    sim2_pid=$!
    trap 'kill $sim_pid $sim2_pid 2>/dev/null || true' EXIT
    # The program writes the recording period into the project and its
    # database beside it, so the demo runs from a copy in the build folder.
    mkdir -p "$build/demo"
    [ -f "$build/demo/demo.qlk" ] || cp "$here/examples/demo.qlk" "$build/demo/demo.qlk"
    echo "Gateway simulators on 127.0.0.1:$sim_port and 127.0.0.1:$((sim_port + 1))."
    echo "Choose \"Open Project\" and open $build/demo/demo.qlk (a copy of examples/demo.qlk):"
    echo "16 devices with live values every second; \"Cold room 2\" has a narrow range and alarms now and then."
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
      xvfb-run -a -s "-screen 0 1280x800x24" "$build/quillark-lite-modbus"
    else
      "$build/quillark-lite-modbus"
    fi
    ;;
  test)
    install_packages
    build
    cd "$build"
    ctest --output-on-failure -j"$(nproc)"
    ;;
  *)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
