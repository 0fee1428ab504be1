#!/bin/bash
# End-to-end scenarios of vurodetect.exe under Wine: the real program, Wine's real registry and
# DLL loader, and the device emulator's rapi.dll beside the program over a device folder.
#
#   e2e.sh --bin DIR --regtool EXE --work DIR [--prefix PREFIX] [--list] [SCENARIO...] \
#          -- WINE_RUN...
#
# DIR holds vurodetect.exe, rapi.dll (the emulator), KOLTInfo.dll (the stand-in probe) and
# planted/rapi.dll. WINE_RUN is the command that runs a Windows program under Wine in the build
# tree's prefix (cmake/wine-run.sh PREFIX); --prefix names that prefix, so that a lingering Wine
# server can be started in it, which saves time. Without SCENARIO names every scenario runs. Each
# scenario gets a fresh device folder and a freshly reset registry key; the closing line reads
# "N passed, N failed".
set -uo pipefail

bin_dir=
regtool=
work_root=
prefix=
list_only=0
scenarios=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --bin) bin_dir=$2; shift 2 ;;
    --regtool) regtool=$2; shift 2 ;;
    --work) work_root=$2; shift 2 ;;
    --prefix) prefix=$2; shift 2 ;;
    --list) list_only=1; shift ;;
    --) shift; break ;;
    *) scenarios+=("$1"); shift ;;
  esac
done
wine_run=("$@")

readonly all_scenarios=(
  family_mixed_case
  family_absent
  oem_value_missing
  probe_present
  probe_missing
  probe_damaged
  start_never
  start_late
  report_without_model
  planted_rapi_ignored
  ja_trail_byte_v
  ja_double_byte_then_vuro
)

if [[ $list_only == 1 ]]; then
  printf '%s\n' "${all_scenarios[@]}"
  exit 0
fi
if [[ -z $bin_dir || -z $regtool || -z $work_root || ${#wine_run[@]} -eq 0 ]]; then
  echo "usage: $0 --bin DIR --regtool EXE --work DIR [--prefix PREFIX] [--list] [SCENARIO...]" \
    "-- WINE_RUN..." >&2
  exit 2
fi
[[ ${#scenarios[@]} -eq 0 ]] && scenarios=("${all_scenarios[@]}")
# Paths go to Wine as Z: paths, which need them absolute.
work_root=$(realpath -m "$work_root")
bin_dir=$(realpath -m "$bin_dir")
[[ -n $prefix ]] && prefix=$(realpath -m "$prefix")

readonly exe=$bin_dir/vurodetect.exe
readonly local_probe=$bin_dir/KOLTInfo.dll
readonly planted_rapi=$bin_dir/planted/rapi.dll
for file in "$exe" "$local_probe" "$bin_dir/rapi.dll" "$planted_rapi" "$regtool"; do
  [[ -f $file ]] || { echo "missing $file: build the Windows preset first" >&2; exit 1; }
done
readonly model_record_size=2048
readonly report_file=koltout.txt

# ---------------------------------------------------------------------------------------------
# Helpers

# The bytes of a text as lower-case hex.
hex() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'; }
# n zero bytes as hex.
zero_hex() { printf "%$(($1 * 2))s" '' | tr ' ' 0; }
# The Windows path of a host path, through Wine's Z: drive.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Shortens long runs of zero bytes at the end of hex dumps, for messages.
compact() {
  awk '{ if (match($0, /(00)+$/) && RLENGTH >= 32) {
           printf "%s<%d zero bytes>\n", substr($0, 1, RSTART - 1), RLENGTH / 2
         } else print }' <<<"$1" | paste -sd '|'
}

failures=()
check() {  # check CONDITION-EXIT-STATUS MESSAGE
  if [[ $1 != 0 ]]; then failures+=("$2"); fi
}
expect_eq() {  # expect_eq ACTUAL EXPECTED WHAT
  if [[ $1 != "$2" ]]; then
    failures+=("$3: expected [$2], got [$1]")
  fi
}

# Locale of the scenario's Wine processes; the Japanese scenarios set it to ja_JP.UTF-8, which
# gives the ANSI code page 932.
locale_env=()

reg() { env "${locale_env[@]}" "${wine_run[@]}" "$regtool" "$@" | tr -d '\r'; }

# A fresh folder for the scenario: device/ stands for the handheld's file system, work/ is the
# program's working folder.
new_case() {
  case_dir=$work_root/$1
  rm -rf "$case_dir"
  mkdir -p "$case_dir/device/Windows" "$case_dir/work"
  device=$case_dir/device
  emu_log=$case_dir/emulator.log
  locale_env=()
  emu_env=()
}

put_probe() {  # put_probe present|missing|damaged
  case $1 in
    present) cp "$local_probe" "$device/Windows/KOLTInfo.dll" ;;
    damaged) head -c 8192 "$local_probe" >"$device/Windows/KOLTInfo.dll" ;;
    missing) ;;
  esac
}

# Resets the key, sets DeviceOemInfo to the hex bytes given (REG_SZ, stored with its terminating
# zero byte) and keeps the key's contents as $before. More regtool commands may follow.
set_oem_hex() {
  local oem_hex=$1
  shift
  before=$(reg reset set-oem REG_SZ "${oem_hex}00" "$@" dump | sort)
}

# Runs the program from the working folder with the emulator pointed at the device folder.
# Sets $exit_code and $elapsed_ms.
run_program() {  # run_program [EXE] [WORKDIR]
  local program=${1:-$exe} dir=${2:-$case_dir/work}
  local start end
  start=$(date +%s%N)
  (cd "$dir" && env "${locale_env[@]}" VURO_EMU_DEVICE="$(winpath "$device")" \
      VURO_EMU_LOG="$(winpath "$emu_log")" "${emu_env[@]}" "${wine_run[@]}" "$program")
  exit_code=$?
  end=$(date +%s%N)
  elapsed_ms=$(((end - start) / 1000000))
}

after_dump() { after=$(reg dump | sort); }

expect_exit_zero() { expect_eq "$exit_code" 0 "exit code"; }

expect_nothing_written() {
  after_dump
  if [[ $after != "$before" ]]; then
    failures+=("registry key changed by the run: before [$(compact "$before")], after \
[$(compact "$after")]")
  fi
}

# The model value: REG_SZ, 2048 bytes, the model name and zero bytes, under "SDK[" + OEM + "]".
expect_model_value() {  # expect_model_value OEM_HEX MODEL_HEX
  local name_hex data_hex line
  name_hex=$(hex 'SDK[')$1$(hex ']')
  data_hex=$2$(zero_hex $((model_record_size - ${#2} / 2)))
  line="$name_hex 1 $model_record_size $data_hex"
  after_dump
  local expected
  expected=$( (grep -v "^$name_hex " <<<"$before"; echo "$line") | grep -v '^$' | sort)
  if [[ $after != "$expected" ]]; then
    failures+=("registry key after the run: expected [$(compact "$expected")], got \
[$(compact "$after")]")
  fi
}

expect_rapi_not_loaded() {
  if [[ -s $emu_log ]]; then
    failures+=("rapi.dll was loaded: $(head -n 2 "$emu_log" | paste -sd '|')")
  fi
}

expect_report_gone() {
  [[ ! -e $device/$report_file ]]
  check $? "the report file is still on the device"
}

expect_device_probe_is_local_copy() {
  cmp -s "$device/Windows/KOLTInfo.dll" "$local_probe"
  check $? "the device's KOLTInfo.dll differs from the local one"
}

log_count() { grep -c -- "$1" "$emu_log" 2>/dev/null; }

expect_log_count() {  # expect_log_count PATTERN COUNT WHAT
  expect_eq "$(log_count "$1")" "$2" "$3"
}

# Every run that reached the device ends cleanly: the Remote API stopped with no device file
# left open and rapi.dll released by the program.
expect_clean_close() {
  expect_log_count '^CeRapiUninit() -> 0x00000000; open device handles: 0$' 1 "CeRapiUninit calls"
  expect_log_count '^rapi.dll unloaded by FreeLibrary; open device handles: 0$' 1 \
    "rapi.dll released by FreeLibrary"
  expect_log_count 'refused\|not an open device file' 0 "refused device calls"
}

# Log patterns of the calls the program makes, with the exact arguments it must pass.
create_call() {  # create_call DEVICE_PATH ACCESS DISPOSITION
  printf '^CeCreateFile("%s", access=%s, share=0x00000001, security=null, ' "$1" "$2"
  printf 'disposition=%s, attributes=0x00000080, template=null)' "$3"
}
readonly probe_path='\\Windows\\KOLTInfo.dll'
readonly probe_open=$(create_call "$probe_path" GENERIC_READ OPEN_EXISTING)
readonly probe_create="$(create_call "$probe_path" GENERIC_WRITE CREATE_ALWAYS) -> 0x"
readonly report_open="$(create_call koltout.txt GENERIC_READ OPEN_EXISTING) -> 0x"
readonly invoke_call="^CeRapiInvoke(\"$probe_path\", \"VuroModelInfo\", inputSize=0, input=null, \
outputSize=set, output=set, stream=null, reserved=0)"
readonly report_delete='^CeDeleteFile("koltout.txt") -> TRUE$'

# The probe found, invoked once, its report read, closed and deleted.
expect_one_good_query() {
  expect_log_count "$probe_open -> 0x" 1 "presence tests that found the probe"
  expect_log_count "$probe_create" 0 "copies of the probe"
  expect_log_count "$invoke_call -> 0x00000000;" 1 "successful invocations"
  expect_log_count "^CeRapiInvoke(" 1 "invocations"
  expect_log_count "$report_open" 1 "report file opens"
  expect_log_count "$report_delete" 1 "report file deletions"
}

readonly default_model=VH7-A100

# ---------------------------------------------------------------------------------------------
# Scenarios

scenario_family_mixed_case() {
  new_case family_mixed_case
  put_probe present
  local oem='Acme vUrO Handheld 7 (OEM)'
  set_oem_hex "$(hex "$oem")"
  emu_env=(VURO_EMU_MODEL="VH7 Pro" VURO_EMU_SERIAL=778899)
  run_program
  expect_exit_zero
  expect_model_value "$(hex "$oem")" "$(hex 'VH7 Pro')"
  expect_report_gone
  expect_one_good_query
  expect_clean_close
}

scenario_family_absent() {
  local oem
  for oem in 'Acme V-U-R-O Handheld' 'ORUV VUR0 Handheld' 'VUR'; do
    new_case family_absent
    set_oem_hex "$(hex "$oem")"
    run_program
    expect_exit_zero
    expect_nothing_written
    expect_rapi_not_loaded
  done
}

scenario_oem_value_missing() {
  # A key without DeviceOemInfo, then no key at all.
  new_case oem_value_missing
  before=$(reg reset dump | sort)
  run_program
  expect_exit_zero
  expect_nothing_written
  expect_rapi_not_loaded

  new_case oem_value_missing
  before=$(reg delete-key dump | sort)
  run_program
  expect_exit_zero
  expect_nothing_written
  expect_eq "$after" "no key" "registry after a run without the key"
  expect_rapi_not_loaded
}

scenario_probe_present() {
  # Also: an earlier value of the same name is replaced, the report arrives in reads of 5 bytes,
  # and the probe hands out an output block that the program has to release.
  new_case probe_present
  put_probe present
  local oem='VURO Handheld 7'
  set_oem_hex "$(hex "$oem")" set REG_BINARY "$(hex "SDK[$oem]")" 616263
  emu_env=(VURO_EMU_READ_CHUNK=5 VURO_EMU_OUTPUT_BLOCK=1)
  run_program
  expect_exit_zero
  expect_model_value "$(hex "$oem")" "$(hex "$default_model")"
  expect_report_gone
  expect_device_probe_is_local_copy
  expect_one_good_query
  expect_log_count '^CeWriteFile(' 0 "writes to the device"
  expect_log_count '^CeReadFile(.*-> TRUE; read 5$' 13 "report reads of 5 bytes"
  expect_log_count 'output block 69 bytes' 1 "output blocks handed out"
  expect_clean_close
}

scenario_probe_missing() {
  new_case probe_missing
  put_probe missing
  local oem='VURO Handheld 7'
  set_oem_hex "$(hex "$oem")"
  run_program
  expect_exit_zero
  expect_model_value "$(hex "$oem")" "$(hex "$default_model")"
  expect_device_probe_is_local_copy
  expect_report_gone
  expect_log_count "$probe_open -> INVALID_HANDLE_VALUE" 1 "presence tests that missed the probe"
  expect_log_count "$probe_create" 1 "copies of the probe"
  expect_eq "$(grep -o '^CeWriteFile(.*written [0-9]*' "$emu_log" | sed 's/.*written //' |
    tr '\n' ' ')" "8192 8192 3616 " "chunks written to the device"
  expect_log_count "$invoke_call -> 0x00000000;" 1 "successful invocations"
  expect_log_count "$report_delete" 1 "report file deletions"
  expect_clean_close
}

scenario_probe_damaged() {
  new_case probe_damaged
  put_probe damaged
  local oem='VURO Handheld 7'
  set_oem_hex "$(hex "$oem")"
  run_program
  expect_exit_zero
  expect_model_value "$(hex "$oem")" "$(hex "$default_model")"
  expect_device_probe_is_local_copy
  expect_report_gone
  # First invocation fails on the damaged copy, a forced copy follows, the second one succeeds.
  local calls="^CeRapiInvoke(.*) -> 0x[0-9A-F]*\|^CeCreateFile(\"$probe_path\", access=[A-Z_]*"
  local sequence
  sequence=$(grep -o "$calls" "$emu_log" | sed 's/.*-> //; s/.*access=//' | tr '\n' ' ')
  expect_eq "$sequence" \
    "GENERIC_READ 0x800700C1 GENERIC_WRITE 0x00000000 " \
    "probe presence test, invocations and copies in order"
  expect_log_count "$report_open" 1 "report file opens"
  expect_log_count "$report_delete" 1 "report file deletions"
  expect_clean_close
}

# A start that is not confirmed within the program's wait: the run ends after about 2 s, reaches
# no device file and writes nothing; the Remote API is not stopped, as it never started.
expect_unconfirmed_start() {
  expect_exit_zero
  expect_nothing_written
  # Wine itself can take seconds to start on a busy machine: the upper bound only catches a hang.
  if ((elapsed_ms < 1500 || elapsed_ms > 30000)); then
    failures+=("the run took $elapsed_ms ms; expected about 2000 ms")
  fi
  expect_log_count '^CeRapiInitEx(.*) -> 0x00000000' 1 "starts"
  expect_log_count '^Ce[A-Za-z]*(' 1 "Remote API calls"
  expect_log_count '^CeRapiUninit' 0 "CeRapiUninit calls"
}

scenario_start_never() {
  new_case start_never
  put_probe present
  set_oem_hex "$(hex 'VURO Handheld 7')"
  emu_env=(VURO_EMU_START=never)
  run_program
  expect_unconfirmed_start
  expect_log_count '^rapi.dll unloaded by FreeLibrary' 1 "rapi.dll released by FreeLibrary"
}

scenario_start_late() {
  # The device comes up after 3 s, too late for the program's wait of 2 s.
  new_case start_late
  put_probe present
  set_oem_hex "$(hex 'VURO Handheld 7')"
  emu_env=(VURO_EMU_START=late)
  run_program
  expect_unconfirmed_start
}

scenario_report_without_model() {
  new_case report_without_model
  put_probe present
  set_oem_hex "$(hex 'VURO Handheld 7')"
  emu_env=(VURO_EMU_REPORT='<model_info><model>VH7</model><serial_num>1</serial_num>')
  run_program
  expect_exit_zero
  expect_nothing_written
  expect_report_gone
  expect_one_good_query
  expect_clean_close
}

scenario_planted_rapi_ignored() {
  # The program in a folder of its own without rapi.dll; planted copies in the working folder
  # and on the search path must not be loaded.
  new_case planted_rapi_ignored
  put_probe present
  local app=$case_dir/app path_dir=$case_dir/path marker=$case_dir/planted.marker
  mkdir -p "$app" "$path_dir"
  cp "$exe" "$local_probe" "$app/"
  cp "$planted_rapi" "$case_dir/work/rapi.dll"
  cp "$planted_rapi" "$path_dir/rapi.dll"
  set_oem_hex "$(hex 'VURO Handheld 7')"
  emu_env=(VURO_EMU_PLANTED_MARKER="$(winpath "$marker")" WINEPATH="$(winpath "$path_dir")")
  run_program "$app/vurodetect.exe"
  expect_exit_zero
  expect_nothing_written
  [[ ! -e $marker ]]
  check $? "a planted rapi.dll was loaded: $(cat "$marker" 2>/dev/null)"
  expect_rapi_not_loaded

  # The same DLL beside the program is loaded, leaves its marker and serves the run.
  new_case planted_rapi_ignored
  put_probe present
  mkdir -p "$app"
  cp "$exe" "$local_probe" "$planted_rapi" "$app/"
  set_oem_hex "$(hex 'VURO Handheld 7')"
  emu_env=(VURO_EMU_PLANTED_MARKER="$(winpath "$marker")")
  run_program "$app/vurodetect.exe"
  expect_exit_zero
  [[ -e $marker ]]
  check $? "the planted rapi.dll left no marker when loaded from the program's folder"
  expect_model_value "$(hex 'VURO Handheld 7')" "$(hex "$default_model")"
}

# The Japanese code page is in force for the scenario's Wine processes.
use_japanese_code_page() {
  locale_env=(LC_ALL=ja_JP.UTF-8)
}
expect_code_page_932() {
  expect_eq "$(head -n 1 <<<"$acp")" 932 "ANSI code page under LC_ALL=ja_JP.UTF-8"
}

scenario_ja_trail_byte_v() {
  # 0x83 0x56 is one character whose trail byte is "V"; 0x83 0x76 one whose trail byte is "v".
  local oem_hex
  local first_oem_hex=8356"$(hex URO)"
  for oem_hex in "$first_oem_hex" 8376"$(hex URO)" 8356"$(hex uro)"; do
    new_case ja_trail_byte_v
    put_probe present
    use_japanese_code_page
    if [[ $oem_hex == "$first_oem_hex" ]]; then  # once is enough
      acp=$(reg acp)
      expect_code_page_932
    fi
    set_oem_hex "$oem_hex"
    run_program
    expect_exit_zero
    expect_nothing_written
    expect_rapi_not_loaded
  done
}

scenario_ja_double_byte_then_vuro() {
  # A double-byte character, then the family word in lower case; the model name has double-byte
  # characters too, and both keep their bytes.
  new_case ja_double_byte_then_vuro
  put_probe present
  use_japanese_code_page
  acp=$(reg acp)
  expect_code_page_932
  local oem_hex=82a0"$(hex 'vuro ')"8356
  local model_hex
  model_hex=$(hex 'VH7-')8376838d
  set_oem_hex "$oem_hex"
  emu_env=(VURO_EMU_REPORT_HEX="$(hex '<Model_Info><Model>')$model_hex$(hex \
'</Model><Serial_Num>42</Serial_Num>')")
  run_program
  expect_exit_zero
  expect_model_value "$oem_hex" "$model_hex"
  expect_report_gone
  expect_one_good_query
  expect_clean_close
}

# ---------------------------------------------------------------------------------------------

# A Wine server that lingers for a while after its last program keeps the runs of the scenarios,
# and of the next test, from waiting for a server to shut down and start again (about 2 s each
# time). It is started only in a prefix that cmake/wine-run.sh has finished creating, before any
# program, and with no pipe of ours, so that no test waits for its end.
linger_wine_server() {
  [[ -n $prefix && -e $prefix/.vuro-prefix-ready ]] || return 1
  WINEPREFIX=$prefix WINEDEBUG=-all /usr/lib/wine/wineserver64 -p10 </dev/null >/dev/null 2>&1
  return 0  # a server already running is fine as well
}
# Runs a program under Wine with none of our pipes: Wine's own background processes, started
# with the first program that the server serves, inherit them and could hold them open.
warm_up() { "${wine_run[@]}" "$regtool" acp </dev/null >/dev/null 2>&1; }
if ! linger_wine_server; then
  # The first run creates the prefix; its server is left to end before a lingering one starts.
  warm_up && [[ -n $prefix ]] && WINEPREFIX=$prefix timeout 30 /usr/lib/wine/wineserver64 -w
  linger_wine_server
fi
warm_up || { echo "cannot run programs under Wine: ${wine_run[*]}" >&2; exit 1; }

passed=0
failed=0
for scenario in "${scenarios[@]}"; do
  if ! declare -F "scenario_$scenario" >/dev/null; then
    echo "unknown scenario: $scenario" >&2
    exit 2
  fi
  failures=()
  started=$(date +%s%N)
  "scenario_$scenario"
  seconds=$(printf '%.1f' "$(( ($(date +%s%N) - started) / 1000000 ))e-3")
  if [[ ${#failures[@]} -eq 0 ]]; then
    echo "PASS $scenario (${seconds} s)"
    passed=$((passed + 1))
  else
    echo "FAIL $scenario (${seconds} s)"
    printf '  - %s\n' "${failures[@]}"
    if [[ -s ${emu_log:-} ]]; then
      echo "  emulator log of the last run ($emu_log):"
      sed 's/^/    /' "$emu_log"
    fi
    failed=$((failed + 1))
  fi
done
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
