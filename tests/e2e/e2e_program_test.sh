#!/usr/bin/env bash
# The browser as a pupil meets it: the built program with a settings file of
# its own on a private X display, hearing the real kestrel-announce on
# 127.0.0.1 and fetching from a page server this test starts on 127.0.0.1.
# Checks, each within a bounded wait, that the home page, every link picture
# (with the browser's user agent) and link 1's page are fetched by
# themselves, that a click on link button 3 opens link 3's page, and that
# the toolbar shows every link picture with its magenta keyed out; that 50
# script pop-ups start no desktop browser and print one line while a click
# on a new-window link starts it once (a recording stand-in on PATH), that
# Escape ends the program, and that nothing but the program's own lines is
# printed (standard error stays empty).
#   e2e_program_test.sh PROGRAM ANNOUNCER OUTPUT_DIR
# The screenshots stay in OUTPUT_DIR; everything else goes with the run.
set -euo pipefail
program=$1
announcer=$2
output=$3
top=$(cd "$(dirname "$0")/../.." && pwd)
. "$top/scripts/lib/virtual-display.sh"
. "$top/tests/e2e/lib/e2e-run.sh"
e2e_name=e2e_program
e2e_prepare python3 Xvfb openbox xdotool import convert iconv setsid

# Link k: its button's name, and the colour of the square in its picture.
names=(语文 数学 英语 科学)
colours=(C81E1E 1E9632 1E46C8 E6A000)
magenta=FF00FF

work=$(mktemp -d)
requests=$work/requests.log
program_log=$work/program.log
program_errors=$work/program-errors.log
desktop_log=$work/desktop-browser.log
announcer_log=$work/announcer.log
screenshot=
mkdir -p "$output" "$work/site/pictures" "$work/bin" "$work/home" "$work/runtime" "$work/desktop"
chmod 700 "$work/runtime"
: >"$requests"

announcer_pid=
finish() {
  set +e # a stopped process reports its signal; that is no failure here
  stop_processes "$announcer_pid" "$server_pid"
  stop_virtual_display
  rm -rf "$work"
}
trap finish EXIT
trap 'exit 1' INT TERM

e2e_more_report() {
  echo "== program errors"
  tail -n 60 "$program_errors" 2>/dev/null
  echo "== desktop browser starts"
  cat "$desktop_log" 2>/dev/null
  [ -z "$screenshot" ] || echo "== last screenshot: $screenshot"
}

all_pictures_requested() {
  local k
  for k in 1 2 3 4; do requested_by_browser "/pictures/link$k.bmp" || return 1; done
}

# Photographs the whole display into $output/NAME.png and surveys it: sets
# page_top (the first row white from edge to edge, where the web page
# begins; -1 when none) and, for each link k, spot_count[k] and the box
# spot_left/top/right/bottom[k] of its colour's pixels; magenta_count.
take_screenshot() {
  screenshot=$output/$1.png
  DISPLAY=$virtual_display import -window root "$screenshot" || fail "no screenshot"
  local survey
  survey=$(convert "$screenshot" -alpha off -depth 8 txt:- | awk -v wanted="${colours[*]} $magenta" '
    BEGIN { n = split(wanted, list, " "); for (i = 1; i <= n; i++) want["#" list[i]] = i }
    NR > 1 {
      split($1, at, /[,:]/); x = at[1] + 0; y = at[2] + 0
      if (x > right_edge) right_edge = x
      if (y > bottom_edge) bottom_edge = y
      if ($3 == "#FFFFFF") white[y]++
      if (!($3 in want)) next
      i = want[$3]
      if (!count[i]++) { left[i] = right[i] = x; top[i] = bottom[i] = y }
      if (x < left[i]) left[i] = x; if (x > right[i]) right[i] = x
      if (y < top[i]) top[i] = y; if (y > bottom[i]) bottom[i] = y
    }
    END {
      page = -1
      for (y = 0; y <= bottom_edge; y++) if (white[y] == right_edge + 1) { page = y; break }
      print page
      for (i = 1; i <= n; i++) print count[i] + 0, left[i] + 0, top[i] + 0, right[i] + 0, bottom[i] + 0
    }')
  [ -n "$survey" ] || fail "could not read $screenshot"
  local k count left top right bottom
  {
    read -r page_top
    for k in 1 2 3 4; do
      read -r count left top right bottom
      spot_count[k]=$count spot_left[k]=$left spot_top[k]=$top spot_right[k]=$right spot_bottom[k]=$bottom
    done
    read -r magenta_count _
  } <<<"$survey"
}

# Whether link K's picture is on the toolbar in the last screenshot: a
# square of its colour no larger than a button picture, above the web page,
# right of the four navigation buttons (43 px each).
picture_on_toolbar() {
  local k=$1
  [ "${spot_count[k]}" -ge 128 ] && [ "$page_top" -gt 0 ] && [ "${spot_bottom[k]}" -lt "$page_top" ] \
    && [ $((spot_right[k] - spot_left[k])) -lt 24 ] && [ $((spot_bottom[k] - spot_top[k])) -lt 24 ] \
    && [ "${spot_left[k]}" -ge $((4 * 43)) ]
}
# Whether every link picture is on the toolbar, one row, in link order.
toolbar_shows_links() {
  local k
  for k in 1 2 3 4; do
    picture_on_toolbar "$k" || return 1
    [ "$k" -eq 1 ] && continue
    [ "${spot_top[k]}" -eq "${spot_top[1]}" ] && [ "${spot_left[k]}" -gt "${spot_right[k - 1]}" ] || return 1
  done
}
screenshot_shows_links() {
  take_screenshot "$1"
  toolbar_shows_links
}

# The site: a home page, one page per link and one picture per link: 24 x 24,
# 24 bits, magenta with a square of the link's colour in the middle.
page() { printf '<!DOCTYPE html><html><head><meta charset="utf-8"><title>%s</title></head><body><h1>%s</h1></body></html>\n' "$1" "$1" >"$work/site/$2"; }
page "Home" home.html
for k in 1 2 3 4; do
  page "${names[k - 1]}" "link$k.html"
  [ "$k" -eq 4 ] && cat >"$work/site/link4.html" <<'HTML'
<!DOCTYPE html><html><head><meta charset="utf-8"><title>pop-ups</title></head><body style="margin:0">
<a target="_blank" href="/outside.html" style="display:block;position:fixed;top:0;left:0;width:100%;height:100%">outside</a>
<script>for (var i = 0; i < 50; ++i) window.open('/outside.html?' + i);</script>
</body></html>
HTML
  convert -size 24x24 "xc:#$magenta" -fill "#${colours[k - 1]}" -draw "rectangle 4,4,19,19" \
    -type truecolor "BMP3:$work/site/pictures/link$k.bmp"
  size=$(stat -c %s "$work/site/pictures/link$k.bmp")
  [ "$size" -eq 1782 ] || fail "picture $k has $size bytes, not the 1782 of a 24 x 24 24-bit BMP"
done

echo "== page server"
start_page_server "$work/site" 127.0.0.1 "$work/http-port"
site=http://127.0.0.1:$(cat "$work/http-port")
echo "serving $site/"

# A free UDP port for the channel (the announcer sends to it; the program
# binds it on 127.0.0.1).
channel_port=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

# The catalogue with the home page and the first COUNT links, replaced whole
# so the announcer reads it as one edit.
write_catalogue() {
  local count=$1 k
  {
    printf '[home]\nurl = %s/home.html\n' "$site"
    for ((k = 1; k <= count; k++)); do
      printf '\n[link]\nname = %s\ncaption = 第%d课\nurl = %s/link%d.html\npicture = %s/pictures/link%d.bmp\n' \
        "${names[k - 1]}" "$k" "$site" "$k" "$site" "$k"
    done
  } >"$work/catalogue.part"
  mv "$work/catalogue.part" "$work/catalogue.ini"
}

# The home page goes on the air first: home and links heard in the same
# merge pass open link 1 at once, before the home page was ever fetched.
write_catalogue 0
echo "== announcer on 127.0.0.1:$channel_port"
"$announcer" --to 127.0.0.1 --port "$channel_port" --interval 1 "$work/catalogue.ini" >"$announcer_log" 2>&1 &
announcer_pid=$!
wait_until 20 grep -q "announcing 0 links and the home page" "$announcer_log" || fail "the announcer did not start"

echo "== display"
start_virtual_display || fail "no virtual display"
echo "display $virtual_display"

# The program reads the settings file beside its real file, so it runs from
# a copy with a GBK settings file of its own.
cp "$program" "$work/bin/kestrel"
printf '[设置]\n主频道端口=%s\n[广播绑定IP地址]\nIP地址=127.0.0.1\n' "$channel_port" \
  | iconv -f UTF-8 -t GBK >"$work/bin/kestrel.INI"

# The desktop's browser, as the program finds it (xdg-open on PATH): a
# stand-in that only notes what it was asked to open.
printf '#!/bin/sh\necho "$*" >>"%s"\n' "$desktop_log" >"$work/desktop/xdg-open"
chmod +x "$work/desktop/xdg-open"
: >"$desktop_log"

echo "== program"
# Its own process group (setsid), so that the web engine's processes stop with it.
(
  cd "$work/home"
  exec env PATH="$work/desktop:$PATH" HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" DISPLAY="$virtual_display" QT_QPA_PLATFORM=xcb \
    QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --disable-dev-shm-usage" \
    setsid "$work/bin/kestrel"
) >"$program_log" 2>"$program_errors" &
program_pid=$!

check "the home page is requested" 60 requested /home.html

echo "== the links go on the air"
write_catalogue 4
wait_until 20 grep -q "announcing 4 links and the home page" "$announcer_log" || fail "the announcer did not take the links"
check "every link picture is requested with the user agent MarlowBrowser1.0" 60 all_pictures_requested
wrong_agent=$(awk -F'\t' '$1 ~ /^\/pictures\// && $2 != "MarlowBrowser1.0"' "$requests")
[ -z "$wrong_agent" ] || fail "pictures requested with another user agent: $wrong_agent"
check "link 1's page opens by itself" 60 requested /link1.html

check "the link pictures appear on the toolbar" 60 screenshot_shows_links e2e-program-toolbar

echo "== click on link button 3"
requested /link3.html && fail "link 3's page was requested before its button was clicked"
click_x=$(((spot_left[3] + spot_right[3]) / 2))
click_y=$(((spot_top[3] + spot_bottom[3]) / 2))
DISPLAY=$virtual_display xdotool mousemove "$click_x" "$click_y" click 1 || fail "xdotool could not click"
check "a click on link button 3 ($click_x, $click_y) opens link 3's page" 30 requested /link3.html

# The mouse leaves the toolbar, so that no button is hot and no tool tip shows.
DISPLAY=$virtual_display xdotool mousemove 640 400 || fail "xdotool could not move the mouse"
sleep 2
take_screenshot e2e-program-final
for k in 1 2 3 4; do
  picture_on_toolbar "$k" || fail "link $k's picture (#${colours[k - 1]}) is not on the toolbar"
  echo "ok: link $k's picture on the toolbar at (${spot_left[k]}, ${spot_top[k]})"
done
toolbar_shows_links || fail "the link pictures are not in one row in link order"
echo "ok: the link pictures in one row above the web page (row $page_top on), in link order, after the navigation buttons"
[ "$magenta_count" -eq 0 ] || fail "$magenta_count magenta pixels on the screen"
echo "ok: no magenta pixel on the screen"
echo "== pop-ups"
desktop_starts() { [ "$(wc -l <"$desktop_log")" -eq "$1" ]; }
click_x=$(((spot_left[4] + spot_right[4]) / 2))
click_y=$(((spot_top[4] + spot_bottom[4]) / 2))
DISPLAY=$virtual_display xdotool mousemove "$click_x" "$click_y" click 1 || fail "xdotool could not click"
check "a click on link button 4 opens the page of 50 script pop-ups" 30 requested /link4.html
check "the 50 script pop-ups are refused in one line" 30 grep -q "^New windows refused: 50 " "$program_log"
sleep 2
desktop_starts 0 || fail "script pop-ups started the desktop browser"
[ "$(grep -c "New window" "$program_log")" -eq 1 ] || fail "more than one line about the pop-ups"
requested /outside.html && fail "a pop-up's page was fetched"
echo "ok: no desktop browser start for pop-ups without a click"
DISPLAY=$virtual_display xdotool mousemove 640 500 click 1 || fail "xdotool could not click"
check "a click on a new-window link starts the desktop browser" 30 desktop_starts 1
sleep 2
desktop_starts 1 || fail "one click started the desktop browser $(wc -l <"$desktop_log") times"
grep -q "^$site/outside.html\$" "$desktop_log" || fail "the desktop browser got $(cat "$desktop_log")"
echo "ok: the click started it exactly once, with $site/outside.html"

echo "== Escape"
DISPLAY=$virtual_display xdotool key Escape || fail "xdotool could not press Escape"
for _ in $(seq 100); do
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$program_pid" 2>/dev/null && fail "Escape on a page without unsaved work did not end the program"
wait "$program_pid" || fail "the program ended with status $?"
program_pid=
echo "ok: Escape ended the program"
[ ! -s "$program_errors" ] || fail "the program wrote to standard error"
echo "ok: nothing on standard error; standard output:"
sed 's/^/  /' "$program_log"
echo "e2e_program: passed (final screenshot: $screenshot)"
