#!/usr/bin/env bash
# The Clean quality's figures in one run, measured by kv_alias_analysis,
# which reads any WAV file:
#   bench/alias_table.sh BUILD_DIR [WORK_DIR]
# 1. Folded energy, Exact beside Clean, Pad 1 on, sines at half full scale,
#    48 kHz, rendered by `kv23 process` through the real CLAP plug-in file;
#    Calf's saturator (LV2, through lv2apply) on the same input when it is
#    installed (calf-plugins).
# 2. A 100 Hz sine through the plug-in: Clean's error against Exact after
#    its latency.
# 3. Pink noise low-passed at 5 kHz through the plug-in: the largest
#    third-octave difference.
# 4. Latency and folded energy at each rate (renders of the DSP core,
#    kv_render_dsp, which sets any rate).
# 5. Clicks: a gain step in Exact and Clean beside a switch of the quality
#    (the DSP core, which switches at a chosen sample).
# The 1 and 3 kHz rows use 997 Hz and 2963 Hz: 48 kHz is a whole multiple
# of 1 and 3 kHz, so everything they fold lands on their own harmonics and
# no measure that looks between the harmonics could see it.
set -euo pipefail
build=${1:?usage: bench/alias_table.sh BUILD_DIR [WORK_DIR]}
work=${2:-$(mktemp -d)}
mkdir -p "$work"
render=$build/bench/kv_render_dsp
analyse=$build/bench/kv_alias_analysis
kv23=$build/host/kv23
clap=$build/KV23-T-ZuDiz.clap
for tool in "$render" "$analyse" "$kv23"; do
  [ -x "$tool" ] || { echo "error: $tool is missing; build it first" >&2; exit 1; }
done
[ -f "$clap" ] || { echo "error: $clap is missing; build it first" >&2; exit 1; }
# plug IN OUT QUALITY GAIN PAD1: the plug-in's render of IN, the gain as a
# normalised value (0..1, as the table gives it), the quality exact or clean.
plug() {
  local q=0 pad=()
  [ "$3" = clean ] && q=1
  [ "$5" = 1 ] && pad=(--pad1)
  "$kv23" process "$1" "$2" --plugin "$clap" --gain "$(awk -v g="$4" 'BEGIN { print 32 * g - 8 }')" \
    "${pad[@]}" --param "Quality=$q" >/dev/null
}
freqs=(997 2963 7000 15000)
drives=(0 0.25 0.6 1.0)
folded() { "$analyse" folded "$1" "$2" | sed 's/.*folded *//; s/ dBc//'; }
harmonic() { "$analyse" folded "$1" "$2" | sed 's/.*harmonic *//; s/ dBc.*//; s/^-3000.00$/none/'; }

echo "== Folded energy (dBc), Pad 1 on, 48 kHz: Exact / Clean"
printf '%-7s' drive
for f in "${freqs[@]}"; do printf '%22s' "$f Hz"; done
echo
for f in "${freqs[@]}"; do
  "$render" --out "$work/dry-$f.wav" --quality dry --sine "$f" --seconds 2
done
for g in "${drives[@]}"; do
  printf '%-7s' "$g"
  for f in "${freqs[@]}"; do
    for q in exact clean; do
      plug "$work/dry-$f.wav" "$work/$q-$g-$f.wav" "$q" "$g" 1
    done
    printf '%22s' "$(folded "$work/exact-$g-$f.wav" "$f") / $(folded "$work/clean-$g-$f.wav" "$f")"
  done
  echo
done
echo "(strongest harmonic at 7 kHz, Exact: $(for g in "${drives[@]}"; do printf '%s ' "$g:$(harmonic "$work/exact-$g-7000.wav" 7000)"; done)dBc)"

calf=http://calf.sourceforge.net/plugins/Saturator
if command -v lv2apply >/dev/null && lv2info "$calf" >/dev/null 2>&1; then
  echo
  echo "== Calf Saturator (lv2apply), same input: folded (strongest harmonic), dBc"
  for d in 1 5 10; do
    printf '%-9s' "drive $d"
    for f in "${freqs[@]}"; do
      lv2apply -i "$work/dry-$f.wav" -o "$work/calf-$d-$f.wav" -c drive "$d" "$calf" >/dev/null 2>&1
      printf '%22s' "$(folded "$work/calf-$d-$f.wav" "$f") ($(harmonic "$work/calf-$d-$f.wav" "$f"))"
    done
    echo
  done
else
  echo "(Calf's saturator or lv2apply is not installed: apt-get install calf-plugins lilv-utils)"
fi

latency=$("$render" --latency --rate 48000)
echo
echo "== 100 Hz sine, Clean against Exact after $latency samples: error (dB)"
"$render" --out "$work/dry-100.wav" --quality dry --sine 100 --seconds 2
for pad in 0 1; do
  printf 'Pad 1 %s:' "$pad"
  for g in "${drives[@]}"; do
    for q in exact clean; do
      plug "$work/dry-100.wav" "$work/m-$q.wav" "$q" "$g" "$pad"
    done
    printf '  %s: %s' "$g" "$("$analyse" match "$work/m-exact.wav" "$work/m-clean.wav" "$latency" |
      sed 's/error *//; s/ dB//')"
  done
  echo
done

echo
echo "== Pink noise below 5 kHz (0.15 RMS), Pad 1: largest third-octave difference 20 Hz..5 kHz"
"$render" --out "$work/dry-pink.wav" --quality dry --pink5k --level 0.15 --seconds 12
for g in "${drives[@]}"; do
  for q in exact clean; do
    plug "$work/dry-pink.wav" "$work/p-$q.wav" "$q" "$g" 1
  done
  echo "  gain $g: $("$analyse" bands "$work/p-exact.wav" "$work/p-clean.wav" "$latency" | head -1)"
done

echo
echo "== Each rate: Clean's latency; folded energy at gain 1, Pad 1 (15 kHz, or 0.3125 fs below 48 kHz), Exact / Clean"
for rate in 8000 22050 44100 48000 88200 96000 176400 192000 384000; do
  f=$(awk -v r="$rate" 'BEGIN { f = 15000 * r / 48000; if (f > 15000) f = 15000; printf "%d", f }')
  for q in exact clean; do
    "$render" --out "$work/r-$q.wav" --rate "$rate" --quality "$q" --gain 1 --pad1 1 --sine "$f" --seconds 2
  done
  l=$("$render" --latency --rate "$rate")
  printf '%7s Hz: %3s samples (%6.3f ms)  %5s Hz: %s / %s\n' "$rate" "$l" \
    "$(awk -v l="$l" -v r="$rate" 'BEGIN { print 1000 * l / r }')" "$f" \
    "$(folded "$work/r-exact.wav" "$f")" "$(folded "$work/r-clean.wav" "$f")"
done

echo
echo "== Clicks: 100 Hz sine, what lies above 2 kHz within 50 ms of the event (peak dBFS; floor before it)"
for setting in "0.25 0" "0.6 1" "1.0 1"; do
  read -r g pad <<<"$setting"
  to=$(awk -v g="$g" 'BEGIN { print g == 1.0 ? 0.95 : g + 0.05 }')
  common=(--gain "$g" --pad1 "$pad" --sine 100 --seconds 1.5 --block 64)
  "$render" --out "$work/c1.wav" --quality exact "${common[@]}" --gain-to "$to" --at 1.0025
  "$render" --out "$work/c2.wav" --quality clean "${common[@]}" --gain-to "$to" --at 1.0025
  "$render" --out "$work/c3.wav" --quality exact "${common[@]}" --switch-at 1.0025
  "$render" --out "$work/c4.wav" --quality clean "${common[@]}" --switch-at 1.0025
  echo "gain $g -> $to, Pad 1 $pad:"
  echo "  step in Exact:   $("$analyse" click "$work/c1.wav" 1.0025)"
  echo "  step in Clean:   $("$analyse" click "$work/c2.wav" 1.0025)"
  echo "  Exact -> Clean:  $("$analyse" click "$work/c3.wav" 1.0025)"
  echo "  Clean -> Exact:  $("$analyse" click "$work/c4.wav" 1.0025)"
done

bench=$build/bench/bench_effect
if [ -x "$bench" ]; then
  echo
  echo "== Cost per stereo frame, 512-frame blocks, the fastest of 5 runs (ns)"
  "$bench" --benchmark_filter='(Kernel|Exact|Clean)(Float|Double)/512$' --benchmark_min_time=0.5 \
    --benchmark_repetitions=5 --benchmark_color=false 2>/dev/null |
    sed -n '/Clean\/Exact/,$p'
fi
