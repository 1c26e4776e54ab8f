#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks what a user's desktop and
# a run from elsewhere need: programs, help panels, desktop entry, icon, file
# types, and that the installed CLI writes nothing beside itself or in the
# directory it is started from.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
elsewhere=$(mktemp -d)
trap 'rm -rf "$prefix" "$elsewhere"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

for file in bin/planexor-cli share/applications/planexor.desktop \
            share/icons/hicolor/scalable/apps/planexor.svg share/mime/packages/planexor.xml; do
    [ -s "$prefix/$file" ] || fail "$file was not installed"
done
if [ -f "$build/planexor" ]; then [ -x "$prefix/bin/planexor" ] || fail "bin/planexor was not installed"; fi
for page in 1 2 3 4 5; do
    [ -s "$prefix/share/planexor/help/Panel$page.rtf" ] || fail "help panel $page was not installed"
done

if command -v desktop-file-validate >/dev/null; then
    report=$(desktop-file-validate "$prefix/share/applications/planexor.desktop" 2>&1) || fail "desktop entry: $report"
    [ -z "$report" ] || fail "desktop entry: $report"
fi
grep -q '^Exec=planexor %f$' "$prefix/share/applications/planexor.desktop" || fail "Exec must take one file"
for glob in '\*.pxp' '\*.pxl'; do
    grep -q "glob pattern=\"$glob\"" "$prefix/share/mime/packages/planexor.xml" || fail "no MIME type for $glob"
done
if command -v xmllint >/dev/null; then xmllint --noout "$prefix/share/mime/packages/planexor.xml" || fail "MIME file"; fi

# The installed CLI runs from another directory and leaves it, and its own, as they were.
before=$(find "$prefix" | sort)
(cd "$elsewhere" && HOME="$elsewhere/home" XDG_CONFIG_HOME="$elsewhere/config" \
    "$prefix/bin/planexor-cli" make-demo demo --frames 4 --size 160x120 >/dev/null &&
    HOME="$elsewhere/home" XDG_CONFIG_HOME="$elsewhere/config" \
    "$prefix/bin/planexor-cli" stack demo/planet.avi --feature 80,60 --best 2 --out demo/stack.bmp >/dev/null 2>&1) ||
    fail "the installed CLI did not stack"
[ -s "$elsewhere/demo/stack.bmp" ] || fail "no stack written"
[ "$(ls -A "$elsewhere")" = "demo" ] || fail "the CLI wrote outside its output: $(ls -A "$elsewhere")"
[ "$before" = "$(find "$prefix" | sort)" ] || fail "the CLI wrote beside itself"
echo "install ok"
