#!/usr/bin/env bash
# Takes a screenshot of the desktop demo in a real X window under Xvfb and
# saves it as docs/images/demo.png (or OUTPUT). The demo reads its window's
# pixels back from the X server after loading the sample catalogue, opening
# a list item and selecting a task.
# Usage: tools/screenshot-xvfb.sh BUILD_DIR [OUTPUT]
# Needs xvfb-run and xauth (Debian: xvfb xauth).
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: tools/screenshot-xvfb.sh BUILD_DIR [OUTPUT]" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
if ! build=$(cd "$1" 2>/dev/null && pwd); then
  echo "screenshot-xvfb: the build directory '$1' does not exist; build first (make)" >&2
  exit 2
fi
out=${2:-$root/docs/images/demo.png}
demo=$build/apps/kevra-demo/kevra-demo
catalog=$build/apps/kevra-catalog/kevra-catalog
for tool in "$demo" "$catalog"; do
  if [ ! -x "$tool" ]; then
    echo "screenshot-xvfb: $tool is not built; build kevra-demo and kevra-catalog first" >&2
    exit 1
  fi
done
if ! command -v xvfb-run >/dev/null || ! command -v xauth >/dev/null; then
  echo "screenshot-xvfb: xvfb-run and xauth are needed (Debian packages xvfb and xauth)" >&2
  exit 1
fi

# A catalogue and settings of its own, so that the picture is the same on
# every machine and the user's saved selection is not touched.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_DATA_HOME=$scratch/data XDG_CONFIG_HOME=$scratch/config XDG_RUNTIME_DIR=$scratch/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
"$catalog" init --sample >/dev/null

mkdir -p "$(dirname "$out")"
xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24 -dpi 96" \
  env QT_QPA_PLATFORM=xcb "$demo" --screenshot "$out"
