#!/bin/bash
# Builds the benchmark in Release mode, generates the databases of 1,000,
# 100,000 and 1,000,000 nivlets when they are missing or older than the schema
# or the generator, and runs the benchmark on all three. Arguments are passed
# to the store benchmark (for example --only "search" or --connection-sql "...").
set -euo pipefail
NIVLETS_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$NIVLETS_ROOT/scripts/common.sh"

nivlets_install_missing $NIVLETS_BUILD_PACKAGES
BUILD_DIR="${NIVLETS_BENCH_BUILD:-$NIVLETS_ROOT/build-release}"
DATA_DIR="${NIVLETS_BENCH_DATA:-$BUILD_DIR/bench-data}"
nivlets_configure "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD_DIR" --target nivlets_bench nivlets_benchcrossword nivlets_benchcards nivlets_gendb \
    nivlets_database -j"$(nproc)"

mkdir -p "$DATA_DIR"
files=()
# Sizes with their book counts: about a thousand nivlets a book.
for size in 1000:10 100000:100 1000000:1000; do
    n="${size%%:*}"
    books="${size##*:}"
    file="$DATA_DIR/bench-$n.db"
    if [ ! -e "$file" ] || [ "$NIVLETS_ROOT/data/schema.sql" -nt "$file" ] \
        || [ "$BUILD_DIR/bin/nivlets_gendb" -nt "$file" ]; then
        echo "Generating $file ($n nivlets in $books books)"
        "$BUILD_DIR/bin/nivlets_gendb" "$file" "$n" "$books" 1
    fi
    files+=("$file")
done

"$BUILD_DIR/bin/nivlets_bench" "$@" "${files[@]}"

# The crossword creator on the two smaller files and on the delivered sample.
QT_QPA_PLATFORM=offscreen "$BUILD_DIR/bin/nivlets_benchcrossword" \
    --sample "$BUILD_DIR/data/nivlets" "${files[0]}" "${files[1]}"

# nivlets-cards: importing the 100,000 nivlets, exporting the 1,000,000.
"$BUILD_DIR/bin/nivlets_benchcards" "${files[1]}" "${files[2]}"
