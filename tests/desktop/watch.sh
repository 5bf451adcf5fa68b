# Sourced by the desktop tests: photographs the windows that a scripted run of
# the program announces in its script log ("snap NAME<TAB>TEXT<TAB>L T W H"),
# checks each picture and answers with LOG.NAME.done so the script goes on.
# The sourcing script sets: out (picture folder), want (associative array of
# expected "L T W H" by name, may be empty) and defines fail().

# Where the X server has windows of that title: one "left top width height"
# a line (several windows may share a title, a box its owner's).
x_places() {
  xwininfo -root -tree 2>/dev/null | awk -v name="\"$1\":" '
    index($0, name) && match($0, /[0-9]+x[0-9]+[+-][0-9]+[+-][0-9]+ +[+-][0-9]+[+-][0-9]+ *$/) {
      split(substr($0, RSTART, RLENGTH), f, " ")
      split(f[1], size, /[x+-]/)
      n = split(f[2], at, /[+]/)
      if (n == 3) print at[2], at[3], size[1], size[2]
    }'
}

# The window must be where the dialog manager computed it (and where a fixed
# expectation says, if there is one); the picture must have its size and
# must not be blank.
photograph() {
  local name=$1 text=$2 l=$3 t=$4 w=$5 h=$6
  if [ -n "${want[$name]:-}" ] && [ "${want[$name]}" != "$l $t $w $h" ]; then
    fail "$name at $l $t $w $h, expected ${want[$name]}"
  fi
  [ "$w" -gt 0 ] && [ "$h" -gt 0 ] || fail "$name has no size"
  local shown
  shown=$(x_places "$text")
  grep -qx "$l $t $w $h" <<< "$shown" ||
    fail "$name: no X window \"$text\" at the computed $l $t $w $h (there are: ${shown//$'\n'/; })"
  import -window root -crop "${w}x${h}+${l}+${t}" +repage "$out/$name.png"
  [ "$(identify -format '%w %h' "$out/$name.png")" = "$w $h" ] || fail "$name picture has the wrong size"
  local spread
  spread=$(convert "$out/$name.png" -colorspace Gray -format '%[fx:standard_deviation]' info:)
  awk -v s="$spread" 'BEGIN { exit !(s > 0.02) }' || fail "$name picture is blank (spread $spread)"
  echo "desktop: $name $w x $h at $l,$t -> $out/$name.png (spread $spread)"
}

# One look at a script log: a failed step fails the test; each snap not yet
# handled is photographed and answered. The names handled so far are kept
# in the variable handled; names listed in skip are left to the caller.
handled=""
skip=""
look_at_log() {
  local log=$1 tag text rect name l t w h
  [ -f "$log" ] || return 0
  if grep -q '^fail ' "$log"; then fail "script step failed in $log: $(grep '^fail ' "$log")"; fi
  while IFS=$'\t' read -r tag text rect; do
    name=${tag#snap }
    case " $handled $skip " in *" $name "*) continue ;; esac
    read -r l t w h <<< "$rect"
    photograph "$name" "$text" "$l" "$t" "$w" "$h"
    handled="$handled $name"
    touch "$log.$name.done"
  done < <(grep '^snap ' "$log" || true)
}

# Every name of the list must have been photographed.
check_pictures() {
  local n
  for n in "$@"; do
    case " $handled " in *" $n "*) ;; *) fail "no picture of $n" ;; esac
  done
}

# The caption of a photographed box shows whole: the last pixels of its
# caption bar before the clip (the close box and its margin) hold no text.
# White text is the brightest thing on the bar; the gradient under it ends
# in light blue, whose red stays far below white.
caption_whole() {
  local name=$1 width strip=12 border=3 tail=20 brightest
  width=$(identify -format '%w' "$out/$name.png")
  brightest=$(convert "$out/$name.png" -crop "${strip}x15+$((width - border - tail - strip))+$((border + 1))" +repage \
    -channel RGB -separate -evaluate-sequence min -format '%[fx:maxima]' info:)
  awk -v b="$brightest" 'BEGIN { exit !(b < 0.8) }' || fail "$name: the caption is cut at the close box (brightness $brightest)"
  echo "desktop: $name caption whole (brightest $brightest before the close box)"
}

# A painted dialog has its etched edge round the client area: its dark line
# runs just inside the window's own frame, on the left and at the bottom.
etched_edge() {
  local name=$1 size left bottom w h
  size=$(identify -format '%w %h' "$out/$name.png")
  read -r w h <<< "$size"
  read -r left bottom < <(convert "$out/$name.png" \
    -format "%[fx:p{3,$((h / 2))}.intensity] %[fx:p{$((w / 2)),$((h - 5))}.intensity]\n" info:)
  awk -v l="$left" -v b="$bottom" 'BEGIN { exit !(l < 0.6 && b < 0.6) }' ||
    fail "$name: no etched edge round the client area (left $left, bottom $bottom)"
  echo "desktop: $name has its etched edge"
}
