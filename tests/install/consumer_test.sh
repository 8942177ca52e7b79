#!/usr/bin/env bash
# Installs the build into a private prefix and builds two consumers against it.
set -euo pipefail
trap 'echo "consumer_test: line $LINENO failed: $BASH_COMMAND" >&2' ERR
build=$1 source=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libombrix.so' -print -quit)")
export PKG_CONFIG_PATH=$libdir/pkgconfig

# The README's example, taken from the README itself.
awk '/^```cpp$/{on=1; next} /^```$/{if(on) exit} on' "$source/README.md" > "$work/app.cpp"
test -s "$work/app.cpp"
# shellcheck disable=SC2046
g++ -std=c++20 -Wall -Wextra -Werror "$work/app.cpp" $(pkg-config --cflags --libs ombrix) -o "$work/app"
# Not `ldd | grep -q`: grep leaving at the first match can kill ldd with
# SIGPIPE, which pipefail then reports as a failure.
deps=$(LD_LIBRARY_PATH=$libdir ldd "$work/app")
grep -q "libombrix.so" <<<"$deps"

cmake -S "$source/tests/install/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
# The installed library runs, and is the version the headers name.
LD_LIBRARY_PATH=$libdir "$work/consumer/consumer"
echo "consumers built against $prefix"
