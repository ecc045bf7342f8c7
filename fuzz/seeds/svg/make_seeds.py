#!/usr/bin/env python3
"""Writes the small SVG and PDF designs that seed the svg and pdf fuzz
targets and that the vector reader tests read.

design.svg: 200 x 100 pixels, red on the left half, blue on the right, a
green square 20 x 20 at (10, 10). viewbox.svg: the same size from a viewBox
alone. design.pdf: two pages, 200 x 100 points (red left half, blue right)
and 100 x 50 points (all green), in ../pdf. Run it from this folder to
write them again.
"""

SVG = """<svg xmlns="http://www.w3.org/2000/svg" width="200" height="100">
<rect x="0" y="0" width="100" height="100" fill="#ff0000"/>
<rect x="100" y="0" width="100" height="100" fill="#0000ff"/>
<rect x="10" y="10" width="20" height="20" fill="#00ff00"/>
</svg>
"""

VIEWBOX_SVG = """<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 200 100" width="100%">
<rect x="0" y="0" width="100" height="100" fill="#ff0000"/>
<rect x="100" y="0" width="100" height="100" fill="#0000ff"/>
</svg>
"""


def pdf(pages):
    """pages: (width, height, content) in points; PDF's origin is bottom left."""
    objects = ["<< /Type /Catalog /Pages 2 0 R >>", None]
    kids = []
    for width, height, content in pages:
        page = len(objects) + 1
        kids.append(f"{page} 0 R")
        objects.append(f"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 {width} {height}] "
                       f"/Contents {page + 1} 0 R /Resources << >> >>")
        data = content.encode()
        objects.append(f"<< /Length {len(data)} >>\nstream\n{content}\nendstream")
    objects[1] = f"<< /Type /Pages /Kids [{' '.join(kids)}] /Count {len(kids)} >>"
    out = b"%PDF-1.4\n"
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += f"{number} 0 obj\n{body}\nendobj\n".encode()
    xref = len(out)
    out += f"xref\n0 {len(objects) + 1}\n0000000000 65535 f \n".encode()
    for offset in offsets:
        out += f"{offset:010d} 00000 n \n".encode()
    out += f"trailer\n<< /Size {len(objects) + 1} /Root 1 0 R >>\nstartxref\n{xref}\n%%EOF\n".encode()
    return out


def main():
    with open("design.svg", "w") as f:
        f.write(SVG)
    with open("viewbox.svg", "w") as f:
        f.write(VIEWBOX_SVG)
    with open("../pdf/design.pdf", "wb") as f:
        f.write(pdf([
            (200, 100, "1 0 0 rg 0 0 100 100 re f 0 0 1 rg 100 0 100 100 re f"),
            (100, 50, "0 1 0 rg 0 0 100 50 re f"),
        ]))


if __name__ == "__main__":
    main()
