#!/bin/sh
# Rebuilds the AVIF seeds from the PNG seeds with avifenc: lossy 4:2:0,
# lossless with alpha, and a file cut short.
set -e
here=$(dirname "$0")
avifenc -s 10 --min 30 --max 30 -y 420 "$here/../png/rgb8.png" "$here/lossy420.avif" >/dev/null
avifenc -s 10 -l "$here/../png/rgba8.png" "$here/lossless_alpha.avif" >/dev/null
head -c 200 "$here/lossless_alpha.avif" > "$here/truncated.avif"
