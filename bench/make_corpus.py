#!/usr/bin/env python3
"""Builds the real-file corpus: one file per kind of data that users pack, each exactly
8 MiB, from what this machine has installed, plus generated meshes and textures.

    python3 bench/make_corpus.py [OUTPUT_DIR]     (default: build/corpus)

The files are gathered in sorted path order, so the same packages give the same bytes;
other packages give other bytes, which is the point: the corpus stays out of the
repository, and its manifest (SHA-256 per file) and source list say what was measured.
A corpus whose manifest still matches its files is left as it is.
"""
import array
import gzip
import hashlib
import math
import os
import random
import struct
import sys

SIZE = 8 * 1024 * 1024
# Files larger than this contribute their first part only, so one big file cannot make
# up a whole kind.
PIECE = 512 * 1024


def walk(roots, accept):
    found = []
    for root in roots:
        for top, dirs, files in os.walk(root):
            dirs.sort()
            for name in files:
                path = os.path.join(top, name)
                if not os.path.islink(path) and os.path.isfile(path) and accept(path):
                    found.append(path)
    return sorted(found)


def read_plain(path):
    with open(path, 'rb') as f:
        return f.read(PIECE)


def read_doc(path):
    if path.endswith('.gz'):
        try:
            with gzip.open(path, 'rb') as f:
                return f.read(PIECE)
        except (OSError, EOFError):
            return b''
    return read_plain(path)


def gather(paths, reader, sources):
    """Concatenates the files until SIZE bytes; goes round again when the machine has less."""
    out = bytearray()
    while len(out) < SIZE and paths:
        before = len(out)
        for path in paths:
            try:
                data = reader(path)
            except OSError:
                continue
            if not data:
                continue
            out += data
            sources.append(path)
            if len(out) >= SIZE:
                break
        if len(out) == before:
            break
    if len(out) < SIZE:
        raise SystemExit('not enough input for a corpus file (%d of %d bytes)' % (len(out), SIZE))
    return bytes(out[:SIZE])


def is_header(path):
    name = os.path.basename(path)
    return name.endswith(('.h', '.hpp', '.hh', '.tcc')) or ('/c++/' in path and '.' not in name)


def is_library(path):
    name = os.path.basename(path)
    return name.endswith('.so') or '.so.' in name


def is_doc(path):
    name = os.path.basename(path).lower()
    if name.endswith('.gz'):
        name = name[:-3]
    return (name in ('copyright', 'readme', 'news', 'authors', 'todo') or name.startswith(('changelog', 'readme')) or
            name.endswith(('.txt', '.md', '.rst')))


def is_image(path):
    return path.lower().endswith(('.png', '.jpg', '.jpeg'))


def mesh_bytes(sources):
    """Vertex buffers (position, normal, texture coordinates as 32-bit floats) and 16-bit
    index buffers of tessellated shapes with surface noise, as model files hold them."""
    rng = random.Random(7)
    out = bytearray()
    shape = 0
    while len(out) < SIZE:
        rings, sides = rng.choice((8, 16, 24, 48)), rng.choice((6, 12, 16, 32, 64))
        radius, tube = rng.uniform(0.2, 40.0), rng.uniform(0.05, 5.0)
        noise = rng.choice((0.0, 0.0, 0.001, 0.05))
        vertices = array.array('f')
        for i in range(rings + 1):
            u = 2 * math.pi * i / rings
            for j in range(sides + 1):
                v = 2 * math.pi * j / sides
                n = (math.cos(u) * math.cos(v), math.sin(u) * math.cos(v), math.sin(v))
                r = radius + tube * math.cos(v) + rng.uniform(-noise, noise)
                vertices.extend((r * math.cos(u), r * math.sin(u), tube * math.sin(v)))
                vertices.extend(n)
                vertices.extend((i / rings, j / sides))
        indices = array.array('H')
        for i in range(rings):
            for j in range(sides):
                a, b = i * (sides + 1) + j, (i + 1) * (sides + 1) + j
                indices.extend((a, b, a + 1, b, b + 1, a + 1))
        if sys.byteorder != 'little':
            vertices.byteswap()
            indices.byteswap()
        out += struct.pack('<4sII', b'MESH', len(vertices) // 8, len(indices))
        out += vertices.tobytes() + indices.tobytes()
        shape += 1
    sources.append('generated: %d shapes' % shape)
    return bytes(out[:SIZE])


def texture_bytes(sources):
    """Uncompressed 8-bit RGBA images: flat colours, gradients, patterns and noisy areas,
    with opaque or graded alpha."""
    rng = random.Random(11)
    out = bytearray()
    count = 0
    while len(out) < SIZE:
        w, h = rng.choice(((256, 256), (512, 256), (128, 128), (512, 512)))
        style = count % 5
        base = [rng.randrange(256) for _ in range(4)]
        pixels = bytearray(w * h * 4)
        k = 0
        for y in range(h):
            for x in range(w):
                if style == 0:  # flat colour with a few stray pixels
                    px = base if rng.random() > 0.002 else [rng.randrange(256) for _ in range(4)]
                    px = (px[0], px[1], px[2], 255)
                elif style == 1:  # gradient
                    px = ((base[0] + x) & 255, (base[1] + y) & 255, (base[2] + (x + y) // 2) & 255, 255)
                elif style == 2:  # checker pattern with alpha cut-out
                    on = ((x // 16) + (y // 16)) & 1
                    px = (base[0] * on, base[1] * on, base[2], 255 if on else 0)
                elif style == 3:  # noise around a colour (ground, rock)
                    px = tuple(max(0, min(255, c + rng.randint(-12, 12))) for c in base[:3]) + (255,)
                else:  # soft radial shape with graded alpha
                    d = math.hypot(x - w / 2, y - h / 2) / (w / 2)
                    a = max(0, min(255, int(255 * (1.2 - d))))
                    px = (base[0], base[1], base[2], a)
                pixels[k:k + 4] = bytes(px)
                k += 4
        out += pixels
        count += 1
    sources.append('generated: %d images' % count)
    return bytes(out[:SIZE])


def record_bytes(sources):
    """Tables of fixed-size records that mostly repeat: vertex buffers of flat and regular
    geometry, rows of height maps with flat ground, arrays of structures left at their
    defaults, and fixed-width text tables, each with a value changed now and then."""
    rng = random.Random(13)
    out = bytearray()
    tables = 0

    def flat_grid():
        # A flat patch of ground: position, normal, texture coordinates per vertex; the
        # height and normal never change, x and the coordinates step along a row.
        side = rng.choice((8, 16, 32, 64))
        step, height = rng.uniform(0.5, 4.0), rng.uniform(-10.0, 50.0)
        vertices = array.array('f')
        for y in range(side + 1):
            for x in range(side + 1):
                vertices.extend((x * step, y * step, height, 0.0, 0.0, 1.0, x / side, y / side))
        return vertices

    def instanced_shape():
        # One small shape copied at a few places, as props and tiles are.
        count = rng.choice((4, 6, 8, 12))
        shape = [rng.uniform(-1.0, 1.0) for _ in range(count * 8)]
        vertices = array.array('f')
        for _ in range(rng.randrange(20, 200)):
            offset = rng.choice((0.0, 0.0, 0.0, rng.uniform(-100.0, 100.0)))
            for k in range(count):
                vertices.extend(shape[k * 8:k * 8 + 8])
                vertices[-8] += offset
        return vertices

    def height_rows():
        width = rng.choice((65, 129, 257, 513, 1025))
        ground = rng.randrange(0, 65536)
        row = array.array('H', [ground] * width)
        rows = array.array('H')
        for _ in range(rng.randrange(16, 96)):
            if rng.random() < 0.1:
                at = rng.randrange(width)
                row[at] = (row[at] + rng.randrange(1, 300)) & 0xFFFF
            rows.extend(row)
        return rows

    def structures():
        fields = rng.randrange(5, 100)
        record = array.array('f', [rng.choice((0.0, 1.0, 0.5, -1.0, 100.0)) for _ in range(fields)])
        table = array.array('f')
        for _ in range(rng.randrange(50, 400)):
            changed = array.array('f', record)
            if rng.random() < 0.05:
                changed[rng.randrange(fields)] = rng.uniform(-1000.0, 1000.0)
            table.extend(changed)
        return table

    def text_table():
        names = ['byte0', 'byte1', 'byte2', 'red', 'green', 'blue', 'alpha', 'flags', 'level', 'count']
        columns = rng.sample(names, rng.randrange(2, 6))
        lines = []
        for _ in range(rng.randrange(100, 1500)):
            values = ['$%02X' % (rng.randrange(256) if rng.random() < 0.03 else 0) for _ in columns]
            lines.append('(' + ' '.join('%s : %s;' % (c, v) for c, v in zip(columns, values)) + '),\n')
        return ''.join(lines).encode('ascii')

    makers = (flat_grid, instanced_shape, height_rows, structures)
    while len(out) < SIZE:
        if tables % 5 == 4:
            out += text_table()
        else:
            values = makers[tables % 5]()
            if sys.byteorder != 'little':
                values.byteswap()
            out += values.tobytes()
        tables += 1
    sources.append('generated: %d tables' % tables)
    return bytes(out[:SIZE])


def library_roots():
    return ['/usr/lib', '/lib'] if not os.path.islink('/lib') else ['/usr/lib']


KINDS = [
    ('headers', lambda s: gather(walk(['/usr/include'], is_header), read_plain, s)),
    ('libraries', lambda s: gather(walk(library_roots(), is_library), read_plain, s)),
    ('text', lambda s: gather(walk(['/usr/share/doc'], is_doc), read_doc, s)),
    ('images', lambda s: gather(walk(['/usr/share'], is_image), read_plain, s)),
    ('meshes', mesh_bytes),
    ('textures', texture_bytes),
    ('records', record_bytes),
]


def sha256(path):
    h = hashlib.sha256()
    with open(path, 'rb') as f:
        for block in iter(lambda: f.read(1 << 20), b''):
            h.update(block)
    return h.hexdigest()


def manifest_lines(out_dir):
    return ['%s  %s.dat\n' % (sha256(os.path.join(out_dir, name + '.dat')), name) for name, _ in KINDS]


def up_to_date(out_dir):
    manifest = os.path.join(out_dir, 'MANIFEST')
    try:
        with open(manifest) as f:
            return f.readlines() == manifest_lines(out_dir)
    except OSError:
        return False


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', 'build', 'corpus')
    os.makedirs(out_dir, exist_ok=True)
    if up_to_date(out_dir):
        print('corpus in %s is complete' % out_dir)
        return
    with open(os.path.join(out_dir, 'SOURCES'), 'w') as listing:
        for name, make in KINDS:
            sources = []
            data = make(sources)
            with open(os.path.join(out_dir, name + '.dat'), 'wb') as f:
                f.write(data)
            listing.write('[%s]\n' % name + ''.join(p + '\n' for p in sources))
            print('%-10s %d bytes from %d sources' % (name, len(data), len(sources)))
    with open(os.path.join(out_dir, 'MANIFEST'), 'w') as f:
        f.writelines(manifest_lines(out_dir))


if __name__ == '__main__':
    main()
