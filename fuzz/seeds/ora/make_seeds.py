#!/usr/bin/env python3
"""Writes the small OpenRaster files in this folder: the fuzzer's seeds and
the fixtures of tests/core/imaging/ora. Run it from anywhere.

  layers.ora     8 x 6; stack.xml (top first): "Top" at 2,1 (3 x 2), a hidden
                 group "Group" holding "Inner & more" at -1,0 (2 x 2, opacity
                 0.5), "Background" (8 x 6); mergedimage.png is red with a
                 half-transparent blue pixel at 1,0 and a clear one at 2,0
  no_merged.ora  the same without mergedimage.png
"""
import os
import struct
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def png(width, height, pixels):
    """pixels: rows of (r, g, b, a) tuples."""
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    raw = b''.join(b'\0' + b''.join(bytes(p) for p in row) for row in pixels)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))


def flat(width, height, colour):
    return png(width, height, [[colour] * width for _ in range(height)])


STACK = '''<?xml version='1.0' encoding='UTF-8'?>
<!-- layers top first -->
<image version="0.0.5" w="8" h="6">
  <stack>
    <layer name="Top" x="2" y="1" src="data/top.png" opacity="1.000" visibility="visible"/>
    <stack name="Group" visibility="hidden">
      <layer name="Inner &amp; more" x="-1" y="0" src="data/inner.png" opacity="0.5"/>
    </stack>
    <layer name="Background" x="0" y="0" src="data/background.png"/>
  </stack>
</image>
'''


def write(name, merged):
    with zipfile.ZipFile(os.path.join(HERE, name), 'w') as archive:
        archive.writestr(zipfile.ZipInfo('mimetype'), 'image/openraster', zipfile.ZIP_STORED)
        archive.writestr('stack.xml', STACK, zipfile.ZIP_DEFLATED)
        archive.writestr('data/top.png', flat(3, 2, (0, 255, 0, 255)), zipfile.ZIP_STORED)
        archive.writestr('data/inner.png', flat(2, 2, (0, 0, 0, 255)), zipfile.ZIP_STORED)
        archive.writestr('data/background.png', flat(8, 6, (255, 0, 0, 255)), zipfile.ZIP_STORED)
        if merged:
            pixels = [[(255, 0, 0, 255)] * 8 for _ in range(6)]
            pixels[0][1] = (0, 0, 255, 128)
            pixels[0][2] = (0, 0, 255, 0)
            archive.writestr('mergedimage.png', png(8, 6, pixels), zipfile.ZIP_DEFLATED)


if __name__ == '__main__':
    write('layers.ora', True)
    write('no_merged.ora', False)
