#!/usr/bin/env python3
"""Writes the small PSD files in this folder: the fuzzer's seeds and the
fixtures of tests/core/imaging/psd. Run it from anywhere; it rewrites them.

  rgb8_rle.psd     6 x 4 RGB, 8 bits, RLE, an alpha channel; guides, slices,
                   and layers: Background, a hidden group "Texts" holding a
                   text layer "Title" ("Hello\\r", Unicode name "Title ✓")
  grey16_raw.psd   5 x 3 greyscale, 16 bits, raw; its layer in an Lr16 block
  cmyk8_raw.psd    3 x 2 CMYK, 8 bits, raw
  indexed8_rle.psd 4 x 2 indexed, RLE
  bitmap1_raw.psd  9 x 2 bitmap (1 bit), raw
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def u8(v): return struct.pack('>B', v)
def u16(v): return struct.pack('>H', v)
def i16(v): return struct.pack('>h', v)
def u32(v): return struct.pack('>I', v)
def i32(v): return struct.pack('>i', v)
def f64(v): return struct.pack('>d', v)


def unicode(text):
    data = text.encode('utf-16-be')
    return u32(len(data) // 2) + data


def pascal(text, pad):
    data = text.encode('latin-1')
    out = u8(len(data)) + data
    return out + b'\0' * ((pad - len(out) % pad) % pad)


def key(name):
    return u32(0) + name if len(name) == 4 else u32(len(name)) + name


def descriptor(items, class_id=b'null'):
    out = unicode('\0') + key(class_id) + u32(len(items))
    for name, value in items:
        out += key(name) + value
    return out


def resource(number, data):
    out = b'8BIM' + u16(number) + pascal('', 2) + u32(len(data)) + data
    return out + (b'\0' if len(data) % 2 else b'')


def packbits(row):
    out = b''
    i = 0
    while i < len(row):
        run = 1
        while i + run < len(row) and run < 128 and row[i + run] == row[i]:
            run += 1
        if run >= 3:
            out += u8(257 - run) + row[i:i + 1]
            i += run
            continue
        j = i
        while j < len(row) and j - i < 128 and not (j + 2 < len(row) and row[j] == row[j + 1] == row[j + 2]):
            j += 1
        out += u8(j - i - 1) + row[i:j]
        i = j
    return out


def composite(planes, width, height, row_bytes, rle):
    """planes: one bytes object per channel, height x row_bytes each."""
    if not rle:
        return u16(0) + b''.join(planes)
    rows = [packbits(p[y * row_bytes:(y + 1) * row_bytes]) for p in planes for y in range(height)]
    return u16(1) + b''.join(u16(len(r)) for r in rows) + b''.join(rows)


def layer_record(top, left, bottom, right, name, flags=0, blocks=b''):
    channels = [(0, 2), (1, 2), (2, 2)]
    out = i32(top) + i32(left) + i32(bottom) + i32(right) + u16(len(channels))
    for number, length in channels:
        out += i16(number) + u32(length)
    out += b'8BIMnorm' + u8(255) + u8(0) + u8(flags) + u8(0)
    extra = u32(0) + u32(0) + pascal(name, 4) + blocks
    return out + u32(len(extra)) + extra


def block(name, data):
    return b'8BIM' + name + u32(len(data)) + data


def layer_info(records):
    # Each layer's channels: compression 0 and no pixels (empty rectangles)
    # or the two bytes the records announce.
    out = i16(len(records)) + b''.join(records) + b'\0\0' * 3 * len(records)
    return out + b'\0' * (len(out) % 2)


def psd(width, height, depth, mode, channels, image, color_data=b'', resources=b'', layers=b'',
        tagged=b''):
    header = b'8BPS' + u16(1) + b'\0' * 6 + u16(channels) + u32(height) + u32(width) + u16(depth) + u16(mode)
    layer_section = u32(len(layers)) + layers + u32(0) + tagged if layers or tagged else b''
    return (header + u32(len(color_data)) + color_data + u32(len(resources)) + resources
            + u32(len(layer_section)) + layer_section + image)


def write(name, data):
    with open(os.path.join(HERE, name), 'wb') as out:
        out.write(data)


def rgb8_rle():
    width, height = 6, 4
    red = bytes([255, 255, 255, 0, 0, 0] * height)
    green = bytes([0, 0, 128, 128, 200, 10] * height)
    blue = bytes(range(0, 240, 10))
    alpha = bytes([255] * width * height)
    image = composite([red, green, blue, alpha], width, height, width, True)

    guides = u32(1) + u32(576) + u32(576) + u32(2) + i32(96) + u8(0) + i32(-40) + u8(1)
    version = u32(1) + u8(1) + unicode('Writer\0') + unicode('Reader\0') + u32(1)

    def v6_slice(number, origin, name, box, url, alt):
        out = u32(number) + u32(0) + u32(origin) + (u32(7) if origin == 1 else b'')
        out += unicode(name) + u32(1) + b''.join(i32(v) for v in box)
        out += unicode(url) + unicode('') + unicode('') + unicode(alt) + u8(0) + unicode('')
        return out + u32(0) + u32(0) + u8(0) + u8(0) + u8(0) + u8(0)
    slices = u32(6) + i32(0) + i32(0) + i32(height) + i32(width) + unicode('design') + u32(2)
    slices += v6_slice(1, 2, 'logo', (1, 0, 4, 2), 'https://example.com/', 'Harbour')
    slices += v6_slice(0, 0, '', (0, 0, width, height), '', '')
    resources = resource(1057, version) + resource(1032, guides) + resource(1050, slices)

    text = descriptor([
        (b'Txt ', b'TEXT' + unicode('Hello\r\0')),
        (b'textGridding', b'enum' + key(b'textGridding') + key(b'None')),
        (b'bounds', b'Objc' + descriptor([(b'Left', b'UntF#Pnt' + f64(1.5))], b'bounds')),
        (b'list', b'VlLs' + u32(3) + b'long' + i32(-2) + b'doub' + f64(0.25) + b'bool' + u8(1)),
    ], b'TxLr')
    warp = descriptor([(b'warpStyle', b'enum' + key(b'warpStyle') + key(b'warpNone'))], b'warp')
    type_tool = (u16(1) + b''.join(f64(v) for v in (1, 0, 0, 1, 0, 0)) + u16(50) + u32(16) + text
                 + u16(1) + u32(16) + warp + b''.join(i32(v) for v in (0, 0, 6, 2)))
    records = [
        layer_record(0, 0, height, width, 'Background'),
        layer_record(0, 0, 0, 0, '</Layer group>', blocks=block(b'lsct', u32(3))),
        layer_record(1, 2, 3, 5, 'Title', blocks=block(b'luni', unicode('Title \u2713'))
                     + block(b'TySh', type_tool)),
        layer_record(0, 0, 0, 0, 'Texts', flags=0x02, blocks=block(b'lsct', u32(1))),
    ]
    info = layer_info(records)
    write('rgb8_rle.psd', psd(width, height, 8, 3, 4, image, resources=resources, layers=info))


def grey16_raw():
    width, height = 5, 3
    grey = b''.join(u16(v * 4000 + 255) for v in range(width * height))
    info = layer_info([layer_record(-1, -1, 2, 3, 'Spot')])
    write('grey16_raw.psd', psd(width, height, 16, 1, 1, composite([grey], width, height, width * 2, False),
                                tagged=block(b'Lr16', info)))


def cmyk8_raw():
    # Stored inverted: 255 is no ink.
    planes = [bytes([255, 0, 255, 128, 255, 255]), bytes([255, 255, 0, 128, 255, 255]),
              bytes([255, 255, 255, 128, 0, 255]), bytes([255, 255, 255, 255, 255, 0])]
    write('cmyk8_raw.psd', psd(3, 2, 8, 4, 4, composite(planes, 3, 2, 3, False)))


def indexed8_rle():
    palette = bytes(range(256)) + bytes(255 - v for v in range(256)) + bytes([7] * 256)
    indices = bytes([0, 1, 200, 255, 3, 3, 3, 3])
    write('indexed8_rle.psd', psd(4, 2, 8, 2, 1, composite([indices], 4, 2, 4, True), color_data=palette))


def bitmap1_raw():
    # Nine pixels a row: two bytes, the last seven bits padding. Set is black.
    rows = bytes([0b10100000, 0b10000000, 0b00000001, 0b00000000])
    write('bitmap1_raw.psd', psd(9, 2, 1, 0, 1, composite([rows], 9, 2, 2, False)))


if __name__ == '__main__':
    rgb8_rle()
    grey16_raw()
    cmyk8_raw()
    indexed8_rle()
    bitmap1_raw()
