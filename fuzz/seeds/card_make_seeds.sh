#!/bin/bash
# Makes the seeds of the card-command fuzzers (card_admin_fuzz, card_keys_fuzz) by
# playing them against the simulated card; needs the release build's tree:
#   fuzz/seeds/card_make_seeds.sh [build directory, default build/release]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/release}
cmake --build "$build" --target card_fuzz_seeds >/dev/null
mkdir -p "$root/fuzz/seeds/card_admin_fuzz" "$root/fuzz/seeds/card_keys_fuzz"
"$build/tests/card/card_fuzz_seeds" "$root/fuzz/seeds"
