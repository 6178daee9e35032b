#!/usr/bin/env python3
"""Worst-case stack of an image's roots, from the compiler's call graphs.

Reads the .ci files (-fcallgraph-info=su) under a build folder and prints,
for each root function, the deepest chain of frames below it. A call into a
function without a frame of its own (the C and maths libraries) counts a
fixed allowance, since those come compiled without call graphs. Recursion
stops the walk and is reported.

usage: stack_usage.py BUILD_DIR [--limit BYTES] ROOT...   (roots by their plain C++ names)
With --limit, exits 1 when the worst case does not fit.
"""
import pathlib
import re
import sys

# Allowances for calls into libraries compiled without call graphs, in
# bytes: newlib-nano's formatted output and input with their helpers, the
# maths functions, and the small run-time routines.
LIBRARY_ALLOWANCE = {'snprintf': 512, 'sscanf': 512, 'pow': 128, 'sin': 128, 'cos': 128, 'acos': 128,
                     'asin': 128, 'sqrt': 32}
SMALL_ROUTINE = 32
EXCEPTION_FRAME = 26 * 4 + 4  # stacked registers with the FPU state, aligned

node_re = re.compile(r'node: \{ title: "([^"]+)" label: "([^"]*)"')
edge_re = re.compile(r'edge: \{ sourcename: "([^"]+)" targetname: "([^"]+)"')
frame_re = re.compile(r'\\n(\d+) bytes \((static|dynamic|dynamic,bounded)\)')


def load(build):
    frames, names, edges = {}, {}, {}
    for path in pathlib.Path(build).rglob('*.ci'):
        for line in path.read_text().splitlines():
            node = node_re.search(line)
            if node:
                title, label = node.groups()
                frame = frame_re.search(label)
                if frame:
                    frames[title] = int(frame.group(1))
                    names.setdefault(label.split('\\n')[0], []).append(title)
                    names.setdefault(title.split(':')[-1], []).append(title)
                continue
            edge = edge_re.search(line)
            if edge:
                source, target = edge.groups()
                edges.setdefault(source, []).append(target)
    return frames, names, edges


def depth(title, frames, names, edges, path):
    if title not in frames:
        defined = [t for t in names.get(title, []) if t in frames]
        if not defined:
            allowance = LIBRARY_ALLOWANCE.get(title, SMALL_ROUTINE)
            return allowance, [f'{title} ({allowance}, library)']
        title = defined[0]
    if title in path:
        raise SystemExit('recursion through ' + title)
    best, chain = 0, []
    for callee in edges.get(title, []):
        d, c = depth(callee, frames, names, edges, path | {title})
        if d > best:
            best, chain = d, c
    return frames[title] + best, [title.split(':')[-1] + ' ' + str(frames[title])] + chain


def main():
    build, roots = sys.argv[1], sys.argv[2:]
    limit = None
    if roots[:1] == ['--limit']:
        limit, roots = int(roots[1], 0), roots[2:]
    frames, names, edges = load(build)
    handlers, foreground = 0, 0
    for root in roots:
        titles = [t for t in names.get(root, []) if t in frames]
        if not titles:
            raise SystemExit('no frame for ' + root)
        d, chain = depth(titles[0], frames, names, edges, frozenset())
        print(f'{root}: {d} bytes: ' + ' > '.join(chain))
        # Roots are named as the call graphs name them ("void Int_sim900()").
        if 'Int_' in root:
            handlers = max(handlers, d)
        else:
            foreground = max(foreground, d)
    # Handlers share one priority level: one of them at a time on top of the
    # foreground, behind an exception frame.
    worst = foreground + EXCEPTION_FRAME + handlers
    print(f'worst case: {worst} bytes')
    if limit is not None and worst > limit:
        print(f'does not fit the stack of {limit} bytes')
        sys.exit(1)


main()
