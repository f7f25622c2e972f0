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
