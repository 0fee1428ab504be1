#!/bin/bash
# The main job: builds the Windows program and runs it under Wine against the emulated handheld,
# then shows the registry value it wrote and what the device emulator logged.
#
#   scripts/run.sh [PRESET]      PRESET: windows-x64 (default) or windows-x86
#
# Installs what is missing first (scripts/setup.sh). The handheld is a folder without the probe
# library, so the run also copies KOLTInfo.dll to it. Safe to run again: the build tree and its
# Wine prefix are reused, the device folder and the registry key are set up afresh.
set -uo pipefail

readonly self=${0##*/}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd) || exit 1
readonly root
readonly preset=${1:-windows-x64}
readonly oem_text='VURO Handheld 7 (OEM)'
readonly key='HKEY_CURRENT_USER\Software\Microsoft\Windows CE Services'

die() {
  echo "$self: error: $*" >&2
  exit 1
}

case $preset in
  windows-x64 | windows-x86) ;;
  *) die "unknown preset '$preset'; use windows-x64 or windows-x86" ;;
esac

readonly bin=$root/build/$preset
readonly logs=$root/build/logs
# The Wine prefix of the build tree, the one cmake/mingw-common.cmake gives the tests.
readonly wine_run=("$root/cmake/wine-run.sh" "$bin/tmp/wine-prefix")
readonly demo=$bin/demo
readonly device=$demo/device
readonly emulator_log=$demo/emulator.log
readonly regtool=$bin/tools/regtool/regtool.exe

hex() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'; }
unhex() { printf '%b' "$(sed 's/../\\x&/g' <<<"$1")"; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }
reg() { "${wine_run[@]}" "$regtool" "$@" | tr -d '\r'; }

# Runs a step with its output in a log, shown only when the step fails.
step() {
  local name=$1
  shift
  mkdir -p "$logs"
  if ! "$@" >"$logs/run-$preset-$name.log" 2>&1; then
    cat "$logs/run-$preset-$name.log" >&2
    die "$name failed (log: build/logs/run-$preset-$name.log)"
  fi
}

bash "$root/scripts/setup.sh" || die "setup failed"

cd "$root" || exit 1
echo "Building $preset ..."
step configure cmake --preset "$preset"
step build cmake --build --preset "$preset" --target vurodetect rapi_emulator probe_stand_in regtool

# A handheld without the probe library, and the synchronization service's record of it.
rm -rf "$demo"
mkdir -p "$device/Windows"
echo "Preparing the Wine prefix and the registry (DeviceOemInfo = \"$oem_text\") ..."
step registry reg reset set-oem REG_SZ "$(hex "$oem_text")00"

echo "Running vurodetect.exe under Wine ..."
(cd "$demo" && VURO_EMU_DEVICE="$(winpath "$device")" VURO_EMU_LOG="$(winpath "$emulator_log")" \
  "${wine_run[@]}" "$bin/vurodetect.exe")
exit_code=$?

echo
echo "Exit code: $exit_code"
echo
value_name="SDK[$oem_text]"
answer=$(reg query "$(hex "$value_name")")
ok=1
if [[ $answer =~ ^type\ ([0-9]+)\ size\ ([0-9]+)\ data\ ([0-9a-f]*)$ ]]; then
  type=${BASH_REMATCH[1]} size=${BASH_REMATCH[2]} data=${BASH_REMATCH[3]}
  # The model name runs up to the first zero byte; everything after it should be zero.
  model_hex=
  for ((i = 0; i < ${#data}; i += 2)); do
    [[ ${data:i:2} == 00 ]] && break
    model_hex+=${data:i:2}
  done
  rest=${data:${#model_hex}}
  type_name=$type
  [[ $type == 1 ]] && type_name="REG_SZ ($type)"
  echo "Value written in $key:"
  echo "  name:  $value_name"
  echo "  type:  $type_name"
  echo "  size:  $size bytes"
  echo "  model: $(unhex "$model_hex") ($((${#model_hex} / 2)) bytes)"
  if [[ $rest =~ ^(00)*$ ]]; then
    echo "  rest:  $((${#rest} / 2)) zero bytes"
  else
    echo "  rest:  NOT all zero: $rest"
    ok=0
  fi
  [[ $type == 1 && $size == 2048 ]] || ok=0
else
  echo "No value named \"$value_name\" in $key ($answer)."
  ok=0
fi

echo
echo "Device folder $device:"
if cmp -s "$device/Windows/KOLTInfo.dll" "$bin/KOLTInfo.dll"; then
  echo "  \\Windows\\KOLTInfo.dll: copied, the same bytes as $bin/KOLTInfo.dll"
else
  echo "  \\Windows\\KOLTInfo.dll: missing or different from $bin/KOLTInfo.dll"
  ok=0
fi
if [[ -e $device/koltout.txt ]]; then
  echo "  koltout.txt: still there"
  ok=0
else
  echo "  koltout.txt: deleted after reading"
fi

echo
echo "Emulator log ($emulator_log):"
if [[ -s $emulator_log ]]; then
  sed 's/^/  /' "$emulator_log"
else
  echo "  (empty: rapi.dll was not loaded)"
fi

[[ $exit_code == 0 && $ok == 1 ]]
