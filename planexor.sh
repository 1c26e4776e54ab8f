#!/usr/bin/env bash
# Planexor: set up, build, test, run the demo or the window.
#   ./planexor.sh demo            make a synthetic planet video and run the job on it
#   ./planexor.sh test            build and run every test
#   ./planexor.sh test --sanitize the same under AddressSanitizer and UBSan
#   ./planexor.sh gui [FILE]      start the desktop program
#   ./planexor.sh bench [--table] build and run the benchmarks, print the table of the whole job
#   ./planexor.sh fuzz [SECONDS]  run every file reader's fuzz target (30 s each)
#   ./planexor.sh setup | build
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

packages=(cmake ninja-build g++ pkg-config
          qt6-base-dev libgl-dev
          libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
          libjpeg62-turbo-dev libgtest-dev libbenchmark-dev
          ffmpeg libcfitsio-dev libfftw3-dev locales-all fitsverify
          desktop-file-utils libxml2-utils)

setup() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

jobs() { nproc 2>/dev/null || echo 2; }

build() {  # build DIR [cmake options...]
    local dir=$1; shift
    cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
    ninja -C "$dir" -j "$(jobs)"
}

cli() { "$root/build/planexor-cli" "$@"; }

case "${1:-}" in
    setup)
        setup ;;
    build)
        setup; build build -DCMAKE_BUILD_TYPE=Release ;;
    test)
        setup
        if [ "${2:-}" = "--sanitize" ]; then
            build build-sanitize -DCMAKE_BUILD_TYPE=Debug -DPLANEXOR_SANITIZE=ON
            export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1
            cd build-sanitize
        else
            # The benchmarks are compiled too, so that they cannot fall behind the code they time.
            build build -DCMAKE_BUILD_TYPE=Release -DPLANEXOR_BENCH=ON
            cd build
        fi
        # A test that hangs fails after ten minutes instead of holding up the run.
        ctest --output-on-failure --timeout 600 -j "$(jobs)" ;;
    demo)
        setup; build build -DCMAKE_BUILD_TYPE=Release
        demo=${PLANEXOR_DEMO_DIR:-$root/demo-output}
        mkdir -p "$demo"
        echo "Rendering a synthetic planet video into $demo ..."
        cli make-demo "$demo" --frames 500 --size 640x480 >/dev/null
        cli info "$demo/planet.avi"
        echo "Aligning on the planet's centre, stacking the best 25% and sharpening ..."
        cli stack "$demo/planet.avi" --feature 320,240 --best-percent 25 \
            --wavelets 40,30,20,10,10,10 --shifts "$demo/shifts.csv" --out "$demo/planet-sharpened.jpg" \
            --project "$demo/planet.pxp"
        echo "Reopening the saved project, as after a restart, and sharpening it with a brighter gamma ..."
        cli info "$demo/planet.pxp"
        cli process "$demo/planet.pxp" --gamma 1.4 --out "$demo/planet-from-project.jpg"
        cli stack "$demo/planet.avi" --feature 320,240 --best-percent 25 \
            --wavelets 40,30,20,10,10,10 --fits-object "synthetic planet" --out "$demo/planet-sharpened.fit" >/dev/null
        cli stack "$demo/planet.avi" --feature 320,240 --best-percent 25 --wavelets 40,30,20,10,10,10 \
            --gamma-curve 0:0,64:52,192:206,255:255 --out "$demo/planet-s-curve.jpg" >/dev/null
        cli stack "$demo/planet.avi" --feature 320,240 --best-percent 25 --out "$demo/planet-stack.bmp" >/dev/null
        cli stack "$demo/planet.avi" --feature 320,240 --best-percent 25 --out "$demo/planet-stack.fitq" >/dev/null
        echo "Align & stack in one go: aligning, optimizing, stacking the frames above 80% quality, sharpening ..."
        cli stack "$demo/planet.avi" --feature 320,240 --chain --optimize \
            --wavelets 40,30,20,10,10,10 --out "$demo/planet-chain.jpg"
        echo "The same planet as a 12-bit Bayer (RGGB) SER recording, as planetary cameras write it ..."
        cli make-demo "$demo/ser" --frames 500 --size 640x480 --format ser --ser-colour rggb --ser-depth 12 >/dev/null
        cli stack "$demo/ser/planet.ser" --feature 320,240 --best-percent 25 \
            --wavelets 40,30,20,10,10,10 --out "$demo/planet-ser-sharpened.jpg" >/dev/null
        camera="$demo/faulty-camera"
        echo "The same planet through a camera with hot pixels and vignetting, into $camera ..."
        cli make-demo "$camera" --frames 200 --size 640x480 --hot-pixels 400 --vignetting 0.5 >/dev/null
        cli frame "$camera/planet.avi" --index 0 --out "$camera/frame-0.bmp" >/dev/null
        echo "Making a dark frame and a flat field from its dark/ and flat/ frames, then stacking with both ..."
        cli make-dark "$camera/dark/dark.avi" --out "$camera/dark.fitq" 2>/dev/null
        cli make-flat "$camera/flat/flat.avi" --dark "$camera/dark.fitq" --out "$camera/flat.fitq" 2>/dev/null
        cli stack "$camera/planet.avi" --feature 320,240 --best-percent 25 --out "$camera/uncalibrated.bmp" 2>/dev/null
        cli stack "$camera/planet.avi" --feature 320,240 --best-percent 25 --dark "$camera/dark.fitq" \
            --flat "$camera/flat.fitq" --colour --out "$camera/calibrated.bmp" 2>/dev/null
        echo "The 500-frame stack at whole-pixel shifts and at sub-pixel shifts, against the original ..."
        cli stack "$demo/planet.avi" --feature 320,240 --best-percent 25 --subpixel \
            --out "$demo/planet-stack-subpixel.bmp" >/dev/null 2>&1
        echo "  whole pixels: $(cli compare "$demo/planet-stack.bmp" "$demo/original.bmp")"
        echo "  sub-pixel:    $(cli compare "$demo/planet-stack-subpixel.bmp" "$demo/original.bmp")"
        seeing="$demo/strong-seeing"
        echo "Seeing that moves parts of the disc differently, into $seeing: global shifts and alignment points ..."
        cli make-demo "$seeing" --frames 500 --size 640x480 --seeing-distortion 1 >/dev/null
        cli stack "$seeing/planet.avi" --feature 320,240 --best-percent 25 --out "$seeing/global.bmp" >/dev/null 2>&1
        cli stack "$seeing/planet.avi" --feature 320,240 --best-percent 25 --points auto \
            --out "$seeing/points.bmp" >/dev/null 2>&1
        echo "  global shift:     $(cli compare "$seeing/global.bmp" "$seeing/original.bmp")"
        echo "  alignment points: $(cli compare "$seeing/points.bmp" "$seeing/original.bmp")"
        patchy="$demo/patchy-seeing"
        echo "Seeing that blurs parts of the disc more, into $patchy: alignment points, and with local quality ..."
        cli make-demo "$patchy" --frames 300 --size 640x480 --patchy-seeing 1 >/dev/null
        cli stack "$patchy/planet.avi" --feature 320,240 --best-percent 25 --points auto \
            --out "$patchy/points.bmp" >/dev/null 2>&1
        cli stack "$patchy/planet.avi" --feature 320,240 --best-percent 25 --points auto --local-quality \
            --out "$patchy/local.bmp" >/dev/null 2>&1
        echo "  alignment points: $(cli compare "$patchy/points.bmp" "$patchy/original.bmp")"
        echo "  local quality:    $(cli compare "$patchy/local.bmp" "$patchy/original.bmp")"
        echo "Done. The sharpened picture: $demo/planet-sharpened.jpg (FITS: $demo/planet-sharpened_[RGB].fit)"
        echo "the same through a gentle S-shaped gamma curve: $demo/planet-s-curve.jpg"
        echo "The project: $demo/planet.pxp (reopened: $demo/planet-from-project.jpg)"
        echo "The plain stack: $demo/planet-stack.bmp (special FITS: $demo/planet-stack_[RGB].fitq);"
        echo "aligned, optimized and stacked in one chain: $demo/planet-chain.jpg;"
        echo "from the SER recording: $demo/planet-ser-sharpened.jpg; the sharp original to compare: $demo/original.bmp"
        echo "Calibration: one raw frame with its faults, $camera/frame-0.bmp; stacked without and with the"
        echo "dark and flat: $camera/uncalibrated.bmp, $camera/calibrated.bmp"
        echo "Stacked at sub-pixel shifts: $demo/planet-stack-subpixel.bmp; under strong seeing, at the global shift"
        echo "and with alignment points: $seeing/global.bmp, $seeing/points.bmp; under patchy seeing, with"
        echo "alignment points and with local quality too: $patchy/points.bmp, $patchy/local.bmp" ;;
    gui)
        setup; build build -DCMAKE_BUILD_TYPE=Release
        shift; exec "$root/build/planexor" "$@" ;;
    fuzz)  # fuzz [SECONDS]: every reader's libFuzzer target on its seed corpus
        packages+=(clang-14 libclang-rt-14-dev)
        setup; fuzz/run-all.sh "${2:-30}" ;;
    bench)  # bench [--table]: the Google Benchmarks (skipped with --table), then the one table
        setup; build build-bench -DCMAKE_BUILD_TYPE=Release -DPLANEXOR_BENCH=ON -DPLANEXOR_TESTS=OFF
        results=$root/build-bench/bench-results
        mkdir -p "$results"
        if [ "${2:-}" != "--table" ]; then
            for b in build-bench/bench/*_bench; do
                name=$(basename "$b")
                echo "Google Benchmark $name ..." >&2
                "$b" --benchmark_out="$results/$name.json" --benchmark_out_format=json >"$results/$name.txt" 2>&1 ||
                    { cat "$results/$name.txt"; echo "FAILED: $name" >&2; exit 1; }
            done
        fi
        build-bench/bench/planexor_bench_table "$root/build-bench/bench-results.md"
        echo "The table as Markdown: build-bench/bench-results.md; each benchmark's figures: $results/" ;;
    *)
        sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
        exit 2 ;;
esac
