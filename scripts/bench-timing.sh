# Timing helpers of the benchmark scripts (sourced; PY names the Python).
#   now                 the wall clock in seconds
#   seconds T0 T1       T1 - T0
#   ratio A B           A / B, two decimals
#   best T...           the smallest time
#   timed COMMAND...    runs COMMAND and prints its wall time
now() { date +%s.%N; }
seconds() { $PY -c "import sys; print('%.6f' % (float(sys.argv[2]) - float(sys.argv[1])))" "$1" "$2"; }
ratio() { $PY -c "import sys; print('%.2f' % (float(sys.argv[1]) / max(float(sys.argv[2]), 1e-9)))" "$1" "$2"; }
best() { $PY -c "import sys; print(min(float(a) for a in sys.argv[1:]))" "$@"; }
timed() { local t0 t1; t0=$(now); "$@"; t1=$(now); seconds "$t0" "$t1"; }
