#!/usr/bin/env bash
# Whole-process Floyd-Steinberg dithering of one 12-megapixel grey picture: lapidograph-cli dither
# beside ImageMagick and beside a plain C++ diffusion loop (PGM in, PBM out), with the ratios.
#
# Usage: bench/peers/dither.sh [path/to/lapidograph-cli]
#   default program: build/default/bin/lapidograph-cli under the source tree
#   RUNS=10 runs per command; BENCH_DATA=folder keeps the picture between runs (default: a new
#   temporary folder); SIZE=4000x3000.
# Needs: ImageMagick 6 (Debian package imagemagick: convert-im6.q16), python3, g++;
# hyperfine is used when installed, otherwise a timing loop in this script.
#
# ImageMagick's plain Floyd-Steinberg to pure black and white is
#   convert-im6.q16 IN -colorspace gray -dither FloydSteinberg -remap pattern:gray50 OUT
# ("-dither FloydSteinberg -monochrome" first reduces to two grey levels of the picture and does
# not diffuse to black and white).
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
CLI=${1:-$ROOT/build/default/bin/lapidograph-cli}
RUNS=${RUNS:-10}
SIZE=${SIZE:-4000x3000}
W=${SIZE%x*}
H=${SIZE#*x}

missing=()
[ -x "$CLI" ] || missing+=("lapidograph-cli at $CLI (build it: cmake --preset default && ninja -C build/default lapidograph-cli)")
if command -v convert-im6.q16 >/dev/null 2>&1; then IM=convert-im6.q16
elif command -v convert >/dev/null 2>&1; then IM=convert
else missing+=("ImageMagick (apt-get install -y imagemagick)"); fi
command -v python3 >/dev/null 2>&1 || missing+=("python3")
command -v g++ >/dev/null 2>&1 || missing+=("g++ (apt-get install -y g++)")
if [ ${#missing[@]} -gt 0 ]; then
    printf 'dither.sh: missing:\n' >&2
    printf '  %s\n' "${missing[@]}" >&2
    exit 1
fi

DATA=${BENCH_DATA:-$(mktemp -d)}
mkdir -p "$DATA"
PIC=$DATA/ramp_$SIZE.pgm

# The picture: a diagonal grey ramp with a slow ripple and +-24 levels of noise (fixed seed).
if [ ! -s "$PIC" ]; then
    python3 - "$PIC" "$W" "$H" <<'PY'
import math, random, sys
path, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rnd = random.Random(20261210)
noise = bytes(rnd.randrange(49) for _ in range(65536))
with open(path, 'wb') as f:
    f.write(b'P5\n%d %d\n255\n' % (w, h))
    for y in range(h):
        fy = y / max(h - 1, 1)
        rip = 18.0 * math.sin(fy * 7.0)
        row = bytearray(w)
        off = (y * 7919) & 0xFFFF
        for x in range(w):
            fx = x / max(w - 1, 1)
            v = int(255.0 * (0.6 * fx + 0.4 * fy) + rip * math.cos(fx * 5.0)) + noise[(off + x) & 0xFFFF] - 24
            row[x] = 0 if v < 0 else 255 if v > 255 else v
        f.write(row)
PY
fi

# The plain loop: read PGM, diffuse with integer errors on two rows, write PBM.
PLAIN=$DATA/fs_plain
if [ ! -x "$PLAIN" ]; then
    cat > "$DATA/fs_plain.cpp" <<'CPP'
#include <cstdio>
#include <cstdint>
#include <vector>
int main(int argc, char** argv) {
    if (argc != 3) return 2;
    FILE* f = std::fopen(argv[1], "rb"); if (!f) return 1;
    int w = 0, h = 0, m = 0;
    if (std::fscanf(f, "P5 %d %d %d", &w, &h, &m) != 3 || w <= 0 || h <= 0 || m != 255) return 1;
    std::fgetc(f);
    std::vector<uint8_t> px(size_t(w) * h);
    if (std::fread(px.data(), 1, px.size(), f) != px.size()) return 1;
    std::fclose(f);
    std::vector<int> cur(w + 2, 0), nxt(w + 2, 0);
    std::vector<uint8_t> row((w + 7) / 8);
    FILE* o = std::fopen(argv[2], "wb"); if (!o) return 1;
    std::fprintf(o, "P4\n%d %d\n", w, h);
    for (int y = 0; y < h; ++y) {
        std::fill(nxt.begin(), nxt.end(), 0);
        std::fill(row.begin(), row.end(), 0);
        for (int x = 0; x < w; ++x) {
            int v = px[size_t(y) * w + x] + cur[x + 1] / 16;
            int q = v < 128 ? 0 : 255;
            if (!q) row[x >> 3] |= uint8_t(0x80 >> (x & 7));
            int e = v - q;
            cur[x + 2] += 7 * e; nxt[x] += 3 * e; nxt[x + 1] += 5 * e; nxt[x + 2] += e;
        }
        std::fwrite(row.data(), 1, row.size(), o);
        std::swap(cur, nxt);
    }
    return std::fclose(o) == 0 ? 0 : 1;
}
CPP
    g++ -O2 -std=c++17 -o "$PLAIN" "$DATA/fs_plain.cpp"
fi

OURS=("$CLI" dither "$PIC" "$DATA/ours.pbm" --size "$SIZE")
THEIRS=("$IM" "$PIC" -colorspace gray -dither FloydSteinberg -remap pattern:gray50 "$DATA/im.pbm")
PLAINCMD=("$PLAIN" "$PIC" "$DATA/plain.pbm")

# median wall time in milliseconds of RUNS runs (after one warm-up run)
median_ms() {
    "$@" >/dev/null 2>&1 || { echo "dither.sh: command failed: $*" >&2; exit 1; }
    if command -v hyperfine >/dev/null 2>&1; then
        local json=$DATA/hf.json cmd
        cmd=$(printf '%q ' "$@")
        hyperfine --style none --warmup 1 --runs "$RUNS" --export-json "$json" "$cmd" >/dev/null
        python3 -c 'import json,sys; print("%.1f" % (json.load(open(sys.argv[1]))["results"][0]["median"] * 1000))' "$json"
    else
        local t=() i s e
        for ((i = 0; i < RUNS; i++)); do
            s=$(date +%s%N); "$@" >/dev/null 2>&1; e=$(date +%s%N)
            t+=($(( (e - s) / 1000 )))
        done
        printf '%s\n' "${t[@]}" | sort -n | awk '{a[NR]=$1} END {m = (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2; printf "%.1f\n", m / 1000}'
    fi
}

ours=$(median_ms "${OURS[@]}")
theirs=$(median_ms "${THEIRS[@]}")
plain=$(median_ms "${PLAINCMD[@]}")

black_share() { "$IM" "$1" -format '%[fx:1-mean]' info: 2>/dev/null || echo "?"; }

echo "Floyd-Steinberg dithering, $SIZE grey PGM in, PBM out, whole process, median of $RUNS runs"
printf '%-34s %10s %14s\n' "program" "ms" "black share"
printf '%-34s %10s %14s\n' "lapidograph-cli dither" "$ours" "$(black_share "$DATA/ours.pbm")"
printf '%-34s %10s %14s\n' "ImageMagick -remap pattern:gray50" "$theirs" "$(black_share "$DATA/im.pbm")"
printf '%-34s %10s %14s\n' "plain C++ loop" "$plain" "$(black_share "$DATA/plain.pbm")"
python3 - "$ours" "$theirs" "$plain" <<'PY'
import sys
ours, im, plain = map(float, sys.argv[1:])
print("ImageMagick / ours: %.1f x  (goal: at least 8)" % (im / ours))
print("ours / plain loop:  %.2f x (goal: at most 2)" % (ours / plain))
PY
