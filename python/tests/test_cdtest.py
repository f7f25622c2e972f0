"""The qvdep package against published figures, the command-line tool, an
independent numpy reference and its own error contract."""
import json
import math
import os
import pickle
import re
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

import qvdep

ROOT = Path(__file__).resolve().parents[2]
EXAMPLES = Path(os.environ.get("QVDEP_EXAMPLES", ROOT / "examples"))
CLI = os.environ.get("QVDEP_CLI", str(ROOT / "build" / "qvdep"))
GRUNFELD = EXAMPLES / "grunfeld.csv"


@pytest.fixture(scope="module")
def grunfeld():
    return pd.read_csv(GRUNFELD)


def grunfeld_array(df):
    """(N, T, K + 1) with the regressors first, as the module lays them out."""
    cols = ["value", "capital", "inv"]
    return np.stack([g.sort_values("year")[cols].to_numpy() for _, g in df.groupby("firm", sort=False)])


def random_panel(n, t, k, seed, drop=0.0, nan=0.0):
    """A long DataFrame of a random panel, with rows dropped and values set
    missing at the given rates."""
    rng = np.random.default_rng(seed)
    ids, times = np.repeat(np.arange(n), t), np.tile(np.arange(1990, 1990 + t), n)
    x = rng.normal(size=(n * t, k))
    common = rng.normal(size=t)
    y = x @ rng.normal(size=k) + 0.5 * np.tile(common, n) + rng.normal(size=n * t)
    df = pd.DataFrame({"id": ids, "t": times, "y": y, **{f"x{j}": x[:, j] for j in range(k)}})
    for col in df.columns[2:]:
        df.loc[rng.random(len(df)) < nan, col] = np.nan
    return df[rng.random(len(df)) >= drop].reset_index(drop=True)


def reference(df, x, intercept=True):
    """Textbook test: per-section least squares on complete rows, residual
    correlations over common periods (usable when both sums of squares
    exceed 1e-12), LM = sum T rho^2, CD = sqrt(2/(N(N-1))) sum sqrt(T) rho.
    Returns rho, the common periods T_ij, LM and CD."""
    sections = list(dict.fromkeys(df["id"]))
    periods = np.sort(df["t"].unique())
    e = np.full((len(sections), len(periods)), np.nan)
    for i, s in enumerate(sections):
        g = df[df["id"] == s].dropna(subset=["y", *x])
        design = g[x].to_numpy()
        if intercept:
            design = np.column_stack([np.ones(len(g)), design])
        beta = np.linalg.lstsq(design, g["y"].to_numpy(), rcond=None)[0]
        e[i, np.searchsorted(periods, g["t"])] = g["y"].to_numpy() - design @ beta
    n = len(sections)
    rho = np.eye(n)
    present = (~np.isnan(e)).astype(int)
    common = present @ present.T
    lm = cd = 0.0
    for i in range(n):
        for j in range(i + 1, n):
            both = ~np.isnan(e[i]) & ~np.isnan(e[j])
            a, b = e[i, both], e[j, both]
            sii, sjj = a @ a, b @ b
            rho[i, j] = rho[j, i] = np.nan
            if sii > 1e-12 and sjj > 1e-12 and both.sum() > 0:
                rho[i, j] = rho[j, i] = a @ b / math.sqrt(sii * sjj)
                lm += both.sum() * rho[i, j] ** 2
                cd += math.sqrt(both.sum()) * rho[i, j]
    return rho, common, lm, cd * math.sqrt(2.0 / (n * (n - 1)))


# Published Grunfeld figures (order 2, intercept), half a unit in the last
# printed place.
PUBLISHED = [("lm", 97.618, 1e-3), ("lm_pvalue", 9.318e-06, 1e-9), ("scaled_lm", 5.5464, 1e-4),
             ("cd", 5.3401, 1e-4), ("cd_pvalue", 9.292e-08, 1e-11), ("cdp", 3.9633, 1e-4)]


@pytest.mark.parametrize("kind", ["DataFrame", "array"])
def test_grunfeld_figures(grunfeld, kind):
    if kind == "DataFrame":
        r = qvdep.cdtest(grunfeld, id="firm", time="year", y="inv", x=["value", "capital"], order=2)
    else:
        r = qvdep.cdtest(grunfeld_array(grunfeld), y="inv", x=["value", "capital"], order=2)
    for name, printed, place in PUBLISHED:
        assert abs(getattr(r, name) - printed) <= 0.5 * place, name
    assert (r.cross_sections, r.periods, r.usable_pairs, r.lm_df) == (10, 20, 45, 45)
    stats = r.statistics
    assert list(stats.index) == ["LM", "scaled LM", "CD", "CD(2)", "weighted CD", "CDw+",
                                 "LM_adj", "CD*(4)", "FR", "FRE"]
    for test, attribute in [("LM", "lm"), ("scaled LM", "scaled_lm"), ("CD", "cd"),
                            ("CD(2)", "cdp"), ("weighted CD", "weighted_cd")]:
        assert stats.loc[test, "statistic"] == getattr(r, attribute), test
        assert stats.loc[test, "p_value"] == getattr(r, attribute + "_pvalue"), test
    assert list(stats["computed_by_tool"]) == [True] * 10
    assert stats.loc["LM_adj", "reference"] == "Pesaran, Ullah and Yamagata (2008)"
    rho = r.correlations
    assert rho.shape == (10, 10) and np.allclose(rho.to_numpy(), rho.to_numpy().T)
    assert np.all(np.diag(rho) == 1.0)


@pytest.mark.parametrize("loading", [0.4, 3.0])
def test_p_values_keep_their_relative_precision_in_the_tail(loading):
    """Every p-value is the tail of its statistic to 1e-13 relative of
    mpmath's (50 digits), down to 1e-300; the module's own stay as it
    returned them; summary() and the density legend print the bound."""
    mpmath = pytest.importorskip("mpmath")
    mpmath.mp.dps = 50
    rng = np.random.default_rng(17)
    n, t = 12, 40
    values = rng.normal(size=(n, t, 2))
    values[..., 1] += loading * rng.uniform(0.5, 1.5, size=(n, 1)) * rng.normal(size=t)
    r = qvdep.cdtest(values, y="y", x=["x1"], unbalanced=True)
    far = 0
    for row in r.to_dict()["tests"]:
        # Frees' Q tail is held to mpmath's quadrature in strength_test.cpp.
        if "not_available" in row or row["kind"] == "frees":
            continue
        z, dist = mpmath.mpf(row["statistic"]), row["distribution"]
        if dist.startswith("chi2("):
            want = mpmath.gammainc(mpmath.mpf(dist[5:-1]) / 2, z / 2, mpmath.inf, regularized=True)
        elif dist == "N(0,1) upper tail":
            want = mpmath.erfc(z / mpmath.sqrt(2)) / 2
        else:
            want = mpmath.erfc(abs(z) / mpmath.sqrt(2))
        assert row["p_value_source"] == "tool", row["name"]
        if want < mpmath.mpf("1e-300"):
            far += 1
            assert row["p_value"] is None or row["p_value"] <= 1e-300, row["name"]
        else:
            assert abs(row["p_value"] - want) <= 1e-13 * want, row["name"]
    assert (far > 0) == (loading > 1)
    assert ("< 1e-300" in r.summary()) == (loading > 1)
    module = r.to_dict()["module"]
    assert r.module_results["cd_pvalue"] == module["cd_pvalue"]
    ax = r.plot(kind="density")
    legend = ax.get_legend().get_title().get_text()
    assert ("p < 1e-300" in legend) == (loading > 1), legend
    # The repr and the legend print each p-value as the report's table does.
    printed = report_pvalues(r.summary())
    assert [line.split("  p")[-1].lstrip(" =") for line in repr(r).splitlines()[1:]] == printed
    assert f"CD = {r.cd:.4g}, p {'' if loading > 1 else '= '}{printed[2]}" in legend


def report_pvalues(summary):
    """The p-value column of the report's tables, row after row."""
    row = re.compile(r"^  \S.*?\s(-?\d+\.\d+|NA)\s+(chi2\(\d+\)|N\(0,1\) [a-z -]+?|Q\(\d+\) upper tail)\s+(< 1e-300|\S+)$")
    return [m.group(3) for m in map(row.match, summary.splitlines()) if m]


def test_docstrings_name_every_test():
    for doc in (qvdep.__doc__, qvdep.cdtest.__doc__):
        for name in ("Breusch-Pagan LM", "scaled LM", "CD(p)", "weighted CD", "CDw+",
                     "bias-adjusted LM", "CD*", "unbalanced"):
            assert name in doc, name
    # The models and effects as plm names them, and where plm's p-values differ.
    for name in (*qvdep._core.MODELS, *qvdep._core.EFFECTS, "neighbours", "LM_BC",
                 "upper normal tail", "2(1 - Phi(|z|))"):
        assert name in qvdep.cdtest.__doc__, name


def test_array_and_dataframe_agree_to_the_bit(grunfeld):
    a = qvdep.cdtest(grunfeld, id="firm", time="year", y="inv", x=["value", "capital"])
    b = qvdep.cdtest(grunfeld_array(grunfeld), y="inv", x=["value", "capital"])
    da, db = a.to_dict(), b.to_dict()
    assert da.pop("source") == "pandas.DataFrame" and db.pop("source") == "numpy.ndarray"
    db["options"].update(id="firm", time="year")
    assert da == db
    assert np.array_equal(a.correlations.to_numpy(), b.correlations.to_numpy())
    assert (a.common_periods.to_numpy() == 20).all() and a.common_periods.shape == (10, 10)


def test_an_array_in_any_memory_order_gives_the_same_figures(grunfeld):
    a = grunfeld_array(grunfeld)
    expected = qvdep.cdtest(a, y="inv", x=["value", "capital"]).to_dict()
    every_other = np.zeros(a.shape[:2] + (2 * a.shape[2],))
    every_other[..., ::2] = a
    unaligned = np.ndarray(a.shape, np.float64, np.zeros(a.nbytes + 1, np.uint8), offset=1)
    unaligned[...] = a
    views = {"by column": np.asfortranarray(a), "strided": every_other[..., ::2],
             "sections reversed": a[::-1].copy()[::-1], "unaligned": unaligned,
             "integers": a.astype(np.int64)}
    for name, view in views.items():
        got = qvdep.cdtest(view, y="inv", x=["value", "capital"]).to_dict()
        if name == "integers":  # the values themselves differ
            assert got["tests"] != expected["tests"], name
        else:
            assert got == expected, name


# Period labels of an array's second axis in the array's order; the layout
# orders them as numbers when every one is a number, as text when none is, and a
# DataFrame of the same panel with rows in any order gives the same figures
# to the bit.
ARRAY_PERIODS = [
    [1999, 1991, 1995, 1990, 1992, 1993, 1994, 1996, 1997, 1998],
    ["q10", "q9", "q1", "q2", "q3", "q4", "q5", "q6", "q7", "q8"],
    ["10", "9", "100", "0.5", "-1", "2", "3", "4", "5", "6"],
]


@pytest.mark.parametrize("periods", ARRAY_PERIODS)
def test_array_and_shuffled_dataframe_agree_to_the_bit(periods):
    rng = np.random.default_rng(len(str(periods)))
    n, t, k = 6, len(periods), 2
    values = rng.normal(size=(n, t, k + 1))
    values[rng.random(values.shape) < 0.05] = np.nan
    ids = [f"s{i}" for i in range(n)]
    a = qvdep.cdtest(values, id=ids, time=periods, order=2)
    cells = values.reshape(n * t, k + 1)
    df = pd.DataFrame({"id": np.repeat(ids, t), "time": np.tile(periods, n),
                       **{name: cells[:, j] for j, name in enumerate(["x1", "x2", "y"])}})
    # Rows shuffled, each section's first row kept in the array's order.
    first = df.groupby("id", sort=False).head(1).index
    rest = rng.permutation(df.index.difference(first))
    df = df.loc[list(first) + list(rest)].reset_index(drop=True)
    b = qvdep.cdtest(df, id="id", time="time", y="y", x=["x1", "x2"], order=2)
    da, db = a.to_dict(), b.to_dict()
    assert da.pop("source") == "numpy.ndarray" and db.pop("source") == "pandas.DataFrame"
    assert da == db
    assert a.period_labels == b.period_labels
    assert np.array_equal(a.correlations.to_numpy(), b.correlations.to_numpy(), equal_nan=True)


# Periods as the DataFrame holds them, and the order the report gives them.
PERIOD_ORDERS = [
    ([2001, 1999, 2000], [1999, 2000, 2001]),
    (["10", "9", "100"], ["9", "10", "100"]),          # every one a number
    ([10.5, 9.0, 100.0], [9.0, 10.5, 100.0]),
    (["q10", "q9", "Q1"], ["Q1", "q10", "q9"]),
]


@pytest.mark.parametrize("given,ordered", PERIOD_ORDERS)
def test_periods_sort_as_numbers_or_as_text(given, ordered):
    rng = np.random.default_rng(4)
    n, t = 4, len(given)
    df = pd.DataFrame({"id": np.repeat(np.arange(n), t), "t": given * n,
                       "y": rng.normal(size=n * t), "x": rng.normal(size=n * t)})
    r = qvdep.cdtest(df, id="id", time="t", y="y", x=[], intercept=True)
    assert r.period_labels == ordered
    assert list(r.common_periods.index) == [0, 1, 2, 3]


# Integer labels as pandas.factorize codes them, on each path of the
# package's own coding: runs of one label, labels met again, a narrow range
# (a table by value, up to a span of 2^16 - 1 here), and wider ranges (a
# hash of the distinct labels), the widest there is among them.
_wide = np.random.default_rng(11)
INTEGER_LABELS = [
    np.array([], dtype=np.int64),
    np.array([7]),
    np.repeat([5, 3, 5, 9], 4),
    np.tile(np.arange(1990, 2010), 30),
    np.array([-3, 0, -3, 2**16 - 4, 1]),
    np.array([-3, 0, -3, 2**16 - 3, 1]),
    np.array([np.iinfo(np.int64).min, np.iinfo(np.int64).max, 0, np.iinfo(np.int64).min]),
    _wide.integers(-10**12, 10**12, 5000),
    _wide.integers(0, 300, 5000),
]


@pytest.mark.parametrize("labels", INTEGER_LABELS)
def test_integer_labels_are_coded_as_pandas_codes_them(labels):
    codes, uniques = qvdep._core.factorize_integers(labels.astype(np.int64))
    expected_codes, expected_uniques = pd.factorize(labels, sort=False)
    assert np.array_equal(codes, expected_codes)
    assert np.array_equal(uniques, expected_uniques)


# max_memory: bytes or a size; too little refuses the panel, naming its
# shape, before anything is laid out.
MEMORY_CASES = [
    ("DataFrame", 1000, ValueError, "10 cross-sections \u00d7 20 periods from 200 rows"),
    ("DataFrame", "2k", ValueError, "above the 2.0 kB memory budget$"),  # filled: no hint
    ("array", "1.5kB", ValueError, "10 cross-sections \u00d7 20 periods from 200 rows"),
    ("DataFrame", "4Q", ValueError, "4Q"),
    ("DataFrame", 0, ValueError, "max_memory must be a positive number of bytes"),
    ("DataFrame", 4.0e9, TypeError, "max_memory must be bytes"),
    ("DataFrame", "4G", None, None),
    ("array", 10 ** 10, None, None),
]


@pytest.mark.parametrize("kind,limit,error,message", MEMORY_CASES)
def test_max_memory(grunfeld, kind, limit, error, message):
    data = grunfeld if kind == "DataFrame" else grunfeld_array(grunfeld)
    names = GOOD if kind == "DataFrame" else dict(y="inv", x=["value", "capital"])
    if error is None:
        r = qvdep.cdtest(data, **names, max_memory=limit)
        assert r.to_dict() == qvdep.cdtest(data, **names).to_dict()
        return
    with pytest.raises(error, match=message):
        qvdep.cdtest(data, **names, max_memory=limit)


def unbalanced_csv(tmp_path):
    df = random_panel(7, 15, 2, seed=3, drop=0.15, nan=0.05)
    # Section 6 keeps only K + 1 complete periods: a perfect fit, so its
    # pairs cannot be correlated.
    six = df.index[df["id"] == 6]
    df = df.drop(six[3:])
    path = tmp_path / "unbalanced.csv"
    df.to_csv(path, index=False, na_rep="NA")
    return df, path


CLI_CASES = [
    ("grunfeld", dict(x=["value", "capital"])),
    ("grunfeld", dict(x=["value", "capital"], order=3, intercept=False, seed=7)),
    ("grunfeld", dict(x=["value", "capital"], restrict=["value + capital = 0.2"])),
    ("grunfeld", dict(x=[])),
    ("unbalanced", dict(x=["x0", "x1"], order=2)),
]


@pytest.mark.parametrize("data,kwargs", CLI_CASES)
def test_same_json_and_report_as_the_command_line_tool(grunfeld, tmp_path, data, kwargs):
    if data == "grunfeld":
        df, path, names = grunfeld, GRUNFELD, dict(id="firm", time="year", y="inv")
    else:
        (df, path), names = unbalanced_csv(tmp_path), dict(id="id", time="t", y="y")
    r = qvdep.cdtest(df, **names, **kwargs)
    args = [CLI, "--id", names["id"], "--time", names["time"], "--y", names["y"],
            "--x", ",".join(kwargs["x"]), "--order", str(kwargs.get("order", 1))]
    args += [] if kwargs.get("intercept", True) else ["--no-intercept"]
    args += ["--seed", str(kwargs["seed"])] if "seed" in kwargs else []
    for text in kwargs.get("restrict", []):
        args += ["--restrict", text]
    out = subprocess.run(args + ["--format", "json", str(path)], capture_output=True,
                         text=True, check=True).stdout
    expected = json.loads(out)
    got = r.to_dict()
    assert got.pop("source") == "pandas.DataFrame" and expected.pop("source") == str(path)
    assert as_the_tools(got, expected) == expected
    text = subprocess.run(args + [str(path)], capture_output=True, text=True, check=True).stdout
    assert r.summary() == text.replace(str(path), "pandas.DataFrame", 1)


def as_the_tools(got, tools):
    """The package's JSON object without the model's options the tool's
    does not name (the defaults: each cross-section's own regression, no
    effect, no proximity matrix)."""
    for key, default in (("model", "unit"), ("effect", None), ("neighbours", None)):
        if key not in tools["options"]:
            assert got["options"].pop(key) == default, key
    return got


def cpu_flags():
    try:
        return set(next(l for l in open("/proc/cpuinfo") if l.startswith("flags")).split()[2:])
    except (OSError, StopIteration):
        return set()


# OpenBLAS kernels the processor can run: its own choice (""), and the
# AVX2 and AVX-512 ones where it has those instructions.
KERNELS = [("", set()), ("Haswell", {"avx2", "fma"}),
           ("SkylakeX", {"avx512f", "avx512cd", "avx512bw", "avx512dq", "avx512vl"})]


@pytest.mark.parametrize("coretype,needs", KERNELS)
def test_same_bits_as_the_tool_whatever_kernels_and_blas_the_process_has(coretype, needs):
    """The tools' LAPACK and BLAS are their own serial OpenBLAS, linked in:
    under each choice of its kernels (OPENBLAS_CORETYPE) the tool and Python
    give the same bits, and a BLAS loaded ahead of everything in the Python
    process, whose every routine stops it (QVDEP_DECOY_BLAS, from the build),
    answers none of the package's calls."""
    if not needs <= cpu_flags():
        pytest.skip(f"the processor cannot run OpenBLAS's {coretype} kernels")
    env = dict(os.environ, OPENBLAS_CORETYPE=coretype)
    args = [CLI, "--id", "firm", "--time", "year", "--y", "inv", "--x", "value,capital",
            "--order", "2", "--format", "json", str(GRUNFELD)]
    expected = json.loads(subprocess.run(args, env=env, capture_output=True, text=True,
                                         check=True).stdout)
    if "QVDEP_DECOY_BLAS" in env:
        env["LD_PRELOAD"] = f"{env.get('LD_PRELOAD', '')} {env['QVDEP_DECOY_BLAS']}".strip()
    code = ("import json, sys, pandas as pd, qvdep; print(json.dumps(qvdep.cdtest("
            "pd.read_csv(sys.argv[1]), id='firm', time='year', y='inv',"
            "x=['value', 'capital'], order=2).to_dict()))")
    got = json.loads(subprocess.run([sys.executable, "-c", code, str(GRUNFELD)], env=env,
                                    capture_output=True, text=True, check=True).stdout)
    assert got.pop("source") == "pandas.DataFrame" and expected.pop("source") == str(GRUNFELD)
    assert as_the_tools(got, expected) == expected


def test_unbalanced_panel_against_reference(tmp_path):
    df, _ = unbalanced_csv(tmp_path)
    r = qvdep.cdtest(df, id="id", time="t", y="y", x=["x0", "x1"])
    rho, common, lm, cd = reference(df, ["x0", "x1"])
    assert r.rows == len(df) and r.unusable_pairs == 6 and r.usable_pairs == 15
    got = r.correlations.to_numpy()
    assert np.array_equal(np.isnan(got), np.isnan(rho))
    np.testing.assert_allclose(got, rho, rtol=1e-9, atol=1e-12)
    assert r.lm == pytest.approx(lm, rel=1e-9) and r.cd == pytest.approx(cd, rel=1e-9)
    assert np.array_equal(r.common_periods.to_numpy(), common)
    assert list(r.correlations.index) == list(range(7))
    assert any("no more complete periods" in w for w in r.warnings)
    # None in an object column and pd.NA in a nullable one are missing too.
    other = df.assign(x0=df.x0.astype("Float64"), y=df.y.astype(object).where(df.y.notna(), None))
    assert other.y.isna().any() and other.x0.isna().any()
    same = qvdep.cdtest(other, id="id", time="t", y="y", x=["x0", "x1"])
    assert same.to_dict() == r.to_dict()


# Restrictions against the unrestricted fit of the transformed model they
# imply: beta_value = 0.1 leaves inv - 0.1 value on capital, and
# beta_value + beta_capital = 0.2 leaves inv - 0.2 value on capital - value.
RESTRICTIONS = [
    (["value = 0.1"], lambda d: (d.inv - 0.1 * d.value, [d.capital])),
    (["value + capital = 0.2"], lambda d: (d.inv - 0.2 * d.value, [d.capital - d.value])),
    ("2*value = 0.2", lambda d: (d.inv - 0.1 * d.value, [d.capital])),
    (["value = 0.1", "capital - 0.3 = 0"], lambda d: (d.inv - 0.1 * d.value - 0.3 * d.capital, [])),
]


@pytest.mark.parametrize("restrict,transform", RESTRICTIONS)
def test_restrictions_match_the_implied_model(grunfeld, restrict, transform):
    r = qvdep.cdtest(grunfeld, id="firm", time="year", y="inv", x=["value", "capital"],
                     restrict=restrict, order=2)
    y, xs = transform(grunfeld)
    implied = pd.DataFrame({"firm": grunfeld.firm, "year": grunfeld.year, "y": y,
                            **{f"z{j}": v for j, v in enumerate(xs)}})
    u = qvdep.cdtest(implied, id="firm", time="year", y="y", x=[f"z{j}" for j in range(len(xs))],
                     order=2)
    for name in ("lm", "scaled_lm", "cd", "cdp", "weighted_cd"):
        assert getattr(r, name) == pytest.approx(getattr(u, name), rel=1e-7, abs=1e-9), name
    assert r.restrictions == ([restrict] if isinstance(restrict, str) else restrict)


GOOD = dict(id="firm", time="year", y="inv", x=["value", "capital"])
BAD_INPUTS = [
    ("data", [1, 2], {}, TypeError, "data must be a pandas.DataFrame"),
    (None, None, dict(id="firm", time="year"), TypeError, "needs y= naming"),
    (None, None, dict(GOOD, y="invest"), ValueError,
     'no column named "invest" for the dependent variable'),
    (None, None, dict(GOOD, x=["value", "cap"]), ValueError, 'no column named "cap" for the regressors'),
    # Rows are named by their index labels (what df.loc takes).
    ("text", None, dict(GOOD, x=["value", "name"]), TypeError,
     r"""row 0: column "name": not a number \('firm 1', a str; the column's dtype is object\)"""),
    ("mixed", None, GOOD, TypeError,
     r"""row 'GM-1937': column "value": not a number \('n/a', a str"""),
    ("category", None, dict(GOOD, x=["value", "name"]), TypeError,
     r'column "name": not numeric \(dtype category, holding categorical\)$'),
    ("inf", None, GOOD, ValueError, 'row 2: column "value": not a finite number'),
    ("duplicate", None, GOOD, ValueError,
     r"row 1: duplicate \(firm, year\) pair \(1, 1935\), first given at row 0$"),
    ("duplicate", None, dict(GOOD, id=None, time=None), ValueError,
     r"row \(1, 1935\): duplicate \(firm, year\) pair \(1, 1935\), first given at row \(1, 1935\)"),
    ("no id", None, GOOD, ValueError, 'row 4: column "firm": empty'),
    ("stray period", None, GOOD, ValueError,
     'row 3: column "year": period "1938a" is not a number, but 20 other periods are'),
    ("stray period", None, dict(GOOD, time=None), ValueError,
     r'''row \(1, '1938a'\): column "year": period "1938a" is not a number'''),
    (None, None, dict(GOOD, id=None), TypeError, "needs id= and time= naming its columns"),
    ("levels", None, dict(GOOD, id="firm"), ValueError,
     '"firm" names both a column and a level of the index'),
    (None, None, dict(GOOD, restrict="value +"), ValueError, 'restriction "value \\+": '),
    (None, None, dict(GOOD, restrict="debt = 1"), ValueError, 'unknown variable "debt"'),
    (None, None, dict(GOOD, restrict="const = 1", intercept=False), ValueError,
     "const names the intercept"),
    (None, None, dict(GOOD, restrict=3), TypeError, "restrict must be a string"),
    (None, None, dict(GOOD, order=0), ValueError, "the order of CD\\(p\\) must be 1 or more, not 0"),
    (None, None, dict(GOOD, order=2.0), TypeError, "order must be an integer"),
    (None, None, dict(GOOD, intercept="yes"), TypeError, "intercept must be True or False"),
    (None, None, dict(GOOD, seed=-1), ValueError, "seed must be in"),
    (None, None, dict(GOOD, cdw_draws=0), ValueError, "cdw_draws must be 1 or more, not 0"),
    (None, None, dict(GOOD, cdw_draws=1.5), TypeError, "cdw_draws must be an integer"),
    (None, None, dict(GOOD, exponent_size=1.0), ValueError, r"size p must be in \(0, 1\), not 1"),
    (None, None, dict(GOOD, exponent_size="0.1"), TypeError, "exponent_size must be a number"),
    (None, None, dict(GOOD, exponent_tuning=0), ValueError, r"delta must be in \(0, 1\], not 0"),
    (None, None, dict(GOOD, exponent_draws=0), ValueError, "exponent_draws must be 1 or more"),
    (None, None, dict(GOOD, exponent_seed=-1), ValueError, "exponent_seed must be in"),
    (None, None, dict(GOOD, factors=0), ValueError, "factors must be 1 or more, not 0"),
    (None, None, dict(GOOD, factors=10), ValueError,
     r"CD\*: p = 10 factors need more than p cross-sections and periods \(10 and 20\)"),
    (None, None, dict(GOOD, unbalanced=1), TypeError, "unbalanced must be True or False"),
    (None, None, dict(GOOD, module="/nonexistent/libqvdep.so"), qvdep.ModuleError,
     "cannot load the module"),
    ("data", np.zeros((3, 4)), {}, ValueError, r"shape \(N, T, K \+ 1\)"),
    ("data", np.zeros((3, 4, 2)), dict(x=["a", "b"]), ValueError, "x names 2 regressors"),
    ("data", np.zeros((3, 4, 2)), dict(id=["a", "b"]), ValueError, "id holds 2 labels"),
    ("data", np.full((3, 4, 2), "a"), {}, TypeError, "the array must hold numbers"),
    # Nothing to test: the library's refusals, as qvdep.InputError (a ValueError).
    (None, None, dict(GOOD, x=["value", "inv"]), qvdep.InputError,
     'the dependent variable "inv" is also among the regressors'),
    ("constant y", None, GOOD, qvdep.InputError, 'every cross-section\'s equation fits "inv" exactly'),
    # Models and effects by plm's names; neighbours checked against the panel.
    (None, None, dict(GOOD, model="fixed"), qvdep.InputError,
     'unknown model "fixed": the models are unit, pooling, within, random, cce and none$'),
    (None, None, dict(GOOD, model="within", effect="both"), qvdep.InputError,
     'unknown effect "both": the effects are individual, time and twoways$'),
    (None, None, dict(GOOD, effect="time"), qvdep.InputError,
     "not for model unit"),
    (None, None, dict(GOOD, model="pooling", restrict="value = 0.1"), qvdep.InputError,
     "not model pooling"),
    (None, None, dict(GOOD, model=1), TypeError, "model must be a name"),
    (None, None, dict(GOOD, neighbours=np.ones((3, 3))), qvdep.InputError,
     "neighbours: the proximity matrix is 3 x 3; the panel has 10 cross-sections"),
    (None, None, dict(GOOD, neighbours=np.ones(10)), qvdep.InputError,
     r"neighbours: the array must be N x N, not of shape \(10,\)"),
    (None, None, dict(GOOD, model="within", neighbours=[(1, 2), (3, 11)]), qvdep.InputError,
     'neighbours: pair 2, its second cross-section: "11" is not a cross-section of the panel'),
    (None, None, dict(GOOD, neighbours=pd.DataFrame(np.ones((10, 10)), index=range(2, 12),
                                                   columns=range(1, 11))), qvdep.InputError,
     'neighbours: row "11": "11" is not a cross-section of the panel'),
    (None, None, dict(GOOD, neighbours=np.eye(10, k=-1) + np.eye(10, k=1) + np.eye(10, k=9)),
     qvdep.InputError, 'row "10", column "1": zero below the diagonal, but not zero above it'),
    (None, None, dict(GOOD, model="random", neighbours=np.eye(10)), qvdep.InputError,
     "neighbours: no pair of cross-sections is neighbours below the diagonal"),
    (None, None, dict(GOOD, neighbours=[(1, 1)]), qvdep.InputError,
     "neighbours: no pair of neighbours"),
    (None, None, dict(GOOD, neighbours=[(1, 2, 3)]), qvdep.InputError,
     r"neighbours: pair 1 is \(1, 2, 3\), not a pair of ids"),
    (None, None, dict(GOOD, neighbours="w.csv"), TypeError,
     "neighbours must be a pandas.DataFrame, a numpy array or a list of"),
    ("one firm", None, GOOD, qvdep.InputError, "the panel has 1 cross-section"),
]


@pytest.mark.parametrize("change,data,kwargs,error,message", BAD_INPUTS)
def test_bad_input(grunfeld, change, data, kwargs, error, message):
    df = grunfeld.copy()
    if change == "text":
        df["name"] = "firm " + df.firm.astype(str)
    elif change == "mixed":
        df.index = [f"{'GM' if f == 1 else f}-{y}" for f, y in zip(df.firm, df.year)]
        df["value"] = df.value.astype(object)
        df.loc["GM-1937", "value"] = "n/a"
    elif change == "category":  # no value of its own is text: no row to name
        df["name"] = df.firm.astype("category")
    elif change == "inf":
        df.loc[2, "value"] = np.inf
    elif change == "duplicate":
        df.loc[1, "year"] = 1935
    elif change == "stray period":
        df["year"] = df["year"].astype(str)
        df.loc[3, "year"] = "1938a"
    elif change == "no id":
        df["firm"] = df["firm"].astype(object)
        df.loc[4, "firm"] = None
    elif change == "constant y":
        df["inv"] = df.firm * 10.0
    elif change == "one firm":
        df = df[df.firm == 1]
    elif change == "levels":
        df = df.set_index(["firm", "year"], drop=False)
    if kwargs.get("time", "") is None:  # indexed by (firm, year), as linearmodels takes panels
        df = df.set_index(["firm", "year"])
    with pytest.raises(error, match=message):
        qvdep.cdtest(data if change == "data" else df, **kwargs)


def test_threads_at_once():
    """Five threads in the module at the same time, 25 runs each on panels
    of their own (arrays and DataFrames, small, so that the runs overlap
    often; one of fixed effects with neighbours): every result is the
    serial one to the bit, and the thread whose panel overflows gets
    FloatingPointError every time while the others' runs go on
    undisturbed."""
    rng = np.random.default_rng(12)
    work = [rng.normal(size=(12 + 9 * k, 30 - k, 3)) for k in range(2)]
    for values in work:
        values[rng.random(values.shape) < 0.02] = np.nan
    work.append(random_panel(15, 25, 2, seed=11, drop=0.1, nan=0.02))
    # Fixed effects with neighbours: each run forms them from its own copy.
    work.append(("within", random_panel(14, 20, 2, seed=13, drop=0.1)))
    work.append(rng.normal(size=(4, 6, 2)) * 1e200)

    def run(data):
        model, data = data if isinstance(data, tuple) else ("unit", data)
        try:
            if isinstance(data, pd.DataFrame):
                neighbours = band_pairs(range(14), 3) if model == "within" else None
                return qvdep.cdtest(data, id="id", time="t", y="y", x=["x0", "x1"], order=2,
                                    model=model, neighbours=neighbours).to_dict()
            return qvdep.cdtest(data, order=2).to_dict()
        except FloatingPointError as e:
            return str(e)

    expected = [run(values) for values in work]
    assert "overflow" in expected[-1] and all(isinstance(e, dict) for e in expected[:-1])
    got, errors = [[] for _ in work], []
    start = threading.Barrier(len(work))

    def worker(k):
        try:
            start.wait()
            for _ in range(25):
                got[k].append(run(work[k]))
        except Exception as e:  # reported below, not lost in the thread
            errors.append(e)

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(len(work))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    assert got == [[e] * 25 for e in expected]


def test_floating_point_fault_then_a_correct_run(grunfeld):
    before = qvdep.cdtest(grunfeld, **GOOD).to_dict()
    huge = np.random.default_rng(5).normal(size=(4, 6, 2)) * 1e200
    with pytest.raises(FloatingPointError, match="overflow"):
        qvdep.cdtest(huge)
    assert qvdep.cdtest(grunfeld, **GOOD).to_dict() == before
    # The caller's floating-point state is back: an overflow is infinity
    # again, not a trap that would end the interpreter.
    with np.errstate(over="ignore"):
        assert np.float64(1e308) * np.float64(10.0) == np.inf


def test_every_kind_of_test_has_its_attributes_and_json_name(tmp_path):
    # The catalogue the package reads its attributes from is the one the
    # JSON names the rows by: across runs that hold every block (each
    # cross-section's own regression on an unbalanced panel with a
    # proximity matrix; fixed effects with one), every kind is found, and
    # each row's attributes hold its figures.
    df, _ = unbalanced_csv(tmp_path)
    names = dict(id="id", time="t", y="y", x=["x0", "x1"], neighbours=band_pairs(range(7), 2))
    kinds = {k["key"]: k for k in qvdep._core.test_kinds()}
    seen = set()
    for model in ("unit", "within"):
        r = qvdep.cdtest(df, **names, model=model)
        for row in r.to_dict()["tests"]:
            kind = kinds[row["kind"]]
            seen.add(row["kind"])
            for attribute, key in ((kind["statistic"], "statistic"), (kind["p_value"], "p_value")):
                value = getattr(r, attribute)  # NaN where the JSON has null
                assert value == row[key] or (row[key] is None and math.isnan(value)), attribute
    assert sorted(seen) == sorted(kinds)


def band_pairs(ids, p):
    """The pairs of `ids` at most p apart in their order."""
    ids = list(ids)
    return [(ids[i], ids[j]) for j in range(len(ids)) for i in range(max(0, j - p), j)]


# Each model with one effect on Grunfeld: the rows it gives, in order, and
# whether CD gets the warning that it is no valid test there.
PLM_ROWS = ["lm", "scaled_lm", "cd", "local_cd", "weighted_cd", "weighted_cd_plus",
            "bias_adjusted_lm", "cd_star", "friedman", "frees"]
MODEL_CASES = [
    ("unit", None, PLM_ROWS, False),
    ("pooling", None, PLM_ROWS, False),
    ("within", "individual", PLM_ROWS[:2] + ["bias_corrected_scaled_lm"] + PLM_ROWS[2:], False),
    ("within", "time", PLM_ROWS, True),
    ("within", "twoways", PLM_ROWS[:2] + ["bias_corrected_scaled_lm"] + PLM_ROWS[2:], True),
    ("random", "individual", PLM_ROWS, False),
    ("cce", None, PLM_ROWS, True),
    ("none", None, PLM_ROWS, False),
]


@pytest.mark.parametrize("model,effect,kinds,invalid_cd", MODEL_CASES)
def test_each_model_tests_its_residuals(grunfeld, model, effect, kinds, invalid_cd):
    r = qvdep.cdtest(grunfeld, **GOOD, model=model, effect=effect)
    rows = r.to_dict()["tests"]
    assert [row["kind"] for row in rows] == kinds
    assert all(math.isfinite(v) for v in (r.lm, r.lm_pvalue, r.cd, r.cd_pvalue, r.cdp))
    assert (r.model, r.effect, r.neighbours) == (model, effect, None)
    assert (r.module_results is None) == (model not in ("unit", "cce"))
    # LM_adj's moments are those of each cross-section's own regression.
    assert math.isnan(r.lm_adj) == (model != "unit")
    assert any("CD is no valid test" in w for w in r.warnings) == invalid_cd
    shown = model if effect is None else f"{model} ({effect})"
    assert f", model {shown}:" in repr(r).splitlines()[0]
    again = pickle.loads(pickle.dumps(r))
    assert (again.model, again.effect, again.to_dict()) == (model, effect, r.to_dict())
    assert again.to_dict()["options"]["model"] == model
    assert again.to_dict()["options"]["effect"] == effect


def test_neighbours_in_every_form_give_the_same_figures(grunfeld):
    """A DataFrame (symmetric, rows and columns shuffled, ids as text), an
    array in panel order (its lower triangle alone) and a list of pairs name
    the same neighbours; the pairs at most 2 apart, named so, give what
    order=2 gives over the band."""
    firms = list(dict.fromkeys(grunfeld.firm))
    pairs = band_pairs(firms, 2)
    cells = np.zeros((10, 10))
    for a, b in pairs:  # the lower triangle only, and a weight that is not 1
        cells[max(firms.index(a), firms.index(b)), min(firms.index(a), firms.index(b))] = 0.5
    order = np.random.default_rng(3).permutation(10)
    ids = [str(f) for f in firms]
    frame = pd.DataFrame(cells + cells.T, index=ids, columns=ids).iloc[order, order[::-1]]
    for model in ("unit", "within"):
        runs = {form: qvdep.cdtest(grunfeld, **GOOD, model=model, neighbours=given)
                for form, given in (("frame", frame), ("array", cells), ("pairs", pairs))}
        assert runs["frame"].neighbours == "pandas.DataFrame 10 x 10"
        assert runs["pairs"].neighbours == "17 pairs"
        dicts = [r.to_dict() for r in runs.values()]
        for d in dicts:
            d["options"].pop("neighbours")
        assert dicts[0] == dicts[1] == dicts[2], model
        band = qvdep.cdtest(grunfeld, **GOOD, model=model, order=2, unbalanced=True)
        named = runs["pairs"]
        local = "unbalanced_cdp" if model == "unit" else "cdp"
        assert getattr(named, local) == pytest.approx(getattr(band, local), rel=1e-12)
        assert math.isfinite(named.local_lm if model == "within" else named.unbalanced_local_lm)


def test_new_options_reach_the_statistics(grunfeld):
    one = qvdep.cdtest(grunfeld, **GOOD)
    more = qvdep.cdtest(grunfeld, **GOOD, cdw_draws=3, factors=2, unbalanced=True)
    assert one.unbalanced_lm != one.unbalanced_lm  # NaN: no block on a balanced panel
    # On a balanced panel with an intercept Pesaran's block is the module's.
    assert more.unbalanced_lm == pytest.approx(more.lm, rel=1e-12)
    assert more.unbalanced_cd == pytest.approx(more.cd, rel=1e-12)
    assert "CD*(2)" in more.statistics.index and more.weighted_cd != one.weighted_cd
    assert more.to_dict()["options"]["cdw_draws"] == 3
    assert more.to_dict()["weighted_cd_signs"] is None


def test_rank_tests_and_exponents_as_the_tool_gives_them(grunfeld):
    # Friedman's FR of a series tested as it is: scipy's Friedman statistic
    # with the years as treatments and the firms as blocks. Firm 2 invests
    # 361.6 twice; one is moved, as scipy corrects ties and FR does not.
    from scipy.stats import friedmanchisquare
    untied = grunfeld.copy()
    untied.loc[untied.index[(untied.firm == 2) & (untied.inv == 361.6)][0], "inv"] += 0.01
    options = dict(GOOD, model="none", exponent_draws=40, exponent_seed=7, exponent_size=0.05)
    r = qvdep.cdtest(untied, **options)
    wide = untied.pivot(index="firm", columns="year", values="inv")
    reference = friedmanchisquare(*[wide[year] for year in wide.columns])
    assert r.friedman == pytest.approx(reference.statistic, rel=1e-12)
    assert r.friedman_pvalue == pytest.approx(reference.pvalue, rel=1e-9)
    # Unbalanced: over the periods every firm has, as if cut to them.
    cut = qvdep.cdtest(untied[(untied.firm != 3) | (untied.year >= 1941)], **options)
    late = friedmanchisquare(*[wide[year] for year in wide.columns if year >= 1941])
    assert cut.friedman == pytest.approx(late.statistic, rel=1e-12)
    assert cut.to_dict()["tests"][-1]["note"].startswith("ranks over the 14 periods")
    strength = r.strength
    assert strength["variable"]["variable"] == "inv"
    assert strength["residuals"]["draws"] == 40 and strength["residuals"]["size"] == 0.05
    args = [CLI, "--id", "firm", "--time", "year", "--y", "inv", "--x", "value,capital",
            "--model", "none", "--exponent-draws", "40", "--exponent-seed", "7",
            "--exponent-size", "0.05", "--format", "json", str(GRUNFELD)]
    cli = json.loads(subprocess.run(args, capture_output=True, text=True, check=True).stdout)
    assert cli["strength"] == qvdep.cdtest(grunfeld, **options).strength


def cd_star_reference(e, p):
    """CD* written out with numpy's own eigensolver and least squares: e is
    T x N residuals."""
    t, n = e.shape
    z = (e - e.mean(0)) / e.std(0)
    f = np.linalg.eigh(z @ z.T)[1][:, ::-1][:, :p]
    x = np.column_stack([np.ones(t), f])
    coef = np.linalg.lstsq(x, z, rcond=None)[0]
    eps = z - x @ coef
    sigma = np.sqrt((eps**2).mean(0))
    gamma = coef[1:].T / np.sqrt((coef[1:].T ** 2).mean(0))
    phi = (gamma / sigma[:, None]).mean(0)
    w = ((1 - sigma * (gamma @ phi)) ** 2).mean()
    u = eps / np.linalg.norm(eps, axis=0)
    cd = math.sqrt(2 * t / (n * (n - 1))) * (u.T @ u)[np.triu_indices(n, 1)].sum()
    return (cd + math.sqrt(t / 2) * (1 - w)) / w, w


@pytest.mark.parametrize("spread", [1.0, 0.3])  # loadings 1 + spread N(0, 1): w far from and near 0
def test_cd_star_against_numpy(spread):
    rng = np.random.default_rng(7)
    n, t = 40, 30
    errors = rng.normal(size=(t, 2)) @ (1 + spread * rng.normal(size=(2, n))) + rng.normal(size=(t, n))
    r = qvdep.cdtest(errors.T[:, :, None], factors=3)  # y only: the residuals are y demeaned
    statistic, w = cd_star_reference(errors - errors.mean(0), 3)
    assert r.cd_star == pytest.approx(statistic, rel=1e-8)
    assert r.to_dict()["cd_star_w"] == pytest.approx(w, rel=1e-8)
    assert any("CD*: the scale of its correction" in m for m in r.warnings) == (w < 0.1)


def test_plot_draws_the_correlations(grunfeld, monkeypatch):
    df = random_panel(5, 8, 1, seed=2)
    df = df.drop(df.index[df.id == 4][2:])  # a perfect fit: pairs of 4 are grey
    r = qvdep.cdtest(df, id="id", time="t", y="y", x=["x0"])
    ax = r.plot()
    drawn = ax.images[0].get_array()
    rho = r.correlations.to_numpy()
    assert np.isnan(rho).sum() == 8
    assert np.array_equal(np.ma.getmaskarray(drawn), np.isnan(rho))
    assert np.array_equal(drawn.filled(0), np.nan_to_num(rho))
    assert [t.get_text() for t in ax.get_xticklabels()] == [str(s) for s in r.section_labels]
    ax = r.plot(kind="density")
    assert len(ax.patches) == len(r._run.density()["bar_heights"]) and len(ax.lines) == 2
    with pytest.raises(ValueError, match="kind must be"):
        r.plot(kind="pie")
    monkeypatch.setitem(sys.modules, "matplotlib.pyplot", None)
    with pytest.raises(ImportError, match="python3-matplotlib"):
        r.plot()


def test_installed_package_finds_its_own_module(tmp_path):
    """cmake --install puts an importable package, with the module it loads
    by default, under the prefix; nothing from the build tree is used."""
    build, where = os.environ.get("QVDEP_BUILD_DIR"), os.environ.get("QVDEP_PYTHON_INSTALL_DIR")
    if not build or not where or os.path.isabs(where):
        pytest.skip("needs the build tree and a package directory relative to the prefix")
    subprocess.run([os.environ.get("CMAKE_COMMAND", "cmake"), "--install", build, "--prefix",
                    str(tmp_path)], check=True, capture_output=True)
    code = ("import qvdep, numpy as np; r = qvdep.cdtest(np.load('panel.npy'));"
            "print(qvdep.__file__, qvdep.default_module(), r.cd)")
    panel = random_panel(4, 9, 1, seed=8)
    values = panel.sort_values(["id", "t"])[["x0", "y"]].to_numpy().reshape(4, 9, 2)
    np.save(tmp_path / "panel.npy", values)
    env = dict(os.environ, PYTHONPATH=str(tmp_path / where))
    out = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, env=env, check=True,
                         capture_output=True, text=True).stdout.split()
    package = tmp_path / where / "qvdep"
    assert out[:2] == [str(package / "__init__.py"), str(package / "libqvdep.so")]
    assert float(out[2]) == qvdep.cdtest(values).cd



def test_version_is_the_projects():
    project = re.search(r"project\(qvdep VERSION (\S+)", (ROOT / "CMakeLists.txt").read_text())
    assert qvdep.__version__ == project.group(1)


@pytest.mark.parametrize("index,kwargs", [
    (["firm", "year"], {}),                           # as linearmodels takes a panel
    (["firm", "year"], dict(id="firm", time="year")),  # levels named
    (["firm"], dict(id="firm", time="year")),          # a level and a column
])
def test_an_indexed_dataframe_is_the_same_panel(grunfeld, index, kwargs):
    expected = qvdep.cdtest(grunfeld, **GOOD).to_dict()
    # Rows shuffled within each firm: the layout orders the periods.
    shuffled = grunfeld.sample(frac=1.0, random_state=3).sort_values("firm", kind="stable")
    r = qvdep.cdtest(shuffled.set_index(index), **kwargs, y="inv")
    assert r.to_dict() == expected
    assert (r.id, r.time, r.x) == ("firm", "year", ["value", "capital"])
    unnamed = grunfeld.set_index(["firm", "year"]).rename_axis([None, None])
    got = qvdep.cdtest(unnamed, y="inv").to_dict()
    assert got["options"]["id"] == "id" and got["tests"] == expected["tests"]


def test_a_result_pickles_without_its_run(tmp_path):
    """Every figure, table and text of a result comes back from its pickle
    in a process that never ran the analysis."""
    df, _ = unbalanced_csv(tmp_path)
    r = qvdep.cdtest(df.set_index(["id", "t"]), y="y", x=["x0", "x1"], order=2)
    path = tmp_path / "result.pickle"
    path.write_bytes(pickle.dumps(r))
    code = ("import pickle, sys; r = pickle.loads(open(sys.argv[1], 'rb').read());"
            "r.correlations.to_pickle(sys.argv[1] + '.rho');"
            "print(repr(r)); print(r.summary()); print(r.to_dict()); print(r.statistics);"
            "print(r.common_periods.to_numpy().tolist()); print(r.cd_pvalue, r.section_labels);"
            "print(r.plot(kind='density').get_legend().get_title().get_text())")
    out = subprocess.run([sys.executable, "-c", code, str(path)], check=True,
                         capture_output=True, text=True).stdout
    legend = r.plot(kind="density").get_legend().get_title().get_text()
    assert out == "\n".join([repr(r), r.summary(), str(r.to_dict()), str(r.statistics),
                             str(r.common_periods.to_numpy().tolist()),
                             f"{r.cd_pvalue} {r.section_labels}", legend]) + "\n"
    pd.testing.assert_frame_equal(pd.read_pickle(str(path) + ".rho"), r.correlations)
    again = pickle.loads(pickle.dumps(pickle.loads(path.read_bytes())))
    assert again.to_dict() == r.to_dict() and np.isnan(again.correlations.to_numpy()).any()


@pytest.mark.parametrize("model", ["", "model='within', neighbours=[(0, 1), (5, 2)]"])
def test_ctrl_c_stops_a_long_call_and_leaves_no_thread(model):
    """SIGINT during a call that would run for hours (ten million draws of
    the weighted CD's signs) raises KeyboardInterrupt, the threads are those
    the process had before the call, and the next call works; with each
    cross-section's own regression, and with fixed effects and neighbours."""
    code = """if True:
        import os, time, numpy as np, qvdep
        values = np.random.default_rng(1).normal(size=(200, 30, 2))
        first = qvdep.cdtest(values).cd  # the library's pool is started
        threads = len(os.listdir("/proc/self/task"))
        print("running", flush=True)
        start = time.monotonic()
        try:
            qvdep.cdtest(values, cdw_draws=10**7, MODEL)
        except KeyboardInterrupt:
            print("interrupted", time.monotonic() - start, threads,
                  len(os.listdir("/proc/self/task")), qvdep.cdtest(values).cd == first)
    """.replace(", MODEL", ", " + model if model else "")
    child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    assert child.stdout.readline() == "running\n"
    time.sleep(0.5)
    child.send_signal(signal.SIGINT)
    out, err = child.communicate(timeout=120)  # hours, had the call run to its end
    words = out.split()
    assert child.returncode == 0 and words[0] == "interrupted", err
    assert words[2] == words[3] and words[4] == "True", out


def square(v):
    """A function of the caller's own, which a formula may name."""
    return v * v


def test_a_formula_gives_the_figures_of_its_columns_computed_beforehand(grunfeld):
    """patsy's terms (a NumPy function, one of the caller's, an
    interaction) and "- 1" give the figures of the same columns formed
    first; a NaN a term meets or makes leaves its cell incomplete, as a NaN
    in a given column does, and no row is dropped whole."""
    df = grunfeld.copy()
    df.loc[3, "value"] = np.nan       # np.log meets a NaN
    df.loc[17, "capital"] = -1.0      # np.log makes one
    with np.errstate(invalid="ignore"):
        cols = pd.DataFrame({"firm": df.firm, "year": df.year, "ly": np.log(df.inv),
                             "lv": np.log(df.value), "lk": np.log(df.capital),
                             "sk": square(df.capital), "vk": df.value * df.capital})
    cases = [("np.log(inv) ~ np.log(value) + square(capital)", ["lv", "sk"], True, "unit"),
             ("np.log(inv) ~ np.log(value) + np.log(capital) - 1", ["lv", "lk"], False, "unit"),
             ("np.log(inv) ~ value:capital + np.log(value)", ["vk", "lv"], True, "within")]
    for formula, x, intercept, model in cases:
        with np.errstate(invalid="ignore"):
            got = qvdep.cdtest(df, formula=formula, id="firm", time="year", model=model)
        want = qvdep.cdtest(cols, id="firm", time="year", y="ly", x=x, intercept=intercept,
                            model=model)
        got, want = got.to_dict(), want.to_dict()
        for key in ("tests", "panel", "module", "average_correlation", "warnings"):
            assert got[key] == want[key], (formula, key)
        assert got["options"]["intercept"] == intercept, formula


@pytest.mark.parametrize("kwargs,error,message", [
    (dict(formula="inv value"), qvdep.InputError, 'has no "~"'),
    (dict(formula="inv ~ nothing_here"), qvdep.InputError, "nothing_here"),
    (dict(formula="inv + value ~ capital"), qvdep.InputError, "the left side gives 2 columns"),
    (dict(formula="inv ~ value", y="inv"), TypeError, "either formula= or y="),
    (dict(formula="inv ~ value", intercept=False), qvdep.InputError, 'write "- 1"'),
])
def test_a_bad_formula_is_refused(grunfeld, kwargs, error, message):
    with pytest.raises(error, match=message):
        qvdep.cdtest(grunfeld, id="firm", time="year", **kwargs)
