#!/usr/bin/env python3
"""Checks slicewright-cli's output for build tools, run as the built program.

usage: cli_output_check.py json|parallel CLI SAMPLE_FOLDER
"""

import filecmp
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def name_bytes(text):
    # The program writes a byte that is not UTF-8 as \udcXX.
    return text.encode("utf-8", "surrogateescape")


def run(cli, args):
    result = subprocess.run([cli] + args, capture_output=True)
    if result.returncode != 0:
        fail("%s exited with %d: %s" % (args, result.returncode, result.stderr.decode(errors="replace")))
    return result.stdout


def check_lines(stdout, folder):
    """Every line parses, every size is the file's, and the files listed are the folder's."""
    objects = [json.loads(line) for line in stdout.decode("utf-8", "surrogatepass").splitlines()]
    listed = set()
    total = 0
    for obj in objects:
        for key in ("file", "page"):
            if key in obj:
                path = name_bytes(obj[key])
                if os.path.getsize(path) != obj["bytes"]:
                    fail("%r is %d bytes, the line says %d" % (path, os.path.getsize(path), obj["bytes"]))
                listed.add(os.path.basename(path))
                total += obj["bytes"]
    on_disk = set(os.listdir(os.fsencode(folder)))
    if listed != on_disk:
        fail("listed %s, folder holds %s" % (sorted(listed), sorted(on_disk)))
    summary = objects[-1]
    if not summary.get("summary") or not summary["ok"] or summary["bytes"] != total:
        fail("bad summary %r (files total %d)" % (summary, total))
    return objects


def check_json(cli, sample):
    with tempfile.TemporaryDirectory() as temp:
        out = os.path.join(temp, "sample")
        objects = check_lines(
            run(cli, ["generate", os.path.join(sample, "design.swr"), "--out", out, "--page", "index.html",
                      "--transparent", "F4F1EA", "--json"]), out)
        cells = [obj for obj in objects if "file" in obj]
        if len(cells) != 25 or any(obj["format"] != "gif" for obj in cells):
            fail("expected 25 gif cells, got %r" % cells)
        if not any("psnr" in obj for obj in cells):
            fail("web-palette cells that lose colours carry no psnr")

        # A run that fails part-way says how far it got.
        blocked = os.path.join(temp, "blocked")
        os.makedirs(os.path.join(blocked, "r2_c2.gif"))
        result = subprocess.run([cli, "generate", os.path.join(sample, "design.swr"), "--out", blocked, "--json"],
                                capture_output=True)
        objects = [json.loads(line) for line in result.stdout.decode().splitlines()]
        summary = objects[-1]
        written = sum(1 for obj in objects if "file" in obj)
        if result.returncode != 1 or summary["ok"] or (summary["cells"], summary["written"]) != (25, written):
            fail("a failed run's summary %r after %d files" % (summary, written))

        # Spans, skipped and filled cells, a piece without pixels, and names
        # that are not UTF-8 in a project that is not in the sample folder.
        shutil.copy(os.path.join(sample, "design.bmp"), temp)
        with open(os.path.join(sample, "design.swr"), "rb") as source:
            project = source.read()
        project = project.replace(b"Position2=376", b"Position2=24")
        project += b"[Cells]\r\nR1C3.Span=2x1\r\nR2C3.Skip=1\r\nR2C4.Fill=FF0000\r\nR3C3.Name=na\xffme \"q\"\r\n"
        project += b"R3C1.Text=Open daily\r\nR3C2.Button=Order\r\nR3C2.Link=#order\r\n"
        with open(os.path.join(temp, "odd.swr"), "wb") as target:
            target.write(project)
        odd = os.path.join(os.fsencode(temp), b"o\xfe\x01")
        objects = check_lines(
            run(cli, ["generate", os.path.join(temp, "odd.swr"), b"--out", odd, "--json", "--format", "jpg"]),
            odd)
        kinds = {(obj.get("no_image"), obj.get("why")) for obj in objects if "no_image" in obj}
        if kinds != {("r1_c4", "covered"), ("r2_c3", "skip"), ("r2_c4", "fill"), ("r3_c1", "text"),
                     ("r3_c2", "button")}:
            fail("cells without image: %r" % kinds)
        if not any(obj.get("colspan") == 2 and obj.get("row") == 1 and obj.get("col") == 3 for obj in objects):
            fail("the spanning cell is not reported with its span")
        if not any("skipped" in obj and obj["reason"] for obj in objects):
            fail("the piece between two lines at 24 is not reported as skipped")
        if not any(obj.get("file", "").endswith('na\udcffme "q".jpg') for obj in objects):
            fail("the name with a byte that is not UTF-8 did not come back")


def check_parallel(cli, sample):
    with tempfile.TemporaryDirectory() as temp:
        projects = []
        for name in ("one", "two", "three"):
            shutil.copy(os.path.join(sample, "design.bmp"), temp)
            target = os.path.join(temp, name + ".swr")
            shutil.copy(os.path.join(sample, "design.swr"), target)
            projects.append(target)
        outputs = []
        for jobs in ("1", "2"):
            out = os.path.join(temp, "out" + jobs)
            stdout = run(cli, ["generate"] + projects + ["--out", out, "--page", "index.html", "--format", "auto",
                                                         "--json", "-j", jobs])
            outputs.append(re.sub(rb'"seconds":[0-9.]+', b"", stdout))
            for name in ("one", "two", "three"):
                if len(os.listdir(os.path.join(out, name))) != 26:
                    fail("%s of -j %s is not complete" % (name, jobs))
        compare = filecmp.dircmp(os.path.join(temp, "out1"), os.path.join(temp, "out2"))
        stack = [compare]
        while stack:
            node = stack.pop()
            _, mismatch, errors = filecmp.cmpfiles(node.left, node.right, node.common_files, shallow=False)
            if mismatch or errors or node.left_only or node.right_only:
                fail("-j 2 differs from -j 1 in %s: %s" % (node.left, mismatch + errors + node.left_only))
            stack.extend(node.subdirs.values())
        if outputs[0].replace(b"/out1/", b"/outN/") != outputs[1].replace(b"/out2/", b"/outN/"):
            fail("-j 2 printed other lines or another order than -j 1")


if __name__ == "__main__":
    {"json": check_json, "parallel": check_parallel}[sys.argv[1]](sys.argv[2], sys.argv[3])
    print("ok")
