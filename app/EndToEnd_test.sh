#!/usr/bin/env bash
# End-to-end test: the real ratenblick beside a real ktx-exchange, used as a user uses it, on an
# X server of its own (Xvfb, no window manager). It checks what only the whole program shows:
# the caption and the place beside the host window, the listing on the X clipboard byte for
# byte, the notes file after typing a project sum, that "Neu lesen" leaves the window where the
# user put it, the files a window-manager close leaves behind, and the close after a document
# without an order. Screenshots of the interesting moments go to ARTIFACTS.
#
# Usage: EndToEnd_test.sh RATENBLICK KTX_EXCHANGE RB_SCREENSHOT RB_WM_DELETE ARTIFACTS
# Exit: 0 passed, 1 failed, 77 skipped (no X server could be started, or a tool is missing).
# Everything it starts runs under a temporary folder of its own (the private XDG_RUNTIME_DIR
# and the host's data folder), removed at the end; every wait is bounded.

# The conditions handed to wait_until look unreachable to shellcheck.
# shellcheck disable=SC2317
set -uo pipefail
shopt -u patsub_replacement 2>/dev/null || true

if [ $# -ne 5 ]; then
  echo "usage: $0 RATENBLICK KTX_EXCHANGE RB_SCREENSHOT RB_WM_DELETE ARTIFACTS" >&2
  exit 2
fi
app_bin=$1 host_bin=$2 shot_bin=$3 wm_delete_bin=$4 artifacts=$5

skip() {
  echo "SKIPPED: $*"
  exit 77
}
for tool in Xvfb xdotool xclip iconv cmp od timeout; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done
if [ -z "$wm_delete_bin" ] || [ ! -x "$wm_delete_bin" ]; then
  skip "rb-wm-delete was not built (no libxcb)"
fi
if locale -a 2>/dev/null | grep -qix 'c.utf-\?8'; then export LC_ALL=C.UTF-8; else export LC_ALL=C; fi

work=$(mktemp -d "${TMPDIR:-/tmp}/rb-e2e.XXXXXX") || skip "no temporary folder"
mkdir -p "$artifacts"
rm -f "$artifacts"/*.png "$artifacts"/*.log
started=()  # pids of everything this test started, ended at exit

# Newest first: the programs before the X server they draw on.
cleanup() {
  local i
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do kill "${started[i]}" 2>/dev/null; done
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do wait "${started[i]}" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

now_ms() { echo $(($(date +%s%N) / 1000000)); }
t0=$(now_ms)
shots=0

screenshot() {  # NAME
  shots=$((shots + 1))
  local file
  file=$artifacts/$(printf '%02d' "$shots")-$1.png
  timeout 30 "$shot_bin" "$file" >/dev/null 2>&1 || echo "warning: no screenshot $file" >&2
}

fail() {
  echo "FAILED: $*" >&2
  screenshot failure
  local log
  for log in "$work"/*.log; do
    [ -f "$log" ] || continue
    cp "$log" "$artifacts/"
    echo "--- $(basename "$log") (last lines)" >&2
    tail -n 15 "$log" >&2
  done
  echo "Screenshots and logs: $artifacts" >&2
  exit 1
}

# wait_until SECONDS WHAT COMMAND...: runs COMMAND every 100 ms until it succeeds.
wait_until() {
  local limit=$1 what=$2
  shift 2
  local deadline=$(($(now_ms) + limit * 1000))
  until "$@"; do
    (($(now_ms) < deadline)) || fail "nothing after ${limit} s: $what"
    sleep 0.1
  done
}

# --- the X server ---------------------------------------------------------------------------

# -displayfd lets the server pick a free display itself, so parallel runs cannot collide.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
started+=($!)
xvfb=$!
deadline=$(($(now_ms) + 15000))
until [ -s "$work/display" ]; do
  kill -0 "$xvfb" 2>/dev/null || skip "Xvfb could not start: $(tail -n 3 "$work/xvfb.log")"
  (($(now_ms) < deadline)) || skip "Xvfb named no display within 15 s"
  sleep 0.1
done
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY
deadline=$(($(now_ms) + 15000))
until xdotool getdisplaygeometry >/dev/null 2>&1; do
  (($(now_ms) < deadline)) || skip "the X server on $DISPLAY does not answer"
  sleep 0.1
done
# The programs talk to this server and nothing else: no Wayland, no offscreen Qt, no session
# manager, and a session bus address that leads nowhere, so that Qt's accessibility bridge
# neither reaches the developer's desktop bus nor autolaunches one (libdbus leaks a buffer on
# that path, which the sanitizer build would count against the program).
unset WAYLAND_DISPLAY SESSION_MANAGER
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-session-bus
export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
kxtemp=$XDG_RUNTIME_DIR/KXTempDir

# --- the test's order -------------------------------------------------------------------------

# One position per entry: kind|position|description|price as written into the JSON|price in
# cents. Hidden kinds (t, d, a, -) are left out of the table and the sums. The descriptions
# carry what the listing must handle: entity characters (umlauts, sharp s, euro, per mille,
# typographic quotes, oe, Y umlaut, times), characters that stay (ampersand, less-than, double
# quote, en dash, low quote, no-break space), a price sent as text and negative prices.
nbsp=$'\xC2\xA0'
parts=(
  't||Gartenhaus am Lindenweg, Leistungsstand 31.10.2024|0|0'
  '|01|Baugrube 4 × 5 m, Größe nach Plan|1250.00|125000'
  '|02|Fundament & Bodenplatte <C25/30>|3415.5|341550'
  'd||Zwischensumme Gründung|4665.50|0'
  '|03|Tür "Eiche" – Einbau mit „Dichtband“|"250,00"|25000'
  "|04|Ölheizung ersetzt: Wärmepumpe ‘Luft’ 9 kW, Zuschlag 0,5 ‰ = 60 €|12780.50|1278050"
  'a||Alternative: Erdwärmesonde|9999|0'
  "|05|Nachlass Ÿvonne Cœur, 5${nbsp}%|-500|-50000"
  '-||Eventualposition Winterbau|2400|0'
  '|06|Restarbeiten Außenanlage, Zaun|4000|400000'
  '|07|Abzüglich bereits berechneter Abschlagszahlungen|-58912.75|-5891275'
)
linkuid='{3C9D7E21-0A4B-4F6C-8E2D-5B1A9F7C0D3E}'
adress_smart='Gärtnerei Ölmann & Söhne GbR, Am Weiher 3, 79100 Freiburg'
print_name='2. Abschlagsrechnung AR-2024-0311'
tax_percent=19
# Earlier invoices 17 and 42 of ktx-exchange's sample database count (58.912,75), 39 does not;
# the last position deducts exactly that, so the status cell reads "OK".
info_lines='RE,17,AR-2024-0117,1. Abschlagsrechnung,15.05.2024,,,,,,0\r\nRE,39,AR-2024-0139,2. Abschlagsrechnung (storniert),01.07.2024,,,,,,0\r\nRE,42,AR-2024-0142,2. Abschlagsrechnung,12.07.2024,,,,,,0\r\n'
metrics='40,60,1280,860'  # the window goes to 60,80, well inside the 1280x800 screen

json_string() {
  local s=${1//\\/\\\\}
  printf '"%s"' "${s//\"/\\\"}"
}

{
  printf '{\n  "Order": [\n    {\n'
  printf '      "LINKUID": %s,\n' "$(json_string "$linkuid")"
  printf '      "PrintName": %s,\n' "$(json_string "$print_name")"
  printf '      "Adress": [ { "AdressSmart": %s } ],\n' "$(json_string "$adress_smart")"
  printf '      "InfoLines": "%s",\n' "$info_lines"
  printf '      "Parts": [\n'
  row=0
  for entry in "${parts[@]}"; do
    IFS='|' read -r kind pos desc price _ <<<"$entry"
    row=$((row + 1))
    [ "$row" -gt 1 ] && printf ',\n'
    printf '        { "Row": "%d", "TypLine": %s, "Position": %s, "Description1": %s, "Price": %s }' \
      "$row" "$(json_string "$kind")" "$(json_string "$pos")" "$(json_string "$desc")" "$price"
  done
  printf '\n      ]\n    }\n  ]\n}\n'
} >"$work/Rechnung.json"
printf '{ "Order": [ ], "Version": "7.1" }\n' >"$work/OhneAuftrag.json"

# "#,0.00" with the program's default separators: -1234567 cents -> -12.345,67
amount() {
  local cents=$1 sign=""
  if ((cents < 0)); then
    sign=-
    cents=$((-cents))
  fi
  local int=$((cents / 100)) groups=""
  while ((int >= 1000)); do
    groups=.$(printf '%03d' $((int % 1000)))$groups
    int=$((int / 1000))
  done
  printf '%s%d%s,%02d' "$sign" "$int" "$groups" $((cents % 100))
}

# The HTML entities of the Windows-1252 characters, as UTF-8 patterns: the seven specials from
# 0x80 to 0x9F, then the HTML 4.01 names of 0xA1 to 0xFF in code order.
entity_chars=($'\xE2\x80\x9D' $'\xE2\x80\x9C' $'\xE2\x80\x98' $'\xE2\x80\xB0' $'\xE2\x82\xAC'
  $'\xC5\x93' $'\xC5\xB8')
entity_names=(rdquo ldquo lsquo permil euro oelig Yuml)
latin1=(iexcl cent pound curren yen brvbar sect uml copy ordf laquo not shy reg macr deg plusmn
  sup2 sup3 acute micro para middot cedil sup1 ordm raquo frac14 frac12 frac34 iquest Agrave
  Aacute Acirc Atilde Auml Aring AElig Ccedil Egrave Eacute Ecirc Euml Igrave Iacute Icirc Iuml
  ETH Ntilde Ograve Oacute Ocirc Otilde Ouml times Oslash Ugrave Uacute Ucirc Uuml Yacute THORN
  szlig agrave aacute acirc atilde auml aring aelig ccedil egrave eacute ecirc euml igrave iacute
  icirc iuml eth ntilde ograve oacute ocirc otilde ouml divide oslash ugrave uacute ucirc uuml
  yacute thorn yuml)
for i in "${!latin1[@]}"; do
  code=$((0xA1 + i))
  lead=$(printf '\\x%02x' $((0xC0 | code >> 6)))
  trail=$(printf '\\x%02x' $((0x80 | (code & 0x3F))))
  entity_chars+=("$(printf '%b' "$lead$trail")")
  entity_names+=("${latin1[$i]}")
done
[ "${#entity_chars[@]}" -eq 102 ] || fail "the test's entity table has ${#entity_chars[@]} entries"

encode_html() {
  local s=$1 i
  for i in "${!entity_chars[@]}"; do s=${s//"${entity_chars[$i]}"/"&${entity_names[$i]};"}; done
  printf '%s' "$s"
}

# The shown rows, and from them the sums and the listing (every shown row but the last two).
shown_pos=() shown_desc=() shown_cents=()
for entry in "${parts[@]}"; do
  IFS='|' read -r kind pos desc _ cents <<<"$entry"
  case $kind in t | d | a | -) continue ;; esac
  shown_pos+=("$pos") shown_desc+=("$desc") shown_cents+=("$cents")
done
rows=$((${#shown_pos[@]} + 1))  # N, the header included
order_cents=0
for ((j = 1; j <= rows - 2; j++)); do order_cents=$((order_cents + shown_cents[j - 1])); done
# Gross in cents, rounded; the order is chosen so that no half cent is left to round.
((order_cents * (100 + tax_percent) % 100 != 50)) || fail "the test's order sum rounds a half cent"
gross_cents=$(((order_cents * (100 + tax_percent) + 50) / 100))
summe="$(amount "$order_cents") / $(amount "$gross_cents")"

fragment='<table style="width:100%">'
plain=""
for ((j = 1; j <= rows - 3; j++)); do
  pos=${shown_pos[j - 1]} desc=${shown_desc[j - 1]} price=$(amount "${shown_cents[j - 1]}")
  fragment+="<tr><th>$(encode_html "$pos")</th><th>$(encode_html "$desc")</th>"
  fragment+="<th  align=right>$(encode_html "$price")</th></tr>"
  plain+="$pos"$'\t'"$desc"$'\t'"$price"$'\r\n'
done
fragment+='</Table><table style="width:100%"><tr><th colspan="2">'
fragment+="$(encode_html '</b>Auftragssumme einschliesslich diese Rechnung Netto/Brutto:<b>')"
fragment+="</th><th  align=right>$(encode_html "$summe")</th></tr></Table>"

expect=$work/expected
mkdir "$expect"
printf '%s' "$fragment" >"$expect/text-html"
printf '%s' "$plain" >"$expect/text-plain"
iconv -f UTF-8 -t CP1252 <"$expect/text-html" >"$expect/fragment-1252" ||
  fail "the test's fragment has a character outside Windows-1252"
fragment_bytes=$(wc -c <"$expect/fragment-1252")
{
  printf 'Version:1.0\r\n'
  printf '%s%.8d\r\n' StartHTML: 97 EndHTML: $((fragment_bytes + 205)) StartFragment: 172 \
    EndFragment: $((fragment_bytes + 172))
  printf '%s' '<sHtml><head><title>HTML clipboard</title></head><body><!--StartFragment-->'
  cat "$expect/fragment-1252"
  printf '%s' '<!--EndFragment--></body></sHtml>'
} >"$expect/html-format"
# The offsets must point where they say, or the expectation itself is wrong.
[ "$(tail -c +173 "$expect/html-format" | head -c "$fragment_bytes" | od -An -tx1)" = \
  "$(od -An -tx1 <"$expect/fragment-1252")" ] || fail "the test's own header offsets are wrong"

# --- helpers on the running programs ----------------------------------------------------------

start_host() {  # LOG PIPE DOCUMENT
  "$host_bin" --pipe-name "$2" --data-folder "$work/daten" --sample --document "$3" \
    --tax-rate "$tax_percent" --office-metrics "$metrics" 2>"$work/$1" &
  host=$!
  started+=("$host")
  host_log=$work/$1
  wait_until 20 "ktx-exchange listening on $2" grep -q "listening on" "$host_log"
}

host_ended() { ! kill -0 "$host" 2>/dev/null; }
stop_host() {
  kill -TERM "$host" 2>/dev/null
  wait_until 20 "ktx-exchange stopping" host_ended
  wait "$host"
  local rc=$?
  [ "$rc" -eq 0 ] || fail "ktx-exchange ended with exit code $rc"
}

start_app() {  # LOG
  "$app_bin" >"$work/$1" 2>&1 &
  app=$!
  started+=("$app")
}

# The app's mapped window that is no message box (they all carry the application title).
main_window_found() {
  local id
  for id in $(xdotool search --onlyvisible --pid "$app" 2>/dev/null); do
    [ "$(xdotool getwindowname "$id" 2>/dev/null)" != "Ratenblick Hilfe" ] || continue
    main=$id
    return 0
  done
  return 1
}

# --all: xdotool joins its conditions with "or" unless told otherwise.
info_box_found() {
  box=$(xdotool search --all --onlyvisible --pid "$app" --name '^Ratenblick Hilfe$' 2>/dev/null |
    head -n 1)
  [ -n "$box" ]
}
info_box_gone() { ! info_box_found; }

caption_is_not() { [ "$(xdotool getwindowname "$main" 2>/dev/null)" != "$1" ]; }

# Without a window manager there is no frame: the window's own origin on the screen is the one
# the program placed.
geometry() {  # WINDOW -> "left top width height"
  xdotool getwindowgeometry --shell "$1" |
    awk -F= '{v[$1] = $2} END {print v["X"], v["Y"], v["WIDTH"], v["HEIGHT"]}'
}

# Clicks a control of Panel6, which is 215 pixels wide at the window's right edge, in the middle
# of its rectangle (left, top, width, height inside the panel).
click_in_panel6() {
  local x y w
  read -r x y w _ <<<"$(geometry "$main")"
  # --sync waits for the pointer to arrive, and never returns when it is there already.
  timeout 10 xdotool mousemove --sync $((x + w - 215 + $1 + $3 / 2)) $((y + $2 + $4 / 2))
  xdotool click 1
}

# Return on the box's default button "Schließen".
close_info_box() {
  timeout 10 xdotool windowfocus --sync "$box" >/dev/null 2>&1
  xdotool key Return
  wait_until 10 "the information box closing" info_box_gone
}

app_ended() { ! kill -0 "$app" 2>/dev/null; }

expect_exit_0() {  # WHAT
  wait_until 30 "$1" app_ended
  wait "$app"
  local rc=$?
  [ "$rc" -eq 0 ] || fail "ratenblick ended with exit code $rc after $1"
}

# Document copies and query results are deleted by the program; what stays in KXTempDir is the
# placement and the column layout (the host removes its service file when it stops).
only_stored_files_left() {  # WHEN
  local left
  left=$(find "$kxtemp" -type f ! -name UserMode.INI ! -name dgdview.COL)
  [ -z "$left" ] || fail "files left in KXTempDir after $1: $left"
}

read_clipboard() {  # TARGET FILE
  timeout 15 xclip -selection clipboard -o -t "$1" >"$2" 2>"$work/xclip.err" ||
    fail "the clipboard gives no \"$1\": $(cat "$work/xclip.err")"
}

same_bytes() {  # WHAT EXPECTED ACTUAL
  cmp -s "$2" "$3" && return 0
  echo "expected:" >&2
  od -c "$2" | head -n 40 >&2
  echo "actual:" >&2
  od -c "$3" | head -n 40 >&2
  fail "$1 differs: $(cmp "$2" "$3" 2>&1)"
}

# --- run 1: the order ---------------------------------------------------------------------

mkdir "$work/daten"
start_host host-1.log RatenblickE2E "$work/Rechnung.json"
start_app ratenblick-1.log

# 1. The window appears and loads: the caption changes from "Ansicht" once the order is there.
wait_until 30 "the window of ratenblick" main_window_found
wait_until 30 "the loaded caption" caption_is_not "Ansicht"
caption=$(xdotool getwindowname "$main")
[ "$caption" = "$adress_smart  $print_name" ] || fail "caption \"$caption\""

# 2. Beside the host window: its left and top from "OFFICEMETRICS" plus 20.
IFS=, read -r host_left host_top _ <<<"$metrics"
read -r left top _ <<<"$(geometry "$main")"
[ "$left $top" = "$((host_left + 20)) $((host_top + 20))" ] ||
  fail "window at $left,$top, expected $((host_left + 20)),$((host_top + 20))"
screenshot loaded

# 3. The listing: "Auflistung kopieren " at 93,4 (119 x 25) in Panel6. The information box
# shows once the clipboard holds the listing.
click_in_panel6 93 4 119 25
wait_until 20 "the information box after copying" info_box_found
screenshot listing-copied
read_clipboard TARGETS "$work/targets"
for target in "HTML Format" text/html text/plain; do
  grep -qxF "$target" "$work/targets" || fail "the clipboard offers no \"$target\": $(tr '\n' ' ' <"$work/targets")"
done
read_clipboard "HTML Format" "$work/html-format"
same_bytes '"HTML Format"' "$expect/html-format" "$work/html-format"
read_clipboard text/html "$work/text-html"
same_bytes text/html "$expect/text-html" "$work/text-html"
read_clipboard text/plain "$work/text-plain"
same_bytes text/plain "$expect/text-plain" "$work/text-plain"

# 4. The information box goes with its button.
close_info_box

# 5. A project sum of 1000 net in Pnetto (33,193, 115 x 21): the notes keep it with its gross.
notes=$work/daten/Rechenmappe/$linkuid.txt
timeout 10 xdotool windowfocus --sync "$main" >/dev/null 2>&1
click_in_panel6 33 193 115 21
xdotool key ctrl+a
xdotool type --delay 40 1000
# Either line order is the program's choice; both lines and nothing else, each with CR LF.
notes_hold_project_sum() {
  local content
  content=$(od -An -c "$notes" 2>/dev/null | tr -s ' \n' ' ')
  [ "$content" = "$(printf 'PN=1000\r\nPB=1190,00\r\n' | od -An -c | tr -s ' \n' ' ')" ] ||
    [ "$content" = "$(printf 'PB=1190,00\r\nPN=1000\r\n' | od -An -c | tr -s ' \n' ' ')" ]
}
wait_until 15 "PN=1000 and PB=1190,00 in $notes" notes_hold_project_sum
screenshot project-sum

# 6. "Neu lesen" (15,4, 73 x 25) after the user moved the window: it stays where the user put it.
xdotool windowmove "$main" 300 200
window_at() { [ "$(geometry "$main" | cut -d' ' -f1-2)" = "$1 $2" ]; }
wait_until 10 "the window moving to 300,200" window_at 300 200
loads() { grep -c ' ANYQUERY ' "$host_log"; }
before=$(loads)
click_in_panel6 15 4 73 25
reloaded() { [ "$(loads)" -gt "$before" ]; }
wait_until 30 "the second load's ANYQUERY" reloaded
# The load blocks the event loop; the clipboard is served again only once it has ended.
read_clipboard TARGETS "$work/targets-after-reload"
read -r left2 top2 width2 height2 <<<"$(geometry "$main")"
[ "$left2 $top2" = "300 200" ] || fail "\"Neu lesen\" moved the window from 300,200 to $left2,$top2"
[ "$(xdotool getwindowname "$main")" = "$caption" ] || fail "caption after \"Neu lesen\""
notes_hold_project_sum || fail "the notes changed by reading again"
screenshot read-again

# 7. Closed by the window manager protocol: exit code 0, placement and column layout stored.
"$wm_delete_bin" "$main" || fail "rb-wm-delete could not ask the window to close"
expect_exit_0 "WM_DELETE_WINDOW"
placement=$kxtemp/UserMode.INI
layout=$kxtemp/dgdview.COL
[ -f "$placement" ] || fail "no $placement"
[ -f "$layout" ] || fail "no $layout"
tr -d '\r' <"$placement" >"$work/placement"
for line in "[MODE]" "dgdview.Width=$width2" "dgdview.Height=$height2" "dgdview.Left=300" \
  "dgdview.Top=200"; do
  grep -qxF "$line" "$work/placement" || fail "UserMode.INI lacks $line: $(tr '\n' ' ' <"$work/placement")"
done
# One line per column in column order; columns 0 and 1 keep their designed widths.
layout_text=$(
  cat "$layout"
  printf x
)
layout_pattern=$'^TColumn-1=10\r\nPosition=74\r\nDescription1=[0-9]+\r\nPRICE=[0-9]+\r\nKUMPRICE=[0-9]+\r\n$'
[[ ${layout_text%x} =~ $layout_pattern ]] || fail "dgdview.COL: $(od -c "$layout" | head -n 8)"
stop_host
only_stored_files_left "the first run"

# --- run 2: a document whose "Order" is empty ---------------------------------------------

start_host host-2.log RatenblickE2E2 "$work/OhneAuftrag.json"
start_app ratenblick-2.log
wait_until 30 "the window of ratenblick" main_window_found
wait_until 30 "\"Datenübergabe fehlerhaft!\"" info_box_found
screenshot no-order
[ "$(xdotool getwindowname "$main")" = "Ansicht" ] || fail "the caption changed without an order"
close_info_box
expect_exit_0 "closing \"Datenübergabe fehlerhaft!\""
handed_out=$(sed -n 's/^ktx-exchange: GETJSON -> //p' "$host_log")
[ -n "$handed_out" ] || fail "ktx-exchange handed out no document"
while IFS= read -r copy; do
  [ ! -e "$copy" ] || fail "the document copy $copy is still there"
done <<<"$handed_out"
stop_host
only_stored_files_left "the second run"

cp "$work"/*.log "$artifacts/"
echo "PASSED in $((($(now_ms) - t0) / 1000)) s. Screenshots: $artifacts"
ls "$artifacts"/*.png
exit 0
