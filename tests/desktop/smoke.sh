#!/usr/bin/env bash
# Desktop smoke test: runs the real program on a fresh demo machine under the
# virtual X server that CTest starts (xvfb-run), drives it with a VL_SCRIPT,
# and photographs each window when the script says it is ready. Each picture
# must show the window at its computed place and size, and must not be blank.
# The pictures stay in OUTDIR for a person to look at.
#   smoke.sh VELLORAN VLINIT OUTDIR
set -euo pipefail
velloran=$1 vlinit=$2 out=$3
mkdir -p "$out"
work=$(mktemp -d)
pid=""
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "desktop smoke: $*" >&2; [ -f "$work/log" ] && cat "$work/log" >&2; exit 1; }

"$vlinit" "$work/m" --machid 401 --control-id admin --control-key secret \
  --virtual-modem 127.0.0.1:0 > /dev/null

# Expected rectangles on a 1280 x 1024 screen: the console is 900 x 200,
# centred horizontally and 220 pixels above the vertical centre; the About box
# is centred over it.
cat > "$work/script" <<'SCRIPT'
wait Velloran
restore Velloran
sleep 500
snap console Velloran
click Velloran 2020
wait "Velloran :: About"
sleep 500
snap about "Velloran :: About"
mouseup "Velloran :: About" 20 20
gone "Velloran :: About"
SCRIPT

(cd "$work/m" && VL_SCRIPT="$work/script" VL_SCRIPT_LOG="$work/log" exec "$velloran") &
pid=$!

declare -A want=([console]="190 192 900 200")
deadline=$((SECONDS + 90))
handled=""
while :; do
  [ $SECONDS -lt $deadline ] || fail "timed out"
  kill -0 "$pid" 2>/dev/null || fail "the program ended early"
  if [ -f "$work/log" ]; then
    grep -q '^fail ' "$work/log" && fail "script step failed"
    grep -q '^end$' "$work/log" && break
    while IFS=$'\t' read -r tag text rect; do
      name=${tag#snap }
      case " $handled " in *" $name "*) continue ;; esac
      read -r l t w h <<< "$rect"
      if [ -n "${want[$name]:-}" ] && [ "${want[$name]}" != "$l $t $w $h" ]; then
        fail "$name at $l $t $w $h, expected ${want[$name]}"
      fi
      [ "$w" -gt 0 ] && [ "$h" -gt 0 ] || fail "$name has no size"
      import -window root -crop "${w}x${h}+${l}+${t}" +repage "$out/$name.png"
      [ "$(identify -format '%w %h' "$out/$name.png")" = "$w $h" ] || fail "$name picture has the wrong size"
      spread=$(convert "$out/$name.png" -colorspace Gray -format '%[fx:standard_deviation]' info:)
      awk -v s="$spread" 'BEGIN { exit !(s > 0.02) }' || fail "$name picture is blank (spread $spread)"
      echo "desktop smoke: $name $w x $h at $l,$t -> $out/$name.png (spread $spread)"
      handled="$handled $name"
      touch "$work/log.$name.done"
    done < <(grep '^snap ' "$work/log" || true)
  fi
  sleep 0.2
done
for n in console about; do
  case " $handled " in *" $n "*) ;; *) fail "no picture of $n" ;; esac
done
echo "desktop smoke: passed"
