#!/usr/bin/env bash
# Whole-process ASCII DXF reading of one large drawing (about 50 MB, 200 000 entities): our
# importer, which builds every line and arc object, beside DIME, dxflib and npm dxf-parser,
# with the ratios, and our importer on a file a tenth the size to show that time grows linearly.
#
# Usage: bench/peers/dxf.sh [path/to/bench_geometry]
#   default program: build/default/bin/bench_geometry under the source tree (it writes the test
#   drawing with --write-dxf and imports a file as a whole process with --import)
#   RUNS=10 runs per command; ENTITIES=200000; BENCH_DATA=folder keeps the drawings and the peer
#   programs between runs (default: build/bench-peers/dxf under the source tree).
# Needs: g++, pkg-config; peers that are missing are named and left out:
#   DIME (apt-get install -y libdime-dev), dxflib (apt-get install -y libdxflib-dev),
#   dxf-parser (node and npm: apt-get install -y nodejs npm; the package is installed by this
#   script into the data folder). hyperfine is used when installed, else a timing loop here.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BENCH=${1:-$ROOT/build/default/bin/bench_geometry}
RUNS=${RUNS:-10}
ENTITIES=${ENTITIES:-200000}
DATA=${BENCH_DATA:-$ROOT/build/bench-peers/dxf}

if [ ! -x "$BENCH" ]; then
    echo "dxf.sh: missing bench_geometry at $BENCH (build it: cmake --preset default && ninja -C build/default bench_geometry)" >&2
    exit 1
fi
command -v g++ >/dev/null 2>&1 || { echo "dxf.sh: missing g++ (apt-get install -y g++)" >&2; exit 1; }
mkdir -p "$DATA/bin" "$DATA/js"
BIG=$DATA/big.dxf
SMALL=$DATA/small.dxf
TINY=$DATA/tiny.dxf
[ -s "$BIG" ] || "$BENCH" --write-dxf "$BIG" "$ENTITIES"
[ -s "$SMALL" ] || "$BENCH" --write-dxf "$SMALL" $((ENTITIES / 10))
[ -s "$TINY" ] || "$BENCH" --write-dxf "$TINY" 10

declare -A CMD=([lapidograph]="$BENCH --import")
ORDER=(lapidograph)
missing=()

# DIME: reads the whole file into its entity model, then we count the entities.
if [ -f /usr/include/dime/Model.h ]; then
    cat > "$DATA/dime_count.cpp" <<'CPP'
#include <dime/Input.h>
#include <dime/Model.h>
#include <dime/State.h>
#include <dime/entities/Entity.h>
#include <cstdio>
#include <map>
#include <string>
static bool count(const dimeState*, dimeEntity* e, void* data)
{
    (*static_cast<std::map<std::string, long>*>(data))[e->getEntityName()]++;
    return true;
}
int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    dimeInput in;
    if (!in.setFile(argv[1])) return 1;
    dimeModel model;
    if (!model.read(&in)) return 1;
    std::map<std::string, long> counts;
    model.traverseEntities(count, &counts, false, false, true);
    std::printf("dime");
    for (const auto& [name, n] : counts) std::printf(" %s=%ld", name.c_str(), n);
    std::printf("\n");
}
CPP
    g++ -O2 -std=c++17 -o "$DATA/bin/dime_count" "$DATA/dime_count.cpp" -ldime
    CMD[dime]="$DATA/bin/dime_count"; ORDER+=(dime)
else
    missing+=("DIME (apt-get install -y libdime-dev)")
fi

# dxflib: a streaming reader with one callback per entity; we count the callbacks.
if pkg-config --exists dxflib 2>/dev/null; then
    cat > "$DATA/dxflib_count.cpp" <<'CPP'
#include <dl_creationadapter.h>
#include <dl_dxf.h>
#include <cstdio>
struct Counter : DL_CreationAdapter {
    long lines = 0, arcs = 0, circles = 0, polylines = 0, vertices = 0;
    void addLine(const DL_LineData&) override { ++lines; }
    void addArc(const DL_ArcData&) override { ++arcs; }
    void addCircle(const DL_CircleData&) override { ++circles; }
    void addPolyline(const DL_PolylineData&) override { ++polylines; }
    void addVertex(const DL_VertexData&) override { ++vertices; }
};
int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    Counter c;
    DL_Dxf dxf;
    if (!dxf.in(argv[1], &c)) return 1;
    std::printf("dxflib LINE=%ld ARC=%ld CIRCLE=%ld polylines=%ld vertices=%ld\n", c.lines, c.arcs, c.circles,
                c.polylines, c.vertices);
}
CPP
    # shellcheck disable=SC2046
    g++ -O2 -std=c++17 $(pkg-config --cflags dxflib) -o "$DATA/bin/dxflib_count" "$DATA/dxflib_count.cpp" $(pkg-config --libs dxflib)
    CMD[dxflib]="$DATA/bin/dxflib_count"; ORDER+=(dxflib)
else
    missing+=("dxflib (apt-get install -y libdxflib-dev)")
fi

# npm dxf-parser: parses the whole text into JavaScript objects.
if command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1; then
    if [ ! -d "$DATA/js/node_modules/dxf-parser" ]; then
        (cd "$DATA/js" && { [ -f package.json ] || echo '{"private": true}' > package.json; } \
            && npm install --no-audit --no-fund --loglevel=error dxf-parser) || true
    fi
    if [ -d "$DATA/js/node_modules/dxf-parser" ]; then
        cat > "$DATA/js/dxf_count.js" <<'JS'
const fs = require('fs');
const m = require('dxf-parser');
const DxfParser = m.default || m.DxfParser || m;
const dxf = new DxfParser().parseSync(fs.readFileSync(process.argv[2], 'utf8'));
const counts = {};
for (const e of dxf.entities) counts[e.type] = (counts[e.type] || 0) + 1;
console.log('dxf-parser ' + Object.entries(counts).map(([k, v]) => k + '=' + v).join(' '));
JS
        CMD[dxf-parser]="node $DATA/js/dxf_count.js"; ORDER+=(dxf-parser)
    else
        missing+=("npm package dxf-parser (npm install failed)")
    fi
else
    missing+=("node and npm (apt-get install -y nodejs npm)")
fi

if [ ${#missing[@]} -gt 0 ]; then
    printf 'dxf.sh: left out (missing):\n' >&2
    printf '  %s\n' "${missing[@]}" >&2
fi

echo "# $(stat -c %s "$BIG") bytes, $ENTITIES entities: what each reader saw"
for p in "${ORDER[@]}"; do ${CMD[$p]} "$BIG"; done

# Median wall time of RUNS runs, in seconds.
median() {
    local cmd=$1 file=$2 out
    if command -v hyperfine >/dev/null 2>&1; then
        out=$(mktemp)
        hyperfine --style none --warmup 1 --runs "$RUNS" --export-json "$out" "$cmd $file" >/dev/null
        python3 -c 'import json,sys; print("%.4f" % json.load(open(sys.argv[1]))["results"][0]["median"])' "$out"
        rm -f "$out"
    else
        local times=() i s e
        for ((i = 0; i < RUNS; i++)); do
            s=$(date +%s.%N); $cmd "$file" >/dev/null; e=$(date +%s.%N)
            times+=("$(echo "$e - $s" | bc -l)")
        done
        printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {printf "%.4f\n", (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'
    fi
}

MB=$(awk -v b="$(stat -c %s "$BIG")" 'BEGIN {printf "%.1f", b / 1e6}')
echo
echo "# median wall time of $RUNS runs on $MB MB (whole process)"
printf '%-12s %10s %10s %14s\n' reader seconds "MB/s" "x lapidograph"
declare -A T
for p in "${ORDER[@]}"; do T[$p]=$(median "${CMD[$p]}" "$BIG"); done
for p in "${ORDER[@]}"; do
    awk -v n="$p" -v t="${T[$p]}" -v mb="$MB" -v ours="${T[lapidograph]}" \
        'BEGIN {printf "%-12s %10.3f %10.1f %14.2f\n", n, t, mb / t, t / ours}'
done
small=$(median "${CMD[lapidograph]}" "$SMALL")
tiny=$(median "${CMD[lapidograph]}" "$TINY")
echo
awk -v s="$small" -v b="${T[lapidograph]}" -v t="$tiny" \
    'BEGIN {printf "lapidograph: start-up (10 entities) %.3f s, a tenth of the file %.3f s; net of start-up big / small = %.1f (10 when linear)\n", t, s, (b - t) / (s - t)}'
