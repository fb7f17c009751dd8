#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a user gets there:
# each program answers --help with its usage text and status 1, and each
# manual page, installed compressed, is sound gzip and formats without a
# warning.
set -euo pipefail
build_dir=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build_dir" --prefix "$prefix" >/dev/null

fail=0
for program in kzpc98shapes kzx68kshapes kzpc98chg_shapes kzx68kchg_shapes kzega_shapes; do
    exe=$prefix/bin/$program
    if [ ! -x "$exe" ]; then
        echo "missing program: $exe"; fail=1; continue
    fi
    status=0
    out=$("$exe" --help </dev/null) || status=$?
    if [ "$status" -ne 1 ]; then
        echo "$program --help: status $status, expected 1"; fail=1
    fi
    case "$out" in
        "usage: $program [options] "*) ;;
        *) echo "$program --help: usage text does not start with its name"; fail=1 ;;
    esac
    page=$prefix/share/man/man1/$program.1.gz
    if [ ! -f "$page" ]; then
        echo "missing manual page: $page"; fail=1; continue
    fi
    if ! gzip -t "$page"; then
        echo "$page: not a sound gzip file"; fail=1; continue
    fi
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    if [ -n "$warnings" ]; then
        echo "$program.1: man warnings:"; echo "$warnings"; fail=1
    fi
    rendered=$(MANWIDTH=80 man -l "$page" 2>/dev/null)
    case "$rendered" in
        *"$program"*SYNOPSIS*) ;;
        *) echo "$program.1: rendered page lacks its name or SYNOPSIS"; fail=1 ;;
    esac
done
[ "$fail" -eq 0 ] && echo "installed programs and manual pages are in order"
exit "$fail"
