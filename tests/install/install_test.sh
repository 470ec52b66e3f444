#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks that everything lands
# where desktops, pkg-config and CMake look for it, then builds a small C
# program against the installed library twice (through pkg-config and
# through find_package) and runs both.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR C_COMPILER
set -euo pipefail
build=$1 source=$2 cc=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/tamo-install-XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() {
    echo "install test: $*" >&2
    exit 1
}

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || {
    cat "$work/install.log" >&2
    fail "cmake --install failed"
}

pc=$(find "$prefix" -name tamo.pc -path '*/pkgconfig/*')
[ -n "$pc" ] || fail "no tamo.pc under the prefix"
libdir=$(dirname "$(dirname "$pc")")
for f in bin/tamotool bin/tamo include/tamo/tamo.h include/tamo/tamolib.h include/tamo/tamoio.h \
    include/tamo/tamoops.h include/tamo/tamo++.h share/applications/tamotool.desktop \
    share/mime/packages/tamotool-tamo.xml share/icons/hicolor/scalable/apps/tamotool.svg \
    share/icons/hicolor/48x48/apps/tamotool.png share/man/man1/tamo.1; do
    [ -e "$prefix/$f" ] || fail "$f is not installed"
done
for f in libtamo.a cmake/tamo/tamoConfig.cmake cmake/tamo/tamoTargets.cmake; do
    [ -e "$libdir/$f" ] || fail "${libdir#"$prefix"/}/$f is not installed"
done
[ -x "$prefix/bin/tamo" ] && "$prefix/bin/tamo" --version >/dev/null || fail "the installed tamo does not run"
# The desktop entry starts the installed program by name and shows its icon.
grep -qx 'Exec=tamotool %F' "$prefix/share/applications/tamotool.desktop" || fail "Exec line"
grep -qx 'Icon=tamotool' "$prefix/share/applications/tamotool.desktop" || fail "Icon line"

# pkg-config, from a C compiler alone.
export PKG_CONFIG_PATH=$libdir/pkgconfig
flags=$(pkg-config --cflags --libs tamo) || fail "pkg-config does not know tamo"
# shellcheck disable=SC2086
"$cc" -o "$work/by-pkg-config" "$source/tests/install/consumer/roundtrip.c" $flags ||
    fail "building against tamo.pc failed (flags: $flags)"
"$work/by-pkg-config" "$work/a.tam" || fail "the program built through pkg-config failed"

# find_package(tamo) in a project of its own.
unset PKG_CONFIG_PATH
cmake -S "$source/tests/install/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_COMPILER="$cc" >"$work/consumer.log" 2>&1 &&
    cmake --build "$work/consumer" >>"$work/consumer.log" 2>&1 || {
    cat "$work/consumer.log" >&2
    fail "building through find_package(tamo) failed"
}
"$work/consumer/roundtrip" "$work/b.tam" || fail "the program built through find_package failed"
echo "install test: passed"
