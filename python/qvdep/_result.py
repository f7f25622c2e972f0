"""The result of one dependence test, as returned by qvdep.cdtest."""
from __future__ import annotations

import json
import math
from typing import Any, Optional

import numpy as np


def _pandas():
    try:
        import pandas as pd
    except ImportError:  # pragma: no cover - pandas is a Debian package away
        raise ImportError("this needs pandas (Debian package python3-pandas)") from None
    return pd


class CDTestResult:
    """Figures of a cross-sectional dependence test.

    Attributes
    ----------
    lm, lm_pvalue : float
        Breusch-Pagan LM statistic and its chi-square p-value (computed by
        qvdep when the module returned it missing; see `lm_pvalue_by_tool`).
    lm_df : float
        Degrees of freedom of LM, N(N - 1)/2.
    scaled_lm, scaled_lm_pvalue : float
        Pesaran's scaled LM and its upper normal tail.
    cd, cd_pvalue : float
        Pesaran's CD and its two-sided normal p-value.
    cdp, cdp_pvalue : float
        The local CD(p) over pairs at most `order` apart.
    weighted_cd, weighted_cd_pvalue : float
        CD of the residuals multiplied by random signs (Juodis and Reese).
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
    warnings : list of str
    statistics, correlations, common_periods : pandas.DataFrame
    module_results : dict
        The module's eight result fields and its fit flag exactly as it
        wrote them (a missing value is NaN).
    """

    def __init__(self, raw: dict, *, id_name: str, time_name: str, y_name: str, x_names: list,
                 options: dict, labels: dict) -> None:
        self._raw = raw
        self.id, self.time, self.y, self.x = id_name, time_name, y_name, list(x_names)
        self.intercept = options["intercept"]
        self.order = options["order"]
        self.restrictions = list(options["restrictions"])
        self.seed = options["seed"]
        self.module = options["module"]
        self.effective_order = raw["effective_order"]
        for key in ("cross_sections", "periods", "rows", "complete_observations",
                    "usable_pairs", "unusable_pairs", "near_perfect_fit", "lm_df",
                    "average_correlation", "average_abs_correlation", "warnings"):
            setattr(self, key, raw[key])
        self.module_results = dict(raw["module"])
        rows = raw["tests"]
        self.lm, self.lm_pvalue = rows[0][1], rows[0][3]
        self.lm_pvalue_by_tool = rows[0][4] == "tool"
        self.scaled_lm, self.scaled_lm_pvalue = rows[1][1], rows[1][3]
        self.cd, self.cd_pvalue = rows[2][1], rows[2][3]
        self.cdp, self.cdp_pvalue = rows[3][1], rows[3][3]
        self.weighted_cd, self.weighted_cd_pvalue = rows[4][1], rows[4][3]
        self._sections = [labels["sections"].get(s, s) for s in raw["section_labels"]]
        self._periods = [labels["periods"].get(p, p) for p in raw["period_labels"]]

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
        """One row per test: statistic, distribution, p-value, and whether
        qvdep computed the p-value itself rather than the module."""
        pd = _pandas()
        rows = self._raw["tests"]
        return pd.DataFrame(
            {"statistic": [r[1] for r in rows],
             "distribution": [r[2] for r in rows],
             "p_value": [r[3] for r in rows],
             "computed_by_tool": [r[4] == "tool" for r in rows]},
            index=pd.Index([r[0] for r in rows], name="test"))

    @property
    def correlations(self):
        """N-by-N residual correlations labelled by cross-section; 1 on the
        diagonal, NaN for pairs that could not be correlated."""
        pd = _pandas()
        index = pd.Index(self._sections, name=self.id)
        return pd.DataFrame(np.array(self._raw["correlations"]), index=index,
                            columns=index.copy())

    @property
    def common_periods(self):
        """N-by-N count of periods where both residual series are present
        (the diagonal: each cross-section's complete observations)."""
        pd = _pandas()
        index = pd.Index(self._sections, name=self.id)
        return pd.DataFrame(np.array(self._raw["common_periods"]), index=index,
                            columns=index.copy())

    @property
    def signs(self):
        """The weighted CD's random sign of every cross-section."""
        return np.array(self._raw["signs"], dtype=np.int8)

    def summary(self) -> str:
        """The command-line tool's report, word for word."""
        return self._raw["report"]

    def to_dict(self) -> dict:
        """The command-line tool's JSON output as a dict (missing: None)."""
        return json.loads(self._raw["json"])

    def plot(self, ax: Optional[Any] = None, *, title: Optional[str] = None,
             cmap: str = "RdBu_r"):
        """Draw the correlation matrix as a heatmap with matplotlib.

        Parameters
        ----------
        ax : matplotlib.axes.Axes, optional
            Where to draw (default: a new figure).
        title : str, optional
            Default: "Residual correlations: <y>".
        cmap : str, default "RdBu_r"
            Diverging colour map, centred on 0 over [-1, 1]; pairs that
            could not be correlated are grey.

        Returns
        -------
        matplotlib.axes.Axes

        Raises
        ------
        ImportError
            matplotlib is not installed.
        """
        from ._plot import heatmap
        return heatmap(np.array(self._raw["correlations"]), self._sections, ax=ax,
                       title=title if title is not None else f"Residual correlations: {self.y}",
                       cmap=cmap, axis_name=self.id)

    def __repr__(self) -> str:
        def num(v: float) -> str:
            return "NA" if math.isnan(v) else f"{v:.4f}"

        def p(v: float) -> str:
            return "NA" if math.isnan(v) else f"{v:.4g}"
        lines = [f"CDTestResult({self.y} on {len(self.x)} regressor"
                 f"{'' if len(self.x) == 1 else 's'}: N={self.cross_sections}, "
                 f"T={self.periods}, {self.usable_pairs} usable pairs)"]
        for name, stat, _, pval, _ in self._raw["tests"]:
            lines.append(f"  {name:<12} {num(stat):>12}  p = {p(pval)}")
        return "\n".join(lines)
