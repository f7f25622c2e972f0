"""The correlation heatmap with matplotlib, imported only when drawn."""
from __future__ import annotations

from typing import Any, Optional, Sequence

import numpy as np

# Past this many cross-sections only every k-th label is written, so that a
# few hundred stay readable.
_MAX_LABELS = 40


def _pyplot():
    try:
        import matplotlib.pyplot as plt
    except ImportError:
        raise ImportError("result.plot() draws with matplotlib, which is not installed "
                          "(Debian package python3-matplotlib); the figures are in "
                          "result.correlations") from None
    return plt


def heatmap(rho: np.ndarray, labels: Sequence[Any], *, ax: Optional[Any], title: str,
            cmap: str, axis_name: str):
    plt = _pyplot()
    if ax is None:
        n = len(labels)
        side = min(4.0 + 0.25 * n, 10.0)
        _, ax = plt.subplots(figsize=(side + 1.2, side))
    colours = plt.get_cmap(cmap).copy()
    colours.set_bad("lightgrey")
    image = ax.imshow(np.ma.masked_invalid(rho), cmap=colours, vmin=-1.0, vmax=1.0,
                      interpolation="nearest")
    step = max(1, -(-len(labels) // _MAX_LABELS))
    ticks = np.arange(0, len(labels), step)
    ax.set_xticks(ticks)
    ax.set_yticks(ticks)
    ax.set_xticklabels([str(labels[i]) for i in ticks], rotation=90)
    ax.set_yticklabels([str(labels[i]) for i in ticks])
    ax.set_xlabel(axis_name)
    ax.set_ylabel(axis_name)
    ax.set_title(title)
    ax.figure.colorbar(image, ax=ax, label="residual correlation")
    return ax


def density(curves: dict, *, ax: Optional[Any], title: str, legend: Sequence[str]):
    plt = _pyplot()
    if ax is None:
        _, ax = plt.subplots(figsize=(8.0, 4.5))
    if curves["pairs"] == 0:
        ax.text(0.5, 0.5, "no pair could be correlated", ha="center", transform=ax.transAxes)
        ax.set_title(title)
        return ax
    bars = np.asarray(curves["bar_heights"])
    edges = np.linspace(curves["low"], curves["high"], len(bars) + 1)
    ax.bar(edges[:-1], bars, width=np.diff(edges), align="edge", color="#d9d9d9",
           edgecolor="white", label=f"histogram of {curves['pairs']} pairs")
    ax.plot(curves["x"], curves["estimate"], color="#2166ac", lw=2,
            label=f"kernel density (h = {curves['bandwidth']:.3g})")
    ax.plot(curves["x"], curves["null_density"], color="#b2182b", lw=1.5, ls="--",
            label="no dependence: \u221aT\u1d62\u2c7c \u03c1 ~ N(0,1)")
    ax.set_xlim(curves["low"], curves["high"])
    ax.set_xlabel("residual correlation \u03c1\u1d62\u2c7c")
    ax.set_ylabel("density")
    ax.set_title(title)
    ax.legend(loc="upper left", fontsize="small", title="\n".join(legend),
              title_fontsize="small")
    return ax
