#!/usr/bin/env bash
# Draws the sample page design shipped with Slicewright (ImageMagick).
# Regenerate with: bash scripts/artwork/make-sample.sh
set -euo pipefail
cd "$(dirname "$0")/../../data/sample"
F=/usr/share/fonts/truetype/dejavu
convert -size 600x400 xc:'#f4f1ea' \
  \( -size 600x72 gradient:'#1d3557-#2a6f97' \) -geometry +0+0 -composite \
  -fill '#f1faee' -font $F/DejaVuSans-Bold.ttf -pointsize 30 -annotate +24+48 'Harbour Bakery' \
  -fill '#a8dadc' -font $F/DejaVuSans.ttf -pointsize 13 \
  -annotate +400+32 'Bread   Cakes   Visit' -annotate +400+54 'Open daily from 7' \
  -fill '#e63946' -draw 'rectangle 0,72 600,78' \
  -fill '#ffffff' -stroke '#d8d2c4' -draw 'roundrectangle 24,100 376,300 10,10' -stroke none \
  -fill '#457b9d' -draw 'circle 110,200 110,140' \
  -fill '#f1c27d' -draw 'ellipse 110,205 46,30 0,360' \
  -fill '#c68b59' -draw 'ellipse 110,198 38,20 0,360' \
  -fill '#1d3557' -font $F/DejaVuSans-Bold.ttf -pointsize 20 -annotate +190+160 'Fresh every' -annotate +190+186 'morning' \
  -fill '#555555' -font $F/DejaVuSans.ttf -pointsize 12 \
  -annotate +190+214 'Sourdough, rye and' -annotate +190+230 'seeded loaves baked' -annotate +190+246 'before sunrise.' \
  -fill '#e63946' -draw 'roundrectangle 190,262 320,288 6,6' \
  -fill '#ffffff' -font $F/DejaVuSans-Bold.ttf -pointsize 12 -annotate +212+280 'See the menu' \
  -fill '#a8dadc' -draw 'roundrectangle 400,100 576,190 10,10' \
  -fill '#1d3557' -font $F/DejaVuSans-Bold.ttf -pointsize 14 -annotate +416+128 'Opening hours' \
  -font $F/DejaVuSans.ttf -pointsize 12 -annotate +416+152 'Mon-Fri  7-18' -annotate +416+172 'Sat-Sun  8-14' \
  -fill '#e9c46a' -draw 'roundrectangle 400,210 576,300 10,10' \
  -fill '#1d3557' -font $F/DejaVuSans-Bold.ttf -pointsize 14 -annotate +416+238 'Order a cake' \
  -font $F/DejaVuSans.ttf -pointsize 12 -annotate +416+262 'Two days ahead,' -annotate +416+282 'any size.' \
  -fill '#1d3557' -draw 'rectangle 0,330 600,400' \
  -fill '#f1faee' -font $F/DejaVuSans.ttf -pointsize 11 -annotate +24+370 '12 Quay Street  ·  01234 567890  ·  hello@harbour.example' \
  -type TrueColor BMP3:design.bmp
convert design.bmp -quality 92 design.jpg
