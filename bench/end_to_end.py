"""The Python package's two entry points timed on the end-to-end panel.

    python3 end_to_end.py FILE N T K REPEATS

Reads FILE (long format: id, t, y, x0 .. x{K-1}, cross-sections in turn)
with pandas, untimed, and lays the same values out as an (N, T, K + 1)
array, the regressors then the dependent value of every cross-section and
period. Then times qvdep.cdtest on the DataFrame and on the array, the best
of REPEATS calls each by time.perf_counter, and prints one line per entry
point: its name, the seconds and the CD statistic (repr, every digit), so
the caller can tell that each path ran the same test. The first call on the
DataFrame, the interpreter's first of the package (it loads the module and
meets fresh memory), is printed apart as "first".
"""
import sys
import time

import pandas as pd

import qvdep


def best_of(repeats, call):
    first, fastest, result = None, float("inf"), None
    for _ in range(repeats):
        start = time.perf_counter()
        result = call()
        seconds = time.perf_counter() - start
        first = seconds if first is None else first
        fastest = min(fastest, seconds)
    return fastest, result, first


def main():
    path, n, t, k, repeats = sys.argv[1], *map(int, sys.argv[2:6])
    # Round-trip parsing: pandas' default parser can miss the last bit, and
    # the test should see the values the file was written from.
    frame = pd.read_csv(path, float_precision="round_trip")
    regressors = [f"x{v}" for v in range(k)]
    array = frame[regressors + ["y"]].to_numpy(dtype=float).reshape(n, t, k + 1)
    seconds, result, first = best_of(repeats, lambda: qvdep.cdtest(
        frame, id="id", time="t", y="y", x=regressors))
    print("first", repr(first), repr(result.cd))
    print("dataframe", repr(seconds), repr(result.cd))
    seconds, result, _ = best_of(repeats, lambda: qvdep.cdtest(array))
    print("array", repr(seconds), repr(result.cd))


if __name__ == "__main__":
    main()
