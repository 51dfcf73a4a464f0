#!/usr/bin/env bash
# Checks that the folders under kest/ include only folders below them (as Chromium's checkdeps
# does for its tree). Prints FILE:LINE for every include that runs the wrong way and exits 1.
#
#   tools/check_layers.sh [ROOT]      check ROOT/kest (default: the source tree)
#   tools/check_layers.sh --self-test plant a wrong include in a scratch tree and expect a failure
#
# The layers, bottom first. kest/kest_export.h may be included from anywhere; kest/KestCommon.h
# includes everything and is included by nothing in kest/.
set -u
LAYERS=(base resources platform util strings diag format context intern app lang assertion theme module)

rank_of() {
  local i
  for i in "${!LAYERS[@]}"; do
    [ "${LAYERS[$i]}" == "$1" ] && { echo "$i"; return; }
  done
  echo -1
}

check() {
  local root=$1 status=0 file line text from to from_rank to_rank
  while IFS=: read -r file line text; do
    file=${file#"$root"/}
    to=$(sed -n 's|.*#include "kest/\([^"]*\)".*|\1|p' <<<"$text")
    [ "$to" == "kest_export.h" ] && continue
    case "$file" in
      kest/KestCommon.h) continue ;;
      kest/*/*) from=${file#kest/}; from=${from%%/*} ;;
      *) echo "$file:$line: a file at the top of kest/ may include only kest_export.h"; status=1
         continue ;;
    esac
    if [ "$to" == "KestCommon.h" ]; then
      echo "$file:$line: the umbrella header is for hosts, not for the library itself"
      status=1
      continue
    fi
    to=${to%%/*}
    from_rank=$(rank_of "$from")
    to_rank=$(rank_of "$to")
    if [ "$from_rank" -lt 0 ]; then
      echo "$file:$line: folder kest/$from is not in the layer list of tools/check_layers.sh"
      status=1
    elif [ "$to_rank" -lt 0 ]; then
      echo "$file:$line: includes kest/$to, which is not in the layer list"
      status=1
    elif [ "$to_rank" -gt "$from_rank" ]; then
      echo "$file:$line: kest/$from includes kest/$to, a higher layer (order: ${LAYERS[*]})"
      status=1
    fi
  done < <(grep -rn --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"kest/' "$root/kest")
  return $status
}

if [ "${1:-}" == "--self-test" ]; then
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  mkdir -p "$scratch/kest/platform" "$scratch/kest/strings"
  printf '#include "kest/kest_export.h"\n#include "kest/platform/x.h"\n' >"$scratch/kest/strings/ok.h"
  check "$scratch" >/dev/null || { echo "self-test: a clean tree was refused"; exit 1; }
  printf '// fine\n#include "kest/strings/vel_string.h"\n' >"$scratch/kest/platform/x.h"
  out=$(check "$scratch")
  if [ $? -eq 0 ] || ! grep -q '^kest/platform/x.h:2: ' <<<"$out"; then
    echo "self-test: the planted upward include was not reported"
    exit 1
  fi
  echo "self-test: planted violation reported as: $out"
  exit 0
fi

root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
if check "$root"; then
  echo "layers: every include in $root/kest runs downwards"
else
  exit 1
fi
