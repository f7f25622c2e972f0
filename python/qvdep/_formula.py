"""Formulas as statsmodels users write them ("np.log(gsp) ~ np.log(pcap) +
unemp"), evaluated by patsy into the columns of a long-format panel.

patsy is told that no value is missing (NA_types=[]), so it drops no row:
a NaN stays in its cell, and the analysis drops each incomplete cell as
it drops one of a panel given as columns. The formula's intercept (its
"1", taken away by "- 1" or "+ 0") is the equations' intercept."""
from __future__ import annotations

from typing import Any, Optional

from ._core import InputError


def formula_frame(data: Any, formula: str, id: Any, time: Any, eval_env: int):
    """The DataFrame of the id and time columns (or the index that holds
    them), the dependent variable and the regressors the formula names,
    with the original index; the dependent's name, the regressors' names
    and whether the formula keeps the intercept. `eval_env`: how many
    frames above the caller of cdtest the formula's names are looked up
    in (np, functions of the user's own)."""
    try:
        import patsy
    except ImportError as error:  # an optional dependency
        raise ImportError("formula= needs patsy (Debian: python3-patsy; pip: patsy)") from error
    if not isinstance(formula, str):
        raise TypeError(f"formula must be a string, not {type(formula).__name__}")
    if "~" not in formula:
        raise InputError(f'formula "{formula}" has no "~" between the dependent variable and '
                         "the regressors")
    try:
        lhs, rhs = patsy.dmatrices(formula, data, NA_action=patsy.NAAction(NA_types=[]),
                                   return_type="dataframe", eval_env=eval_env + 1)
    except patsy.PatsyError as error:
        raise InputError(f'formula "{formula}": {error.message}') from None
    if lhs.shape[1] != 1:
        raise InputError(f'formula "{formula}": the left side gives {lhs.shape[1]} columns '
                         f"({', '.join(map(str, lhs.columns))}); it must give one")
    intercept = "Intercept" in rhs.columns
    rhs = rhs.drop(columns="Intercept") if intercept else rhs
    y_name = str(lhs.columns[0])
    x_names = [str(c) for c in rhs.columns]
    keys = [k for k in (id, time) if _is_column(data, k)]
    clash = [k for k in keys if k in (y_name, *x_names)]
    if clash:
        raise InputError(f'formula "{formula}": "{clash[0]}" names the panel\'s id or time')
    frame = lhs.join(rhs)
    for k in keys:
        frame[k] = data[k].to_numpy()
    return frame, y_name, x_names, intercept


def _is_column(data: Any, key: Optional[Any]) -> bool:
    return key is not None and isinstance(key, str) and key in data.columns
