"""Cross-sectional dependence tests for panel regressions.

By default (model "unit") every cross-section gets its own least-squares
regression of the dependent variable on its own regressors; the residuals
of every pair of cross-sections are correlated over the periods both
observe, and these tests are reported:

- the Breusch-Pagan LM (chi-square) and Pesaran's scaled LM (normal, upper
  tail);
- Pesaran's CD and the local CD(p) over pairs at most p apart;
- the weighted CD of Juodis and Reese (2022), over one or more draws of
  random signs, and its power-enhanced CDw+ (Fan, Liao and Yao 2015);
- the bias-adjusted LM of Pesaran, Ullah and Yamagata (2008);
- CD*, the CD once p principal components are taken out (Pesaran and Xie
  2021);
- where a residual is missing (or on request), Pesaran's definitions for
  unbalanced panels as R's plm computes them: LM, scaled LM, CD and CD(p).

The residuals of plm's panel models can be tested instead (model=
"pooling", "within", "random", "cce" or "none", with effect= "individual",
"time" or "twoways" for within and random), with plm's definitions, and
the local tests can run over any proximity matrix (neighbours=).

The computation is done by the compiled qvdep module, loaded and driven
through its binary interface exactly as the command-line tool does, so the
figures are the tool's to the last bit.

>>> import pandas as pd, qvdep
>>> df = pd.read_csv("examples/grunfeld.csv")
>>> r = qvdep.cdtest(df, id="firm", time="year", y="inv", x=["value", "capital"])
>>> print(r.summary())
"""
from __future__ import annotations

import decimal
import numbers
import os
import sys
from typing import Any, Optional, Sequence, Union

import numpy as np

from . import _core
from ._core import InputError, ModuleError
from ._formula import formula_frame
from ._result import CDTestResult

__all__ = ["cdtest", "CDTestResult", "InputError", "ModuleError", "DEFAULT_SEED",
           "default_module", "module_version", "release_memory", "__version__"]

#: The package's version (the project's, as the build set it).
__version__: str = _core.__version__

#: Seed of the weighted CD's random signs when none is given (the
#: command-line tool's default, so both give the same figures).
DEFAULT_SEED: int = _core.DEFAULT_SEED

_SEED_LIMIT = 2 ** 64


def default_module() -> str:
    """Path of the compiled module installed with this package."""
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), "libqvdep.so")


def module_version(module: Optional[Union[str, os.PathLike]] = None) -> str:
    """The module's version, as its version record reports it."""
    return _core.module_version(_module_path(module))


def release_memory() -> None:
    """Give back to the system the memory that earlier tests freed and the
    C library's allocator kept for later (glibc keeps what recent large
    blocks freed, within its own limits). Does nothing on other C
    libraries; the interpreter's allocator settings are never changed."""
    _core.release_memory()


def cdtest(data: Any, *, id: Any = None, time: Any = None, y: Optional[str] = None,
           x: Optional[Union[str, Sequence[str]]] = None, order: int = 1,
           intercept: bool = True, restrict: Optional[Union[str, Sequence[str]]] = None,
           seed: Optional[int] = None,
           module: Optional[Union[str, os.PathLike]] = None,
           max_memory: Optional[Union[int, str]] = None, cdw_draws: int = 1,
           factors: Optional[int] = None, unbalanced: bool = False,
           model: str = "unit", effect: Optional[str] = None,
           neighbours: Any = None, formula: Optional[str] = None,
           exponent_size: float = 0.10, exponent_tuning: float = 0.5,
           exponent_draws: Optional[int] = None, exponent_seed: Optional[int] = None,
           exponent_of_dependent: bool = False) -> CDTestResult:
    """Test a panel for cross-sectional dependence of regression errors.

    With the default model "unit", each cross-section gets its own
    least-squares equation of `y` on the regressors `x` (with or without
    an intercept, optionally under linear restrictions); the residuals of
    every pair of cross-sections are correlated over the periods both
    observe. The tests, one row each of the result's `statistics`:
    Breusch-Pagan LM, Pesaran's scaled LM, CD and local CD(p), the
    weighted CD and CDw+ (Juodis and Reese 2022), the bias-adjusted LM
    (Pesaran, Ullah and Yamagata 2008), CD* (Pesaran and Xie 2021), the
    rank tests of Friedman (1937, FR: chi-square with T - 1 degrees of
    freedom) and Frees (1995, FRE: Frees' Q law, exact), which assume no
    normality and suit short panels, and,
    where a residual is missing, `unbalanced=True` or `neighbours` is
    given, Pesaran's unbalanced-panel LM, scaled LM, CD and CD(p) (as R's
    plm). Every p-value is computed from its statistic with full relative
    precision in the tail.

    With another `model`, the residuals of one of plm's panel models are
    tested as R's ``plm::pcdtest`` tests them (see `model` below): the
    correlations are centred over each pair's common periods and only the
    M pairs that have one count, so LM = sum T_ij rho_ij^2 (chi-square, M
    degrees of freedom), scaled LM = (2M)^(-1/2) sum (T_ij rho_ij^2 - 1),
    CD = M^(-1/2) sum sqrt(T_ij) rho_ij; LM_BC (Baltagi, Feng and Kao
    2012), the scaled LM less N/(2(T - 1)), after fixed effects by
    cross-section; the local statistics over the neighbours; then the
    weighted CD, CDw+ and CD* on the same residuals (the bias-adjusted LM
    is not available: its exact moments are those of model "unit").

    Every scaled LM's p-value (scaled LM, LM_BC, their local and
    unbalanced forms) is the upper normal tail 1 - Phi(z), as these tests
    reject for large values only; ``plm::pcdtest`` prints the two-sided
    2(1 - Phi(|z|)) for them, so plm's p-value is twice this one for a
    positive statistic, and the two differ more for a negative one. The
    statistics themselves (of the models other than "unit", and of the
    unbalanced block) are plm's.

    Parameters
    ----------
    data : pandas.DataFrame or numpy.ndarray
        Either a panel in long format, one row per cross-section and
        period, or a wide array of shape (N, T, K + 1) holding, for each
        cross-section and period, the K regressors followed by the
        dependent value. Missing values are NaN (or None); any other
        non-finite number is an error. An array of float64 is read where
        it lies, in any memory order (a slice of a DataFrame's values
        too); other types are converted first. A DataFrame indexed by an
        (entity, time) MultiIndex, as linearmodels takes panels, needs
        no `id` and `time`. Messages name a DataFrame's rows by their
        index labels (``row 17``, ``row 'GM-1935'``, ``row (3, 1950)``:
        what ``data.loc[...]`` takes).
    id : str or sequence, optional
        DataFrame: the column or index level naming the cross-section
        (required unless the index is a MultiIndex of two levels, whose
        first is then the cross-section).
        Array: N labels of the cross-sections (default 0 .. N-1).
    time : str or sequence, optional
        DataFrame: the column or index level naming the period (default:
        the second level of a two-level MultiIndex); periods are
        ordered as numbers when every period is a number, as text when
        none is; a column of both is refused, naming the first label that
        is not a number.
        Array: T labels of the periods (default 0 .. T-1), ordered the
        same way.
    y : str, optional
        DataFrame: the dependent variable's column (required).
        Array: its name in the report (default "y").
    x : str or sequence of str, optional
        DataFrame: the regressors' columns (default: every column other
        than `id`, `time` and `y`; an empty list for none).
        Array: K names (default "x1" .. "xK").
    order : int, default 1
        Neighbourhood order p of the local CD(p): pairs of cross-sections
        at most p apart in the panel's order. Orders beyond N - 1 use
        every pair.
    intercept : bool, default True
        Fit every equation with an intercept.
    restrict : str or sequence of str, optional
        Linear restrictions on the coefficients of every equation, one
        equation each, such as ``"value + capital = 0.2"`` or
        ``"2*value - capital = 0"``; ``const`` names the intercept.
    seed : int, optional
        Seed of the weighted CD's random signs (default `DEFAULT_SEED`).
    module : str or os.PathLike, optional
        Compiled module to load (default: the one installed with the
        package, `default_module()`).
    max_memory : int or str, optional
        Memory the analysis may take, in bytes or as a size such as
        ``"4G"`` or ``"512M"`` (units of 1000); a panel whose analysis
        would need more is refused with InputError before anything is laid
        out (default: half of the physical memory).
    cdw_draws : int, optional
        Draws R of the weighted CD's random signs; the statistic is
        (sum of the R weighted CDs)/sqrt(R) (default 1).
    factors : int, optional
        Principal components p that CD* takes out, 1 <= p < min(N, T)
        (default 4, and CD* is not available where that does not fit).
    unbalanced : bool, optional
        Also report Pesaran's unbalanced-panel definitions for a balanced
        panel with model "unit" (they are always reported when a residual
        is missing or `neighbours` is given).
    model : str, default "unit"
        The model whose residuals are tested, named as R's plm names it:

        - "unit": each cross-section's own regression (the module's), as
          described above;
        - "pooling": one least-squares fit of `y` on `x` over every
          complete cell (with the intercept unless ``intercept=False``);
        - "within": fixed effects by cross-section, period or both
          (`effect`), on balanced or unbalanced panels;
        - "random": random effects with Swamy and Arora's variance
          components; the residuals plm tests for it (quasi-demeaned);
        - "cce": Pesaran's common correlated effects, mean group (plm's
          pcce, model "mg"): each cross-section's own regression on `x`
          and the cross-sectional averages of `y` and `x` (run by the
          module);
        - "none": `y` itself, as pcdtest tests a series (residuals formed
          elsewhere, say).

        Regressors that the effects absorb or that are linear combinations
        of others are dropped, as plm drops them, each named in
        `warnings`. Restrictions go with model "unit" alone. After period
        effects (within with "time" or "twoways") and after "cce" the CD
        is no valid test (its centre moves away from zero under the null,
        Juodis and Reese 2022): `warnings` says so and points to the
        weighted CD, CDw+ and CD*.
    effect : str, optional
        "individual" (the default for within and random), "time" or
        "twoways"; only for models "within" and "random" (any other model
        with an effect is an InputError).
    neighbours : pandas.DataFrame, numpy.ndarray or list of pairs, optional
        Which pairs of cross-sections the local tests sum over, as plm's
        proximity matrix `w`: instead of the pairs at most `order` apart,
        the local LM, scaled LM and CD run over these (for model "unit"
        the module's CD(p) keeps its band and the unbalanced block's local
        rows take the matrix). Either

        - a DataFrame, N x N, its index and columns the cross-sections'
          ids in any order (each once);
        - a numpy array, N x N, rows and columns in the panel's order of
          cross-sections (`section_labels`);
        - a list of (id, id) pairs, each a pair of neighbours (either
          order; a pair named twice changes nothing).

        A cell that is not zero makes its row and its column neighbours;
        its value is not used, and the diagonal is ignored. The lower
        triangle suffices (of a DataFrame: with its rows taken in the
        order of its columns); where the upper names pairs too, both must
        name the same ones. Ids are matched to the panel's ids by value or as
        text (``3``, ``np.int64(3)`` and ``"3"`` name the cross-section 3).
        Refused with InputError, naming the place: a matrix that is not
        N x N, an id that is not the panel's (or one given twice), a cell
        that is not a finite number, triangles that disagree, and no pair
        of neighbours at all.
    formula : str, optional
        DataFrame only, in place of `y` and `x`: the dependent variable and
        the regressors as a formula, ``"np.log(gsp) ~ np.log(pcap) +
        unemp"``, evaluated by patsy (an optional dependency: Debian's
        python3-patsy) as statsmodels evaluates it, names looked up in the
        DataFrame and then where cdtest is called (``np``, functions of
        your own). ``- 1`` (or ``+ 0``) fits the equations without an
        intercept. Missing values are dropped cell by cell, as for columns
        given by `y` and `x`: a NaN that a term makes or meets leaves its
        cell incomplete, and the figures are those of the same columns
        computed beforehand.
    exponent_size : float, default 0.10
        Size p, in (0, 1), of the threshold c_p = Phi^-1(1 - (p/2)/n^delta)
        / sqrt(T) above which a residual correlation counts as non-zero in
        the residuals' exponent of dependence alpha (Bailey, Kapetanios and
        Pesaran 2019; n = N(N - 1)/2), and of the variable's exponent's
        multiple test (2016). alpha <= 1/2: weak dependence; near 1:
        strong, as from a common factor (`strength`).
    exponent_tuning : float, default 0.5
        Tuning delta, in (0, 1], of that threshold.
    exponent_draws : int, optional
        Draws R of a bootstrap over cross-sections of the residuals'
        alpha: its standard error and 95 % interval (default: none).
    exponent_seed : int, optional
        Seed of those draws (default: `seed`).
    exponent_of_dependent : bool, default False
        Also the exponent of `y` as it is, bias-adjusted, with its standard
        error (2016, as Stata's xtcse2 forms it); with model "none" it is
        always formed, `y` being the series tested.

    Returns
    -------
    CDTestResult
        Every figure of the command-line report as attributes, with
        ``.statistics``, ``.correlations``, ``.summary()``,
        ``.to_dict()`` and ``.plot()``.

    Raises
    ------
    TypeError
        `data` or an argument is of the wrong kind, a DataFrame column is
        not numeric (naming the first row whose value is not a number), or
        a DataFrame's id, time or y is not named.
    InputError
        (a ValueError) The data or the options cannot be used: an unknown
        column, an infinite value, a duplicate (id, time) pair, a malformed
        restriction, an order below 1, a panel too large for `max_memory`,
        the dependent variable among the regressors or a regressor named
        twice, a model that no cross-section has more complete periods
        than coefficients for, or residuals of which no pair can be
        correlated (every equation fits exactly), an unknown model or
        effect (the message lists the known ones), an effect for a model
        without effects, restrictions with a model other than "unit", and
        neighbours that cannot be used (see `neighbours`). The message is the
        command-line tool's, a DataFrame's rows named by their index
        labels.
    KeyboardInterrupt
        Ctrl-C, raised within about a second: the analysis stops at its
        next check (between its stages and bands; the module's own run, a
        fraction of a second at N = 2,000, is waited for) and leaves no
        thread behind.
    MemoryError
        Memory ran out during the run all the same.
    FloatingPointError
        The module raised a floating-point fault during the run; the
        message names it. No figure is returned, and later calls work.
    ModuleError
        The module could not be loaded or refused the request.

    Notes
    -----
    The interpreter's lock is released while the module runs, and tests
    started from several threads run in the module at the same time, each
    on its own test instance; each thread gets its own figures, and a
    floating-point fault is raised only in the thread whose test caused it.
    Each test runs on a thread of its own, which ends with the call.

    Examples
    --------
    >>> r = qvdep.cdtest(df, id="firm", time="year", y="inv",
    ...                  x=["value", "capital"], order=2)
    >>> r.cd, r.cd_pvalue
    >>> r.statistics
    >>> r.plot()
    >>> fe = qvdep.cdtest(df, id="firm", time="year", y="inv",
    ...                   x=["value", "capital"], model="within")
    >>> fe.lm_bc, fe.lm_bc_pvalue
    """
    if isinstance(order, bool) or not isinstance(order, (int, np.integer)):
        raise TypeError(f"order must be an integer, not {type(order).__name__}")
    if not isinstance(intercept, (bool, np.bool_)):
        raise TypeError(f"intercept must be True or False, not {type(intercept).__name__}")
    options = dict(intercept=bool(intercept), order=_order(order),
                   restrictions=_names(restrict, "restrict"), seed=_seed(seed),
                   module=_module_path(module))
    extras = _core.Extras(max_memory=_max_memory(max_memory),
                          cdw_draws=_positive(cdw_draws, "cdw_draws"),
                          factors=0 if factors is None else _positive(factors, "factors"),
                          unbalanced=_flag(unbalanced, "unbalanced"),
                          exponent_size=_real(exponent_size, "exponent_size"),
                          exponent_tuning=_real(exponent_tuning, "exponent_tuning"),
                          exponent_draws=None if exponent_draws is None
                          else _positive(exponent_draws, "exponent_draws"),
                          exponent_seed=None if exponent_seed is None
                          else _seed(exponent_seed, "exponent_seed"),
                          exponent_of_dependent=_flag(exponent_of_dependent,
                                                      "exponent_of_dependent"))
    if not isinstance(model, str):
        raise TypeError(f"model must be a name (a string), not {type(model).__name__}")
    if effect is not None and not isinstance(effect, str):
        raise TypeError(f"effect must be a name (a string) or None, not {type(effect).__name__}")
    tested = _core.ModelOptions(model=model, effect=effect)
    if formula is not None:
        if not _is_dataframe(data):
            raise TypeError("formula= takes a pandas.DataFrame in long format")
        if y is not None or x is not None:
            raise TypeError("give either formula= or y= and x=, not both")
        data, y, x, with_intercept = formula_frame(data, formula, id, time, eval_env=1)
        if not intercept and with_intercept:
            raise InputError(f'intercept=False with formula "{formula}", which keeps the '
                             'intercept: write "- 1" in the formula instead')
        options["intercept"] = with_intercept
    if _is_dataframe(data):
        fields, labels = _from_dataframe(data, id, time, y, x)
        _set_neighbours(tested, neighbours, labels["sections"])
        run = _core.run_long(*fields, **options, extras=extras, model=tested,
                             source="pandas.DataFrame", row_name=_row_namer(data.index))
        return CDTestResult(run, id_name=fields[4], time_name=fields[5], y_name=fields[6],
                            x_names=fields[8], options=options, labels=labels)
    if isinstance(data, np.ndarray):
        fields = _from_array(data, id, time, y, x)
        labels = _array_labels(id, time, data.shape)
        _set_neighbours(tested, neighbours, labels["sections"])
        run = _core.run_wide(*fields, **options, extras=extras, model=tested,
                             source="numpy.ndarray")
        return CDTestResult(run, id_name="id", time_name="time", y_name=fields[5],
                            x_names=fields[6], options=options, labels=labels)
    raise TypeError("data must be a pandas.DataFrame in long format or a numpy array of "
                    f"shape (N, T, K + 1), not {type(data).__name__}")


def _set_neighbours(tested: Any, neighbours: Any, sections: dict) -> None:
    """Hands the neighbours to the library as plain data: a matrix's cells
    as float64, ids as the text the panel's labels are (`sections`: text of
    each label -> its original value). The library checks them against
    the panel."""
    if neighbours is None:
        return
    if _is_dataframe(neighbours):
        text = _id_text(sections)
        rows = [text(label) for label in neighbours.index]
        columns = [text(label) for label in neighbours.columns]
        cells = _cells(lambda: neighbours.to_numpy(dtype=np.float64, na_value=np.nan),
                       "the DataFrame's")
        tested.neighbours_labelled(rows, columns, cells,
                                   f"pandas.DataFrame {cells.shape[0]} x {cells.shape[1]}")
    elif isinstance(neighbours, np.ndarray):
        if np.iscomplexobj(neighbours) or not (np.issubdtype(neighbours.dtype, np.number)
                                               or neighbours.dtype == np.bool_):
            raise TypeError(f"neighbours: the array must hold numbers, not {neighbours.dtype}")
        if neighbours.ndim != 2:
            raise InputError(f"neighbours: the array must be N x N, not of shape "
                             f"{neighbours.shape}")
        cells = np.ascontiguousarray(neighbours, dtype=np.float64)
        tested.neighbours_matrix(cells, f"numpy.ndarray {cells.shape[0]} x {cells.shape[1]}")
    elif isinstance(neighbours, (str, bytes)) or not hasattr(neighbours, "__iter__"):
        raise TypeError("neighbours must be a pandas.DataFrame, a numpy array or a list of "
                        f"(id, id) pairs, not {type(neighbours).__name__}")
    else:
        text = _id_text(sections)
        pairs = []
        for place, pair in enumerate(neighbours, 1):
            if isinstance(pair, (str, bytes)) or not hasattr(pair, "__len__") or len(pair) != 2:
                raise InputError(f"neighbours: pair {place} is {pair!r}, not a pair of ids "
                                 "(a matrix is a DataFrame or a numpy array)")
            pairs.append((text(pair[0]), text(pair[1])))
        tested.neighbour_pairs(pairs, f"{len(pairs)} pair{'' if len(pairs) == 1 else 's'}")


def _cells(convert, whose: str) -> np.ndarray:
    try:
        return convert()
    except (TypeError, ValueError) as e:
        raise TypeError(f"neighbours: {whose} cells must be numbers ({e})") from None


def _id_text(sections: dict):
    """text(label): a cross-section named in the neighbours, as the text of
    the panel's label with the same value (so 3, np.int64(3) and 3.0 name
    the firm 3), else as text the way the panel's labels are made."""
    by_value = {}
    for text, value in sections.items():
        try:
            by_value.setdefault(value, text)
        except TypeError:  # an unhashable label is matched as text alone
            pass

    def text(label: Any) -> str:
        if isinstance(label, np.generic):
            label = label.item()
        try:
            found = by_value.get(label)
        except TypeError:
            found = None
        return found if found is not None else str(label)
    return text


def _positive(value: Any, name: str) -> int:
    """An integer option that must be 1 or more."""
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
    if value < 1:
        raise InputError(f"{name} must be 1 or more, not {value}")
    return int(value)


def _flag(value: Any, name: str) -> bool:
    if not isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be True or False, not {type(value).__name__}")
    return bool(value)


def _order(order: int) -> int:
    # The library says why an order is refused; only values beyond a C int
    # are cut here, to the largest the module takes.
    return int(max(min(order, 2 ** 31 - 1), -(2 ** 31)))


def _seed(seed: Optional[int], name: str = "seed") -> int:
    if seed is None:
        return DEFAULT_SEED
    if isinstance(seed, bool) or not isinstance(seed, (int, np.integer)):
        raise TypeError(f"{name} must be an integer, not {type(seed).__name__}")
    if not 0 <= int(seed) < _SEED_LIMIT:
        raise InputError(f"{name} must be in 0 .. 2^64 - 1, not {seed}")
    return int(seed)


def _real(value: Any, name: str) -> float:
    """A real option; the library says which values it refuses."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    return float(value)


def _max_memory(value: Any) -> int:
    """Bytes of max_memory=; 0 leaves the library's default."""
    if value is None:
        return 0
    if isinstance(value, str):
        return _core.parse_memory_size(value)
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
        raise TypeError(f"max_memory must be bytes (an integer) or a size such as \"4G\", "
                        f"not {type(value).__name__}")
    if not 0 < int(value) < _SEED_LIMIT:
        raise InputError(f"max_memory must be a positive number of bytes, not {value}")
    return int(value)


def _module_path(module: Any) -> str:
    if module is None:
        return default_module()
    if not isinstance(module, (str, os.PathLike)):
        raise TypeError(f"module must be a path, not {type(module).__name__}")
    return os.fspath(module)


def _names(value: Any, what: str) -> list:
    """None, one string, or a sequence of strings, as a list."""
    if value is None:
        return []
    if isinstance(value, str):
        return [value]
    try:
        names = list(value)
    except TypeError:
        raise TypeError(f"{what} must be a string or a sequence of strings, "
                        f"not {type(value).__name__}") from None
    for name in names:
        if not isinstance(name, str):
            raise TypeError(f"{what} must hold strings, not {type(name).__name__}")
    return names


def _is_dataframe(data: Any) -> bool:
    # pandas is needed only for DataFrames, so it is not imported up front:
    # whoever holds a DataFrame has imported it already.
    pd = sys.modules.get("pandas")
    return pd is not None and isinstance(data, pd.DataFrame)


def _row_namer(index: Any):
    """row_name(position): how messages name the DataFrame's row at a
    position, by its index label."""
    return lambda position: _row_text(index[position])


def _row_text(label: Any) -> str:
    """A DataFrame's index label as messages name its row: text quoted,
    numbers and other labels as printed, a MultiIndex's tuple of them."""
    if isinstance(label, tuple):
        return "(" + ", ".join(_row_text(part) for part in label) + ")"
    if isinstance(label, np.generic):
        label = label.item()
    return repr(label) if isinstance(label, str) else str(label)


def _column(frame: Any, name: Any, role: str):
    if not isinstance(name, str):
        raise TypeError(f"the {role} must be named by a column name (a string), "
                        f"not {type(name).__name__}")
    if name not in frame.columns:
        known = ", ".join(str(c) for c in frame.columns)
        raise InputError(f'no column named "{name}" for the {role} (columns: {known})')
    column = frame[name]
    if getattr(column, "ndim", 1) != 1:
        raise InputError(f'column "{name}" appears more than once')
    return column


def _key(frame: Any, name: Any, role: str, level: int) -> tuple:
    """The cross-section ids or periods, their name and whether they are a
    column: a column, a level of the index, or (no name) level `level` of a
    two-level MultiIndex, as linearmodels reads a panel's (entity, time)
    index."""
    index = frame.index
    if name is None:
        if index.nlevels != 2:
            raise TypeError("cdtest() on a DataFrame needs id= and time= naming its columns, "
                            "unless it is indexed by an (id, time) MultiIndex")
        given = index.names[level]
        name = ("id", "time")[level] if given is None else str(given)
        return index.get_level_values(level), name, False
    if isinstance(name, str) and name in index.names:
        if name in frame.columns:
            raise InputError(f'"{name}" names both a column and a level of the index')
        return index.get_level_values(name), name, False
    return _column(frame, name, role), name, True


def _codes_of(column: Any, name: str, row_text) -> tuple:
    """A label column factorised once: each row's code into the distinct
    labels (in order of first appearance), the labels as text, and their
    original values. The library orders the periods from the labels alone."""
    import pandas as pd
    if isinstance(column.dtype, np.dtype) and column.dtype.kind == "i":
        # NumPy integers (never missing) are coded by the library, which
        # needs no hash table sized for every row as pandas' does.
        codes, uniques = _core.factorize_integers(column.to_numpy(dtype=np.int64))
        values = uniques.tolist()
        return codes, [str(v) for v in values], values
    # An object column's values are factorised as an array: as a Series its
    # labels would become an Index, whose type pandas infers (and warns
    # about); any other keeps its own kind (dates stay timestamps).
    codes, uniques = pd.factorize(column.to_numpy() if column.dtype == object else column,
                                  sort=False)
    missing = codes < 0
    if missing.any():
        raise InputError(f'row {row_text(int(np.argmax(missing)))}: column "{name}": empty')
    values = uniques.tolist()
    return codes, [str(v) for v in values], values


def _values_of(column: Any, name: str, row_text) -> np.ndarray:
    import pandas as pd
    kind = pd.api.types.infer_dtype(column, skipna=True)
    numeric = pd.api.types.is_numeric_dtype(column.dtype) or kind in (
        "integer", "floating", "mixed-integer-float", "decimal", "empty", "boolean")
    if not numeric:
        raise TypeError(_not_numeric(column, name, kind, row_text))
    if column.dtype == np.float64:  # NaN already marks a missing value: no copy
        return column.to_numpy()
    return column.to_numpy(dtype=np.float64, na_value=np.nan)


def _not_numeric(column: Any, name: str, kind: str, row_text) -> str:
    """Why a column is not numeric: its first value that is neither a
    number nor missing, and that value's row."""
    import pandas as pd
    for position, value in enumerate(column.to_numpy(dtype=object)):
        number = isinstance(value, (numbers.Real, decimal.Decimal, np.bool_))
        if number or value is None or value is pd.NA:
            continue
        shown = repr(value)
        shown = shown if len(shown) <= 60 else shown[:57] + "..."
        return (f'row {row_text(position)}: column "{name}": not a number ({shown}, '
                f'a {type(value).__name__}; the column\'s dtype is {column.dtype})')
    return f'column "{name}": not numeric (dtype {column.dtype}, holding {kind})'


def _from_dataframe(frame: Any, id: Any, time: Any, y: Any, x: Any) -> tuple:
    """The arguments of run_long, and the original labels of the sections
    and periods."""
    if y is None:
        raise TypeError("cdtest() on a DataFrame needs y= naming its dependent variable")
    row_text = _row_namer(frame.index)
    id_column, id, id_is_column = _key(frame, id, "cross-section id", 0)
    time_column, time, time_is_column = _key(frame, time, "period", 1)
    id_codes, id_labels, id_values = _codes_of(id_column, id, row_text)
    time_codes, time_labels, time_values = _codes_of(time_column, time, row_text)
    y_values = _values_of(_column(frame, y, "dependent variable"), y, row_text)
    if x is None:
        keys = [name for name, is_column in ((id, id_is_column), (time, time_is_column))
                if is_column]
        x_names = [str(c) for c in frame.columns if c not in (*keys, y)]
    else:
        x_names = _names(x, "x")
    x_values = [_values_of(_column(frame, n, "regressors"), n, row_text) for n in x_names]
    if len(frame) == 0:
        raise InputError("no observations")
    labels = {"sections": _originals(id_labels, id_values),
              "periods": _originals(time_labels, time_values)}
    return (id_codes, id_labels, time_codes, time_labels, id, time, y, y_values, x_names,
            x_values), labels


def _originals(texts: list, values: list) -> dict:
    """The original label of every text label, for readable row and column
    names (a firm numbered 3 stays the integer 3)."""
    return dict(zip(texts, values)) if len(set(texts)) == len(values) else {}


def _array_labels(id: Any, time: Any, shape: tuple) -> dict:
    n, t = shape[0], shape[1]
    ids = list(range(n)) if id is None else list(id)
    times = list(range(t)) if time is None else list(time)
    return {"sections": {str(v): v for v in ids}, "periods": {str(v): v for v in times}}


def _from_array(values: np.ndarray, id: Any, time: Any, y: Any, x: Any) -> tuple:
    if values.ndim != 3:
        raise InputError(f"the array must have shape (N, T, K + 1), not {values.shape}")
    if not (np.issubdtype(values.dtype, np.number) or values.dtype == np.bool_):
        raise TypeError(f"the array must hold numbers, not {values.dtype}")
    if np.iscomplexobj(values):
        raise TypeError("the array must hold real numbers, not complex ones")
    n, t, width = values.shape
    if width < 1:
        raise InputError("the array's last axis must hold the K regressors, then y")
    ids = [str(v) for v in (range(n) if id is None else _sequence(id, n, "id", "N"))]
    times = [str(v) for v in (range(t) if time is None else _sequence(time, t, "time", "T"))]
    y_name = "y" if y is None else y
    if not isinstance(y_name, str):
        raise TypeError(f"y must be a name (a string), not {type(y).__name__}")
    x_names = [f"x{k + 1}" for k in range(width - 1)] if x is None else _names(x, "x")
    if len(x_names) != width - 1:
        raise InputError(f"x names {len(x_names)} regressors, and the array holds "
                         f"{width - 1} (its last axis is K + 1 = {width})")
    # Read where it lies, in any order of axes; copied only when its values
    # are not aligned doubles.
    return (np.require(values, dtype=np.float64, requirements="A"), ids, times, "id", "time",
            y_name, x_names)


def _sequence(labels: Any, size: int, what: str, axis: str) -> list:
    if isinstance(labels, str):
        raise TypeError(f"{what} must be a sequence of {size} labels, not a string")
    labels = list(labels)
    if len(labels) != size:
        raise InputError(f"{what} holds {len(labels)} labels, and the array's {axis} is {size}")
    return labels
