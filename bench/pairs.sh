# Ratios that hold on a noisy shared machine: the two sides alternate pair by pair (A B A B ...)
# after a warm-up of each, and the figure is the median of the pair ratios, with NAME_spread the
# largest pair ratio over the smallest. A side is a shell command that prints its own time in
# seconds and exits non-zero when its run failed; a failed run stops the benchmark.
# Source it: . bench/pairs.sh

# timed CMD...: runs CMD (its output discarded) and prints the seconds it took; fails with it.
timed() {
  local start end
  start=$(date +%s.%N)
  if ! "$@" >/dev/null 2>&1; then
    echo "benchmark command failed: $*" >&2
    return 1
  fi
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
}

# pair_ratio NAME PAIRS RESULTS SIDE_A SIDE_B: appends "NAME median x" and "NAME_spread s x".
pair_ratio() {
  local name=$1 pairs=$2 results=$3 side_a=$4 side_b=$5 a b i ratios=()
  $side_a >/dev/null || return 1
  $side_b >/dev/null || return 1
  for ((i = 0; i < pairs; i++)); do
    a=$($side_a) || return 1
    b=$($side_b) || return 1
    ratios+=("$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.6f", a / b }')")
  done
  printf '%s\n' "${ratios[@]}" | sort -g | awk -v name="$name" '
    { r[NR] = $1 }
    END {
      m = (NR % 2) ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2
      printf "%s %.3f x\n%s_spread %.3f x\n", name, m, name, r[NR] / r[1]
    }' | tee -a "$results"
}
