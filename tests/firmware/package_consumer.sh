#!/usr/bin/env bash
# Installs a host build into a scratch prefix, then builds and runs a small C
# consumer twice: through find_package(veldra/ostrel) and through pkg-config.
#   package_consumer.sh BUILD_DIR CONSUMER_SOURCE_DIR SCRATCH_DIR
set -euo pipefail
build=$1 source=$2 scratch=$3
rm -rf "$scratch"
mkdir -p "$scratch"
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null

echo "== find_package"
cmake -S "$source" -B "$scratch/by-package" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/by-package" >/dev/null
"$scratch/by-package/consumer"

echo "== pkg-config"
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
[ "$(pkg-config --modversion veldra)" = "$(pkg-config --modversion ostrel)" ]
cc -std=c11 -Wall -Werror -o "$scratch/consumer-pc" "$source/consumer.c" \
   $(pkg-config --cflags --libs veldra ostrel)
"$scratch/consumer-pc"
