#!/usr/bin/env bash
# Starts the desktop demo of the task list control; `make demo` calls it
# after building. Usage: tools/run-demo.sh BUILD_DIR
#
# The demo loads the per-user default catalogue, $XDG_DATA_HOME/kevra/tasks.db,
# which this script creates from the built-in sample on the first run.
# With a display ($DISPLAY or $WAYLAND_DISPLAY) it opens the demo's window.
# Without one it says so, renders the demo offscreen to a PNG whose path it
# prints (KEVRA_DEMO_SCREENSHOT overrides the path), and runs the headless
# walk tools/demo-walk.khs with kevra-host.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: tools/run-demo.sh BUILD_DIR" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
if ! build=$(cd "$1" 2>/dev/null && pwd); then
  echo "run-demo: the build directory '$1' does not exist; build first (make)" >&2
  exit 2
fi
demo=$build/apps/kevra-demo/kevra-demo
catalog=$build/apps/kevra-catalog/kevra-catalog
host=$build/apps/kevra-host/kevra-host

need() {
  if [ ! -x "$1" ]; then
    echo "run-demo: $2 is not built in $build: $3" >&2
    exit 1
  fi
}
need "$catalog" kevra-catalog "build it with: cmake --build $build --target kevra-catalog"
need "$demo" kevra-demo \
  "it is built only when Qt 6 Widgets is found (Debian: qt6-base-dev libgl-dev); reconfigure and build"

# The default catalogue, as the task service finds it (an XDG_DATA_HOME that
# is not absolute is ignored, as the XDG rules say).
data_home=${XDG_DATA_HOME:-}
case $data_home in /*) ;; *) data_home=${HOME:?run-demo: neither XDG_DATA_HOME nor HOME is set}/.local/share ;; esac
catalogue=$data_home/kevra/tasks.db
if [ ! -e "$catalogue" ]; then
  echo "run-demo: first run: creating the default catalogue $catalogue from the sample"
  "$catalog" init --sample
fi

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "run-demo: opening kevra-demo on $catalogue"
  exec "$demo"
fi

echo "run-demo: there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the demo"
echo "run-demo: cannot open a window; rendering it offscreen instead."
screenshot=${KEVRA_DEMO_SCREENSHOT:-$build/kevra-demo.png}
QT_QPA_PLATFORM=offscreen "$demo" --screenshot "$screenshot" 2> >(grep -v -e '^QStandardPaths:' \
  -e 'does not support propagateSizeHints' >&2)
echo "run-demo: screenshot of the demo: $screenshot"

walk=$root/tools/demo-walk.khs
if [ ! -f "$walk" ]; then
  echo "run-demo: $walk is not there: skipping the headless walk"
  exit 0
fi
need "$host" kevra-host "build it with: cmake --build $build --target kevra-host"
echo "run-demo: the headless walk, $walk:"
"$host" "$walk"
