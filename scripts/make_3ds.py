#!/usr/bin/env python3
"""Writes 3DS files for the converter's tests, examples and benchmark.

  make_3ds.py sphere OUT FACES [OBJECTS]   a UV sphere of about FACES faces (split into OBJECTS meshes)
  make_3ds.py view IN OUT                   IN with a point light and a camera added to its editor chunk
"""
import math
import struct
import sys


def chunk(cid, payload=b"", *children):
    body = payload + b"".join(children)
    return struct.pack("<HI", cid, 6 + len(body)) + body


def name(text):
    return text.encode("latin-1") + b"\0"


def color(r, g, b):
    return chunk(0x0010, struct.pack("<3f", r, g, b))


def mesh(object_name, positions, faces, material=None):
    vertices = chunk(0x4110, struct.pack("<H", len(positions)) + b"".join(struct.pack("<3f", *p) for p in positions))
    face_data = struct.pack("<H", len(faces)) + b"".join(struct.pack("<4H", a, b, c, 7) for a, b, c in faces)
    lists = []
    if material:
        lists.append(chunk(0x4130, name(material) + struct.pack("<H", len(faces)) +
                           b"".join(struct.pack("<H", i) for i in range(len(faces)))))
    frame = chunk(0x4160, struct.pack("<12f", 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0))
    return chunk(0x4000, name(object_name), chunk(0x4100, b"", vertices, chunk(0x4120, face_data, *lists), frame))


def sphere_mesh(object_name, rings, segments, z0, z1):
    """Rings of a unit sphere between latitudes z0..z1 (indices of rings), wound counter-clockwise outside."""
    positions, faces = [], []
    for i in range(z0, z1 + 1):
        theta = math.pi * i / rings
        for j in range(segments + 1):
            phi = 2 * math.pi * j / segments
            positions.append((math.sin(theta) * math.cos(phi), math.sin(theta) * math.sin(phi), math.cos(theta)))
    row = segments + 1
    for i in range(z1 - z0):
        for j in range(segments):
            a, b = i * row + j, i * row + j + 1
            c, d = a + row, b + row
            faces.append((a, c, b))
            faces.append((b, c, d))
    return mesh(object_name, positions, faces, "Grey")


def material():
    return chunk(0xAFFF, b"", chunk(0xA000, name("Grey")), chunk(0xA020, b"", color(0.7, 0.7, 0.7)),
                 chunk(0xA030, b"", color(0.2, 0.2, 0.2)), chunk(0xA040, b"", chunk(0x0030, struct.pack("<h", 30))))


def sphere(out, faces, objects):
    # Faces = 2 * rings * segments with segments = 2 * rings; each object at most 65535 vertices.
    rings = max(2, int(math.sqrt(faces / 4)))
    segments = 2 * rings
    parts = []
    step = rings // objects
    for k in range(objects):
        z0, z1 = k * step, rings if k == objects - 1 else (k + 1) * step
        parts.append(sphere_mesh("Sphere%d" % k if objects > 1 else "Sphere", rings, segments, z0, z1))
    editor = chunk(0x3D3D, b"", material(), *parts)
    open(out, "wb").write(chunk(0x4D4D, b"", chunk(0x0002, struct.pack("<I", 3)), editor))


def view(src, out):
    data = open(src, "rb").read()
    light = chunk(0x4000, name("Lamp"), chunk(0x4600, struct.pack("<3f", 4, -3, 6), color(1, 1, 1)))
    camera = chunk(0x4000, name("View"), chunk(0x4700, struct.pack("<3f3f2f", 5, -6, 4, 0, 0, 0, 0, 35)))
    # Append both to the editor chunk and grow the editor and main lengths.
    off = 6
    while off < len(data):
        cid, length = struct.unpack_from("<HI", data, off)
        if cid == 0x3D3D:
            break
        off += length
    extra = light + camera
    cid, length = struct.unpack_from("<HI", data, off)
    end = off + length
    data = data[:end] + extra + data[end:]
    data = data[:off] + struct.pack("<HI", cid, length + len(extra)) + data[off + 6:]
    data = struct.pack("<HI", 0x4D4D, len(data)) + data[6:]
    open(out, "wb").write(data)


if __name__ == "__main__":
    if sys.argv[1] == "sphere":
        sphere(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]) if len(sys.argv) > 4 else 1)
    elif sys.argv[1] == "view":
        view(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
