#!/usr/bin/env bash
# The guide's pictures are current: scripts/make_guide_images, run with the
# programs and sample data of this build, must give the pictures of
# docs/images pixel for pixel, no picture missing and none left over.
#
#   guide_images_test.sh SOURCE_DIR BIN_DIR SAMPLE_DIR
set -euo pipefail

source_dir=$1
committed=$source_dir/docs/images
fresh=$(mktemp -d "${TMPDIR:-/tmp}/kz-guide-test.XXXXXX")
trap 'rm -rf "$fresh"' EXIT

KZ_BIN_DIR=$2 KZ_SAMPLE_DIR=$3 "$source_dir/scripts/make_guide_images" "$fresh"

shopt -s nullglob
declare -A seen=()
for path in "$committed"/*.png "$fresh"/*.png; do
    seen[${path##*/}]=1
done
stale=0
for name in "${!seen[@]}"; do
    if [[ ! -e $committed/$name ]]; then
        echo "not in docs/images: $name"
        stale=1
    elif [[ ! -e $fresh/$name ]]; then
        echo "no longer made: docs/images/$name"
        stale=1
    elif ! cmp -s "$committed/$name" "$fresh/$name"; then
        # Another ImageMagick or zlib may encode the same picture in other
        # bytes; only a change of size or pixels makes the picture stale.
        pixels=$(/usr/bin/compare -metric AE "$committed/$name" "$fresh/$name" null: 2>&1 || true)
        if [[ $pixels != 0 ]]; then
            echo "differs: docs/images/$name (pixels differing: $pixels)"
            stale=1
        fi
    fi
done
if ((stale)); then
    echo "the guide's pictures are out of date: run scripts/make_guide_images and commit docs/images"
    exit 1
fi
echo "${#seen[@]} pictures current"
