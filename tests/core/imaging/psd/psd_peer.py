#!/usr/bin/env python3
"""What psd-tools reads from PSD files, for psd_peer_test.cpp.

Usage: psd_peer.py OUTDIR FILE...   (or: psd_peer.py --check)

Writes OUTDIR/report.txt, one record per file:
  file PATH
  error MESSAGE                  psd-tools could not read it
  size W H
  composite N                    OUTDIR/N.rgb holds W x H x 3 bytes, or
  composite none
  guide POSITION32 h|v
  layer GROUP VISIBLE LEFT TOP RIGHT BOTTOM NAME_HEX TEXT_HEX|-
  end
Layers come as psd-tools lists them (descendants: bottom first, a group
before its layers), rectangles from the stored layer records.
"""
import os
import sys
import warnings


def composite_rgb(psd):
    """The stored composite as 8-bit RGB bytes, by the reader's rules."""
    image = psd.topil()
    if image is None:
        return None
    if image.mode == 'CMYK':
        # PIL holds ink amounts; the reader's rule is (255-C)(255-K)/255.
        data = image.tobytes()
        out = bytearray(len(data) // 4 * 3)
        for i in range(len(data) // 4):
            c, m, y, k = data[4 * i:4 * i + 4]
            nk = 255 - k
            out[3 * i] = ((255 - c) * nk + 127) // 255
            out[3 * i + 1] = ((255 - m) * nk + 127) // 255
            out[3 * i + 2] = ((255 - y) * nk + 127) // 255
        return bytes(out)
    if image.mode in ('RGBA', 'LA', 'PA'):
        # psd-tools takes the white matte off a transparent composite, which
        # rounds; the reader keeps the stored colour, the design over white.
        # Compare with the stored channels as psd-tools decodes them.
        header = psd._record.header
        channels = psd._record.image_data.get_data(header)
        size = psd.width * psd.height
        step = header.depth // 8
        planes = [bytes(channel[::step]) for channel in channels]
        if image.mode == 'LA':
            planes = [planes[0]] * 3
        return bytes(b for pixel in zip(*planes[:3]) for b in pixel)[:size * 3]
    return image.convert('RGB').tobytes()


def utf8_hex(text):
    # psd-tools may leave a character outside the BMP as two surrogates.
    text = text.encode('utf-16-le', 'surrogatepass').decode('utf-16-le', 'replace')
    return text.encode('utf-8').hex()


def main():
    if sys.argv[1:] == ['--check']:
        import psd_tools  # noqa: F401
        return 0
    warnings.simplefilter('ignore')
    import logging
    logging.disable(logging.CRITICAL)
    from psd_tools import PSDImage

    outdir = sys.argv[1]
    with open(os.path.join(outdir, 'report.txt'), 'w', encoding='utf-8') as report:
        for number, path in enumerate(sys.argv[2:]):
            report.write('file %s\n' % path)
            try:
                psd = PSDImage.open(path)
                report.write('size %d %d\n' % (psd.width, psd.height))
                rgb = composite_rgb(psd)
                if rgb is None:
                    report.write('composite none\n')
                else:
                    with open(os.path.join(outdir, '%d.rgb' % number), 'wb') as out:
                        out.write(rgb)
                    report.write('composite %d\n' % number)
                guides = psd.image_resources.get_data(1032)
                for location, direction in (guides.data if guides is not None else []):
                    if location >= 1 << 31:
                        location -= 1 << 32
                    report.write('guide %d %s\n' % (location, 'h' if direction == 1 else 'v'))
                seen = set()
                for layer in psd.descendants():
                    # psd-tools lists a clipped layer a second time beside
                    # the layer it clips to.
                    if id(layer) in seen:
                        continue
                    seen.add(id(layer))
                    record = layer._record
                    text = layer.text if layer.kind == 'type' else None
                    report.write('layer %d %d %d %d %d %d %s %s\n' % (
                        layer.kind in ('group', 'artboard'), layer.visible, record.left, record.top,
                        record.right, record.bottom, utf8_hex(layer.name) or '-',
                        '-' if text is None else utf8_hex(text) or '-'))
            except Exception as error:  # psd-tools refuses the file
                report.write('error %s\n' % str(error).replace('\n', ' '))
            report.write('end\n')
    return 0


if __name__ == '__main__':
    sys.exit(main())
