"""The result of one dependence test, as returned by qvdep.cdtest."""
from __future__ import annotations

import copy
import math
from typing import Any, Optional

import numpy as np

from . import _core


def _pandas():
    try:
        import pandas as pd
    except ImportError:  # pragma: no cover - pandas is a Debian package away
        raise ImportError("this needs pandas (Debian package python3-pandas)") from None
    return pd


# The attributes that hold each kind of test's statistic and p-value, from
# the library's catalogue of test kinds.
_ATTRIBUTES = {k["key"]: (k["statistic"], k["p_value"]) for k in _core.test_kinds()}
_ABSENT = {"statistic": math.nan, "p_value": math.nan, "p_value_source": "none"}

class _StoredRun:
    """What a result asks of its run, kept as plain data: the report, the
    JSON object and the density's curves and legend, formed from the run
    when the result is pickled (the run itself, the library's record, stays
    in the process that made it)."""

    def __init__(self, run) -> None:
        self._summary = run.summary()
        self._dict = run.to_dict()
        self._density = run.density()
        self._legend = run.density_legend()

    def summary(self) -> str:
        return self._summary

    def to_dict(self) -> dict:
        return copy.deepcopy(self._dict)

    def density(self) -> dict:
        return copy.deepcopy(self._density)

    def density_legend(self) -> list:
        return list(self._legend)


class CDTestResult:
    """Figures of a cross-sectional dependence test.

    Every p-value is computed by qvdep from its statistic, with a
    complement that keeps its relative precision far into the tail (to
    1e-300; below that it may be 0). The module's own p-values, formed as
    1 - Phi, are kept as it returned them in `module_results`.

    Attributes
    ----------
    lm, lm_pvalue : float
        Breusch-Pagan LM statistic and its upper chi-square tail.
    lm_df : float
        Degrees of freedom of LM, N(N - 1)/2.
    scaled_lm, scaled_lm_pvalue : float
        Pesaran's scaled LM and its upper normal tail.
    cd, cd_pvalue : float
        Pesaran's CD and its two-sided normal p-value.
    cdp, cdp_pvalue : float
        The local CD(p) over pairs at most `order` apart.
    weighted_cd, weighted_cd_pvalue : float
        CD of the residuals multiplied by random signs (Juodis and Reese),
        summed over `cdw_draws` draws as sum/sqrt(R).
    weighted_cd_plus, weighted_cd_plus_pvalue : float
        The power-enhanced weighted CD (Juodis and Reese; Fan, Liao and Yao).
    lm_bc, lm_bc_pvalue : float
        Baltagi, Feng and Kao's bias-corrected scaled LM, the scaled LM less
        N/(2(T - 1)), with its upper normal tail: model "within" with
        individual or two-way effects only (NaN otherwise).
    local_lm, local_scaled_lm : float
        LM and scaled LM over the neighbours of `neighbours`, with their
        `*_pvalue`: models other than "unit" given neighbours only (NaN
        otherwise; `cdp` is then the CD over them).
    lm_adj, lm_adj_pvalue : float
        Pesaran, Ullah and Yamagata's bias-adjusted LM (NaN where it is not
        defined: see `statistics["not_available"]`).
    cd_star, cd_star_pvalue : float
        Pesaran and Xie's CD* with `factors` principal components taken out.
    unbalanced_lm, unbalanced_scaled_lm, unbalanced_cd, unbalanced_cdp : float
        Pesaran's unbalanced-panel definitions (centred correlations over
        each pair's common periods, as R's plm computes them), with their
        `*_pvalue`; NaN unless a residual is missing, `unbalanced=True` or
        `neighbours` is given (model "unit" only).
    unbalanced_local_lm, unbalanced_local_scaled_lm : float
        The unbalanced block's LM and scaled LM over the neighbours of
        `neighbours`, with their `*_pvalue` (NaN without neighbours).
    average_correlation, average_abs_correlation : float
        Mean residual correlation and mean absolute correlation over the
        usable pairs (NaN when there is none).
    cross_sections, periods, rows, complete_observations : int
        N, T, rows given, and (i, t) cells with every value present.
    usable_pairs, unusable_pairs : int
        Pairs that entered the statistics and pairs that could not be
        correlated.
    near_perfect_fit : bool
        Some cross-section's residual sum of squares is below 1e-5.
    id, time, y : str
        Names of the cross-section, the period and the dependent variable.
    x, restrictions : list of str
        Regressors and restrictions as given.
    order, effective_order, seed : int
        CD(p) order as given and as used (at most N - 1), the weighted CD's
        seed.
    intercept : bool
    model : str
        The model whose residuals were tested: "unit", "pooling",
        "within", "random", "cce" or "none".
    effect : str or None
        "individual", "time" or "twoways" for within and random models (as
        used: "individual" unless asked otherwise); None for the others.
    neighbours : str or None
        What the local tests' neighbours were given as ("pandas.DataFrame
        10 x 10", "numpy.ndarray 10 x 10", "12 pairs"); None: the pairs at
        most `order` apart.
    warnings : list of str
        One line each, among them why CD is no valid test after period
        effects or CCE.
    friedman, friedman_pvalue, frees, frees_pvalue : float
        Friedman's and Frees' rank tests over the periods every
        cross-section has a residual in (NaN with fewer than 3).
    strength : dict
        How strong the dependence is, the JSON object's "strength": the
        residuals' exponent alpha (``strength["residuals"]``, with its
        bootstrap interval when `exponent_draws` is given), the variable's
        with its standard error (``strength["variable"]``, None unless
        formed) and the rank tests' periods and Frees' critical values.
    statistics, correlations, common_periods : pandas.DataFrame
    module_results : dict or None
        The module's eight result fields and its fit flag exactly as it
        wrote them (a missing value is NaN): for model "unit", and for
        "cce" its run on the CCE regressors; None for the models the
        library fits itself.

    A result pickles with every figure and table, the report and the JSON
    object (``pickle.loads(pickle.dumps(r))`` gives the same ``summary()``,
    ``to_dict()``, ``statistics``, ``correlations`` and plots); what it
    keeps of the library's run is written out as it is pickled.
    """

    def __init__(self, run, *, id_name: str, time_name: str, y_name: str, x_names: list,
                 options: dict, labels: dict) -> None:
        self._run = run  # the library's result, for the report and the JSON object
        raw = self._raw = run.figures()
        self.id, self.time, self.y, self.x = id_name, time_name, y_name, list(x_names)
        self.intercept = options["intercept"]
        self.order = options["order"]
        self.restrictions = list(options["restrictions"])
        self.seed = options["seed"]
        self.module = options["module"]
        self.effective_order = raw["effective_order"]
        self.model, self.effect, self.neighbours = raw["model"], raw["effect"], raw["neighbours"]
        for key in ("cross_sections", "periods", "rows", "complete_observations",
                    "usable_pairs", "unusable_pairs", "near_perfect_fit", "lm_df",
                    "average_correlation", "average_abs_correlation", "warnings"):
            setattr(self, key, raw[key])
        self.module_results = dict(raw["module"]) if raw["module_ran"] else None
        # Rows are found by their kind; a test the result does not hold is NaN.
        rows = {row["kind"]: row for row in raw["tests"]}
        for kind, (statistic, pvalue) in _ATTRIBUTES.items():
            row = rows.get(kind, _ABSENT)
            setattr(self, statistic, row["statistic"])
            setattr(self, pvalue, row["p_value"])
        self.lm_pvalue_by_tool = rows.get("lm", _ABSENT)["p_value_source"] == "tool"
        self._sections = [labels["sections"].get(s, s) for s in raw["section_labels"]]
        self._periods = [labels["periods"].get(p, p) for p in raw["period_labels"]]

    def __getstate__(self) -> dict:
        # The packed tables in _raw are views of the run; pickling copies
        # them out, and the run gives way to what is asked of it later.
        state = dict(self.__dict__)
        if not isinstance(self._run, _StoredRun):
            state["_run"] = _StoredRun(self._run)
        return state

    @property
    def strength(self) -> dict:
        """The exponents of dependence and the rank tests' basis, as the
        JSON object's "strength"."""
        return self._run.to_dict()["strength"]

    @property
    def section_labels(self) -> list:
        """Cross-sections in the panel's order (of first appearance)."""
        return list(self._sections)

    @property
    def period_labels(self) -> list:
        """Periods in the order the module reads them."""
        return list(self._periods)

    @property
    def statistics(self):
        """One row per test: statistic, distribution, p-value, whether qvdep
        computed it (every available one: the module's own are in
        `module_results`), the reference that defines it, and why it is not
        available (empty when it is)."""
        pd = _pandas()
        rows = self._raw["tests"]
        return pd.DataFrame(
            {"statistic": [r["statistic"] for r in rows],
             "distribution": [r["distribution"] for r in rows],
             "p_value": [r["p_value"] for r in rows],
             "computed_by_tool": [r["p_value_source"] == "tool" for r in rows],
             "reference": [r["reference"] for r in rows],
             "not_available": [r["not_available"] for r in rows]},
            index=pd.Index([r["name"] for r in rows], name="test"))

    @property
    def correlations(self):
        """N-by-N residual correlations labelled by cross-section; 1 on the
        diagonal, NaN for pairs that could not be correlated."""
        return self._labelled_square(self._square("correlations"))

    @property
    def common_periods(self):
        """N-by-N count of periods where both residual series are present
        (the diagonal: each cross-section's complete observations)."""
        table = self._raw["common_periods"]
        if table is None:  # every residual present: every pair shares all T periods
            n = self.cross_sections
            return self._labelled_square(np.full((n, n), self.periods, dtype=np.intc))
        return self._labelled_square(self._square("common_periods"))

    def _square(self, key):
        """The N-by-N table of a packed one the run keeps."""
        return _core.unpack_square(self._raw[key], self.cross_sections)

    def _labelled_square(self, values):
        """A copy of an N-by-N table, labelled by cross-section."""
        pd = _pandas()
        index = pd.Index(self._sections, name=self.id)
        return pd.DataFrame(values, index=index, columns=index.copy())

    @property
    def signs(self):
        """The weighted CD's random sign of every cross-section."""
        return np.array(self._raw["signs"], dtype=np.int8)

    def summary(self) -> str:
        """The command-line tool's report, word for word."""
        return self._run.summary()

    def to_dict(self) -> dict:
        """The command-line tool's JSON output as a dict (missing: None),
        its "options" naming the model, its effect and the neighbours."""
        d = self._run.to_dict()
        for key in ("model", "effect", "neighbours"):
            d["options"].setdefault(key, getattr(self, key))
        return d

    def plot(self, ax: Optional[Any] = None, *, kind: str = "heatmap",
             title: Optional[str] = None, cmap: str = "RdBu_r"):
        """Draw the correlations with matplotlib.

        Parameters
        ----------
        ax : matplotlib.axes.Axes, optional
            Where to draw (default: a new figure).
        kind : "heatmap" or "density"
            The correlation matrix as a heatmap, or the distribution of the
            usable correlations: histogram, kernel density and the density
            without dependence (sqrt(T_ij) rho ~ N(0, 1)), with CD, CDw+ and
            the averages in the legend, as the tool's --density draws it.
        title : str, optional
            Default: "Residual correlations: <y>".
        cmap : str, default "RdBu_r"
            Heatmap: diverging colour map, centred on 0 over [-1, 1]; pairs
            that could not be correlated are grey.

        Returns
        -------
        matplotlib.axes.Axes

        Raises
        ------
        ImportError
            matplotlib is not installed.
        """
        title = title if title is not None else f"Residual correlations: {self.y}"
        if kind == "density":
            from ._plot import density
            return density(self._run.density(), ax=ax, title=title,
                           legend=self._run.density_legend())
        if kind != "heatmap":
            raise ValueError(f"kind must be \"heatmap\" or \"density\", not {kind!r}")
        from ._plot import heatmap
        return heatmap(self._square("correlations"), self._sections, ax=ax,
                       title=title, cmap=cmap, axis_name=self.id)

    def __repr__(self) -> str:
        def num(v: float) -> str:
            return "NA" if math.isnan(v) else f"{v:.4f}"
        model = self.model if self.effect is None else f"{self.model} ({self.effect})"
        lines = [f"CDTestResult({self.y} on {len(self.x)} regressor"
                 f"{'' if len(self.x) == 1 else 's'}, model {model}: N={self.cross_sections}, "
                 f"T={self.periods}, {self.usable_pairs} usable pairs"
                 f"{'' if self.neighbours is None else ', neighbours ' + self.neighbours})"]
        rows = self._raw["tests"]
        width = max((len(row["name"]) for row in rows), default=0)
        for row in rows:  # p-values as the report prints them
            lines.append(f"  {row['name']:<{width}} {num(row['statistic']):>12}  "
                         f"{_core.pvalue_phrase(row['p_value'])}")
        return "\n".join(lines)
