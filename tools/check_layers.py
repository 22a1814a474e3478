#!/usr/bin/env python3
"""Checks the library's layering.

1. The faces (app/, cli/, input/, tolerance/, web/, and shared/, what the
   dialogue and the command line share) reach the models only through the
   public front door (include/kestrelix/) and the studies (studies/): no face
   includes a header of the routines (models/static/, models/dispersion/,
   models/loss/, synthesis/, network/), of the evaluation chain or its kept
   terms (models/chain.h, models/memo.h) or the result records
   (common/records.h).
2. The studies (studies/) stand between the front door and the faces: they
   include the public headers, each other and of common/ only the sweep
   rule (common/sweep.h), never a face, the report writer or the dialogue.
3. The folders show the layers below the front door: the chain and the line
   models (models/ but the front door's models/coupled_line*.cpp) and the
   network routines never call the synthesis (synthesis/).
4. The command line, the web server and the tolerance engine never include
   the dialogue (input/, app/): what they share with it is in shared/.
5. No include circles between components: a component is a header with the
   sources that implement it (the source of the same name, else the sources
   that include the header and define a function it declares at namespace
   level), and headers implemented by one source form one component, as do
   a header and its hooks for tests (NAME_testing.h, NAME_internal.h in the
   same folder); one component includes another when one of its files does.

Prints every violation and exits 1; exits 0 when there is none.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FOLDERS = ["app", "cli", "input", "tolerance", "web", "shared", "studies", "common", "models",
           "synthesis", "network", "stackup", "include"]
FACES = ("app/", "cli/", "input/", "tolerance/", "web/", "shared/")
DIALOGUE = ("input/", "app/")
STUDIES_MAY_INCLUDE = ("include/", "studies/", "common/sweep.h")
DOOR = ("models/coupled_line.cpp", "models/coupled_line_field.cpp")
BELOW_SYNTHESIS = ("models/", "network/")
PRIVATE = ("models/static/", "models/dispersion/", "models/loss/", "synthesis/", "network/",
           "models/chain.h", "models/memo.h", "common/records.h")

INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.M)
# Namespace-level declarations and definitions start in the first column.
DECLARED = re.compile(r"^[A-Za-z][\w:<>,&*]*(?: [\w:<>,&*]+)* \**&?([a-z_][a-z0-9_]*)\(", re.M)
DEFINED = DECLARED


def sources():
    files = []
    for folder in FOLDERS:
        for dirpath, _, names in os.walk(os.path.join(ROOT, folder)):
            for name in names:
                if name.endswith((".h", ".cpp")):
                    files.append(os.path.relpath(os.path.join(dirpath, name), ROOT))
    return sorted(files)


def resolve(inc, files):
    for cand in (inc, os.path.join("include", inc)):
        if cand in files:
            return cand
    return None


def main():
    files = sources()
    fileset = set(files)
    text = {f: open(os.path.join(ROOT, f), encoding="utf-8").read() for f in files}
    includes = {f: [r for r in (resolve(i, fileset) for i in INCLUDE.findall(text[f])) if r]
                for f in files}
    problems = []

    for f in files:
        if f.startswith(FACES):
            for inc in includes[f]:
                if inc.startswith(PRIVATE):
                    problems.append(f"{f}: a face includes {inc}")
        if f.startswith(("cli/", "web/", "tolerance/", "shared/")):
            for inc in includes[f]:
                if inc.startswith(DIALOGUE):
                    problems.append(f"{f}: includes the dialogue's {inc} (shared/ holds what both use)")
        if f.startswith("studies/"):
            for inc in includes[f]:
                if not inc.startswith(STUDIES_MAY_INCLUDE):
                    problems.append(f"{f}: a study includes {inc}")
        if f.startswith(BELOW_SYNTHESIS) and f not in DOOR:
            for inc in includes[f]:
                if inc.startswith("synthesis/"):
                    problems.append(f"{f}: below the synthesis, includes {inc}")

    headers = [f for f in files if f.endswith(".h")]
    declared = {h: set(DECLARED.findall(text[h])) for h in headers}
    # Components: each header, joined with the headers its sources implement.
    parent = {h: h for h in headers}

    def find(h):
        while parent[h] != h:
            parent[h] = parent[parent[h]]
            h = parent[h]
        return h

    members = {h: [h] for h in headers}
    for f in files:
        if not f.endswith(".cpp"):
            continue
        stem = os.path.splitext(os.path.basename(f))[0]
        same = [h for h in (os.path.join(os.path.dirname(f), stem + ".h"),
                            os.path.join("include", "kestrelix", stem + ".h")) if h in fileset]
        defined = set(DEFINED.findall(text[f]))
        owners = same[:1] + [h for h in includes[f]
                             if h in declared and h not in same and defined & declared[h]]
        for h in owners:
            members[h].append(f)
        for h in owners[1:]:
            parent[find(h)] = find(owners[0])

    for h in headers:
        if re.search(r"_(testing|internal)\.h$", h):
            for inc in includes[h]:
                if inc in parent and os.path.dirname(inc) == os.path.dirname(h):
                    parent[find(h)] = find(inc)

    graph = {}
    for h in headers:
        c = find(h)
        graph.setdefault(c, set())
        for member in members[h]:
            graph[c].update(find(i) for i in includes[member] if i in parent)
    for c in graph:
        graph[c].discard(c)

    # Tarjan's strongly connected components: a component of two or more
    # headers is an include circle.
    index, low, on_stack, stack, counter = {}, {}, set(), [], [0]
    circles = []

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in sorted(graph[v]):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            scc = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                scc.append(w)
                if w == v:
                    break
            if len(scc) > 1:
                circles.append(sorted(scc))

    sys.setrecursionlimit(10000)
    for c in sorted(graph):
        if c not in index:
            visit(c)
    for scc in circles:
        problems.append("include circle: " + " <-> ".join(scc))

    for p in problems:
        print(p)
    if problems:
        return 1
    print(f"check_layers: {len(files)} files; faces use the front door and the studies; "
          "the chain never calls the synthesis; no include circles")
    return 0


if __name__ == "__main__":
    sys.exit(main())
