#!/usr/bin/env bash
# Draws the two pictures of the properties dialog with ImageMagick and writes
# them beside this script:
#   monitor.png  251 x 216, resource 998: a monitor whose screen lies 16 pixels
#                from the left and right edges, 19 from the top and 42 from the
#                bottom (the motion views draw into exactly that area);
#   device.png   283 x 331, resource 999: the device seen from above, the ball
#                centred at (137, 56), the scroll hat at (140, 140) and the
#                eight buttons where the picture view puts their marks.
# Both are opaque and carry no time stamps, so drawing them again gives the
# same bytes.
#   properties/views/pictures/draw_pictures.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
png_options=(-strip -alpha off -define png:exclude-chunks=date,time,tIME -depth 8)

# ---- the monitor ----
# Case 0..250 x 0..215; screen (16, 19) to (234, 173) inclusive, i.e. 219 x 155
# pixels; the chin below it carries a small power light; a stand under it.
convert -size 251x216 xc:'#ece9d8' \
  -fill '#4a4f57' -stroke '#2b2e33' -strokewidth 2 -draw 'roundrectangle 3,3 247,188 9,9' \
  -fill '#3a3e45' -stroke none -draw 'rectangle 100,189 150,201' \
  -fill '#4a4f57' -stroke '#2b2e33' -strokewidth 2 -draw 'roundrectangle 62,200 188,212 5,5' \
  -fill '#12161c' -stroke '#8a9099' -strokewidth 1 -draw 'rectangle 15,18 235,174' \
  -fill '#1c2430' -stroke none -draw 'rectangle 16,19 234,173' \
  -fill '#65d36e' -draw 'circle 232,181 234,181' \
  -fill '#9aa0a8' -draw 'rectangle 112,179 138,182' \
  "${png_options[@]}" "PNG24:$here/monitor.png"

# ---- the device from above ----
# Body: a rounded housing with a palm rest; the button rows follow the ball's
# rim on both sides, each button an ellipse tilted like its mark.
button() {  # x y angle
  printf "push graphic-context translate %s,%s rotate %s " "$1" "$2" "$3"
  printf "fill '#5a5f66' stroke '#2b2e33' stroke-width 1 ellipse 0,0 11.5,6 0,360 "
  printf "fill '#7d838b' stroke none ellipse -1,-1.5 8,3 0,360 pop graphic-context "
}
buttons="$(button 60.5 31.0 35)$(button 52.0 45.5 26)$(button 46.0 61.0 17)$(button 42.5 77.5 12)"
buttons+="$(button 215.3 28.0 -35)$(button 225.0 42.0 -26)$(button 231.0 57.5 -18)$(button 236.0 73.0 -12)"
convert -size 283x331 xc:'#ece9d8' \
  -fill '#2f3338' -stroke '#1b1d20' -strokewidth 2 \
  -draw 'path "M 30,20 C 60,2 220,2 253,20 C 272,60 268,120 250,170 C 240,230 225,300 190,322 C 160,330 120,330 92,322 C 58,300 42,230 32,170 C 14,120 10,60 30,20 Z"' \
  -fill '#3c4148' -stroke none \
  -draw 'path "M 80,190 C 100,176 180,176 200,190 C 212,240 200,292 180,308 C 160,316 120,316 100,308 C 80,292 68,240 80,190 Z"' \
  -draw "$buttons" \
  -fill '#1b1d20' -draw 'circle 137,56 137,103' \
  -fill '#5b8fd6' -draw 'circle 137,56 137,100' \
  -fill '#8ab4ec' -draw 'circle 124,42 124,60' \
  -fill '#cfe0f7' -draw 'circle 120,38 120,44' \
  -fill '#1b1d20' -draw 'circle 140,140 140,153' \
  -fill '#9aa0a8' -draw 'circle 140,140 140,151' \
  -fill '#c4c9cf' -draw 'circle 140,140 140,145' \
  -fill '#d8dce0' -stroke none -font DejaVu-Sans-Bold -pointsize 14 -gravity south -annotate +0+34 'KESTRIN' \
  "${png_options[@]}" "PNG24:$here/device.png"

identify "$here/monitor.png" "$here/device.png"
