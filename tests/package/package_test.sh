#!/usr/bin/env bash
# Makes the packages with cpack in a scratch folder, as a user would in the
# build folder, and checks them with the platforms' own tools:
#   linux    the .deb (dpkg-deb -c) and the .tar.gz (tar tzf) each hold the
#            programs, their compressed manual pages, the licence, the README,
#            Debian's copyright file and changelog, the guide page and the
#            web page kzshapes.html; lintian finds no error in the .deb (its
#            warnings and notes are shown);
#   windows  kzshapes-VERSION-win64.zip (unzip -Z1) holds the programs,
#            README.txt, LICENSE.txt, COPYRIGHT.txt (with the notices of
#            the libraries linked in), the sample data, the guide page and
#            kzshapes.html; the README's commands work in the unzipped folder
#            under Wine, and the guide shows its pictures in Chromium.
# In every package the guide page's pictures and in-page links must resolve
# among the files packed with it.
# Usage: package_test.sh linux|windows BUILD_DIR VERSION PYTHON
set -euo pipefail
kind=$1 build_dir=$2 version=$3 python=$4
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
out=$scratch/out

if ! (cd "$build_dir" && cpack -B "$out") >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log"
    echo "cpack failed"
    exit 1
fi

programs=(kzega_shapes kzpc98chg_shapes kzpc98shapes kzx68kchg_shapes kzx68kshapes)
fail=0

# expect NAME LISTING PREFIX PATH...: each PREFIX/PATH is a line of LISTING.
expect() {
    local name=$1 listing=$2 prefix=$3
    shift 3
    local path
    for path; do
        if ! grep -qxF "$prefix$path" "$listing"; then
            echo "$name: missing $prefix$path"
            fail=1
        fi
    done
}

# check_guide NAME PAGE: the packed guide page and what it refers to.
check_guide() {
    if [ ! -f "$2" ]; then
        echo "$1: no guide page $2"
        fail=1
    elif ! "$python" "$here/check_html_links.py" "$2"; then
        echo "$1: the guide page refers to what is not packed"
        fail=1
    fi
}

# One package of the given name pattern, and only one.
the_package() {
    local found=("$out"/$1)
    if [ "${#found[@]}" -ne 1 ] || [ ! -f "${found[0]}" ]; then
        echo "expected one package $1 in $out, found: $(ls "$out")" >&2
        return 1
    fi
    echo "${found[0]}"
}

case $kind in
linux)
    files=(share/doc/kzshapes/LICENSE share/doc/kzshapes/README.md
           share/doc/kzshapes/copyright share/doc/kzshapes/changelog.gz
           share/doc/kzshapes/guide.html share/doc/kzshapes/kzshapes.html)
    for program in "${programs[@]}"; do
        files+=("bin/$program" "share/man/man1/$program.1.gz")
    done

    deb=$(the_package "kzshapes_${version}_*.deb")
    dpkg-deb -c "$deb" | awk '{print $6}' >"$scratch/deb.list"
    expect "$(basename "$deb")" "$scratch/deb.list" ./usr/ "${files[@]}"
    mkdir "$scratch/deb"
    dpkg-deb -x "$deb" "$scratch/deb"
    check_guide "$(basename "$deb")" "$scratch/deb/usr/share/doc/kzshapes/guide.html"

    tgz=$(the_package "kzshapes-${version}-Linux.tar.gz")
    tar tzf "$tgz" >"$scratch/tgz.list"
    expect "$(basename "$tgz")" "$scratch/tgz.list" "kzshapes-${version}-Linux/" "${files[@]}"
    mkdir "$scratch/tgz"
    tar xzf "$tgz" -C "$scratch/tgz"
    check_guide "$(basename "$tgz")" "$scratch/tgz/kzshapes-${version}-Linux/share/doc/kzshapes/guide.html"

    # --fail-on error: status 1 for an error, and 2 if lintian could not check.
    status=0
    lintian --fail-on error --display-info "$deb" >"$scratch/lintian.txt" 2>&1 || status=$?
    grep -v '^running with root privileges' "$scratch/lintian.txt" || true
    errors=$(grep -c '^E: ' "$scratch/lintian.txt" || true)
    echo "lintian: $errors errors, $(grep -c '^W: ' "$scratch/lintian.txt" || true) warnings," \
         "$(grep -c '^I: ' "$scratch/lintian.txt" || true) notes (status $status)"
    if [ "$status" -ne 0 ] || [ "$errors" -ne 0 ]; then
        fail=1
    fi
    ;;
windows)
    zip=$(the_package "kzshapes-${version}-win64.zip")
    files=(README.txt LICENSE.txt COPYRIGHT.txt guide.html kzshapes.html KZ_Varnholm.fdi kz-varnholm.xdf KZ_Varnholm.hdm
           KZ_Varnholm.d88 KZ_Varnholm.nfd KZ_Varnholm.fdd kz-varnholm.dim TILES.16 TILES.4)
    for program in "${programs[@]}"; do
        files+=("$program.exe")
    done
    unzip -Z1 "$zip" >"$scratch/zip.list"
    expect "$(basename "$zip")" "$scratch/zip.list" "kzshapes-${version}-win64/" "${files[@]}"
    unzip -q "$zip" -d "$scratch/zip"
    check_guide "$(basename "$zip")" "$scratch/zip/kzshapes-${version}-win64/guide.html"
    # As a Windows user: the README's commands under Wine, the guide in
    # Chromium (whose screenshot stays in the build folder).
    if ! "$python" "$here/windows_zip_test.py" "$scratch/zip/kzshapes-${version}-win64" \
            "$build_dir/wine_run" "$build_dir/guide-in-chromium.png"; then
        fail=1
    fi
    ;;
*)
    echo "usage: package_test.sh linux|windows BUILD_DIR VERSION PYTHON"
    exit 2
    ;;
esac

[ "$fail" -eq 0 ] && echo "the packages are complete and pass their checkers"
exit "$fail"
