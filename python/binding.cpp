// The Python face of the analysis library: qvdep._core. It turns columns
// handed over from Python (ids and periods as codes into their labels,
// values as float arrays) into a long-format panel, or hands a wide array's
// buffer to the library to lay out as it stands; runs the analysis with
// the interpreter's lock released, and hands back a Run:
// the result record kept alive, giving every figure as plain Python objects
// and, when asked, the report library's text and JSON object, so that the
// notebook and the terminal print the same thing. Runs from several threads
// proceed at once: the library drives the module through one shared host,
// each run on its own test instance, with faults recorded for the thread
// that raised them.
//
// Each analysis runs on a thread of its own while the calling thread waits
// in slices of 50 ms, looking for a signal between them (Python runs its
// signal handlers only on the main thread, between its own steps): on
// Ctrl-C the analysis is asked to stop, stops at its next check (between
// stages and bands; the module's own run is waited for), its thread is
// joined, and the handler's exception (KeyboardInterrupt) is raised. No
// thread of the call outlives it.
//
// The model whose residuals are tested is named as plm names it, and its
// neighbours (a proximity matrix or pairs) are copied into plain C++ data
// before the run (neighbour_copy.h): the analysis's thread reads no
// Python object.
//
// The package in qvdep/ checks types and column names and builds the
// DataFrames; this file only moves data and maps the library's errors:
//   InputError          -> qvdep.InputError (a ValueError)
//   FloatingPointFault  -> FloatingPointError
//   ModuleError         -> qvdep.ModuleError (a RuntimeError)
//   Interrupted         -> KeyboardInterrupt (in principle: a stop is asked
//                          for only once a signal handler has raised, and
//                          that exception is the one raised)
//   std::bad_alloc      -> MemoryError (pybind11's own translation, which
//                          runs after this file's finds no match)
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "analysis/common/errors.h"
#include "analysis/common/stop_flag.h"
#include "analysis/driver/analysis.h"
#include "analysis/layout/memory_budget.h"
#include "analysis/result/test_kinds.h"
#include "python/integer_codes.h"
#include "python/neighbour_copy.h"
#include "report/density_svg.h"
#include "report/json_output.h"
#include "report/report.h"

namespace py = pybind11;
using qvd::analysis::Effect;
using qvd::analysis::LongPanel;
using qvd::analysis::Model;
using qvd::analysis::Options;
using qvd::analysis::Result;

namespace {

using Column = py::array_t<double, py::array::c_style | py::array::forcecast>;
using Codes = py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>;

// The options beyond the model: limits and the tool's own statistics.
struct Extras {
  std::uint64_t max_memory = 0;
  int cdw_draws = 1;
  int factors = 0;
  bool unbalanced = false;
  // The exponents of dependence (Options' fields of the same names).
  double exponent_size = 0.10;
  double exponent_tuning = 0.5;
  std::optional<int> exponent_draws;
  std::optional<std::uint64_t> exponent_seed;
  bool exponent_of_dependent = false;
};

// Every name of an enumeration whose last value is `last`, in its order.
template <typename Enum>
std::vector<std::string> names_of(const char *(*name)(Enum), Enum last) {
  std::vector<std::string> names;
  for (int e = 0; e <= static_cast<int>(last); ++e) names.emplace_back(name(static_cast<Enum>(e)));
  return names;
}

std::vector<std::string> model_names() { return names_of(qvd::analysis::model_name, Model::none); }
std::vector<std::string> effect_names() {
  return names_of(qvd::analysis::effect_name, Effect::twoways);
}

// "unknown model "x": the models are unit, pooling, ... and none".
std::string unknown(const std::string &what, const std::string &name,
                    const std::vector<std::string> &known) {
  std::string list;
  for (std::size_t k = 0; k < known.size(); ++k)
    list += (k == 0 ? "" : k + 1 == known.size() ? " and " : ", ") + known[k];
  return "unknown " + what + " \"" + name + "\": the " + what + "s are " + list;
}

// The model whose residuals are tested, its effect, and the neighbours of
// the local statistics (none: the pairs at most `order` apart).
struct ModelOptions {
  Model model = Model::unit;
  std::optional<Effect> effect;
  qvd::python::NeighboursOf neighbours;
  std::string neighbours_name;
};

ModelOptions model_options(const std::string &model, const std::optional<std::string> &effect) {
  ModelOptions m;
  const std::optional<Model> named = qvd::analysis::model_named(model);
  if (!named) throw qvd::analysis::InputError(unknown("model", model, model_names()));
  m.model = *named;
  if (effect) {
    m.effect = qvd::analysis::effect_named(*effect);
    if (!m.effect) throw qvd::analysis::InputError(unknown("effect", *effect, effect_names()));
  }
  return m;
}

// How messages name the neighbours, whatever their form.
constexpr const char *kNeighboursSource = "neighbours";

using Cells = py::array_t<double, py::array::c_style | py::array::forcecast>;

// A matrix's cells, copied (under the interpreter's lock, as every method
// of a bound class runs).
void copy_cells(qvd::python::NeighbourCopy &copy, const Cells &cells) {
  if (cells.ndim() != 2)
    throw qvd::analysis::InputError(std::string(kNeighboursSource) + ": a matrix has 2 axes, not " +
                                    std::to_string(cells.ndim()));
  copy.rows = static_cast<std::size_t>(cells.shape(0));
  copy.columns = static_cast<std::size_t>(cells.shape(1));
  copy.cells.assign(cells.data(), cells.data() + cells.size());
}

void set_neighbours(ModelOptions &m, qvd::python::NeighbourCopy copy, std::string name) {
  copy.source = kNeighboursSource;
  m.neighbours = qvd::python::neighbours_from(std::move(copy));
  m.neighbours_name = std::move(name);
}

Options make_options(bool intercept, int order, std::vector<std::string> restrictions,
                     std::uint64_t seed, std::string module, const Extras &extras,
                     const ModelOptions &model) {
  Options o;
  o.model = model.model;
  o.effect = model.effect;
  o.neighbours = model.neighbours;
  o.neighbours_name = model.neighbours_name;
  o.max_memory = extras.max_memory;
  o.cdw_draws = extras.cdw_draws;
  o.factors = extras.factors;
  o.unbalanced_block = extras.unbalanced;
  o.exponent_size = extras.exponent_size;
  o.exponent_tuning = extras.exponent_tuning;
  o.exponent_draws = extras.exponent_draws;
  o.exponent_seed = extras.exponent_seed;
  o.exponent_of_dependent = extras.exponent_of_dependent;
  o.intercept = intercept;
  o.order = order;
  o.restrictions = std::move(restrictions);
  o.seed = seed;
  o.module_path = std::move(module);
  return o;
}

std::vector<double> copy_column(const Column &column, std::size_t rows, const std::string &name) {
  if (column.ndim() != 1 || static_cast<std::size_t>(column.shape(0)) != rows)
    throw py::value_error("column \"" + name + "\" has " + std::to_string(column.size()) +
                          " values for " + std::to_string(rows) + " rows");
  return std::vector<double>(column.data(), column.data() + rows);
}

// A read-only view of `count` cells of a packed table (the lower triangle,
// row after row) that keeps `owner` (the Run holding them) alive: the
// tables are not copied until a square one is asked for (unpack_square).
template <typename T>
py::array_t<T> packed_view(const T *cells, std::size_t count, py::handle owner) {
  py::array_t<T> view(static_cast<py::ssize_t>(count), cells, owner);
  py::detail::array_proxy(view.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return view;
}

// The N-by-N table of a packed one, both triangles filled.
template <typename T>
py::array_t<T> square_of(const py::array_t<T> &packed, std::size_t n) {
  if (packed.ndim() != 1 || static_cast<std::size_t>(packed.shape(0)) != n * (n + 1) / 2)
    throw py::value_error("a packed table of " + std::to_string(n) + " rows needs " +
                          std::to_string(n * (n + 1) / 2) + " cells");
  py::array_t<T> square({n, n});
  const T *in = packed.data();
  T *out = square.mutable_data();
  {
    py::gil_scoped_release unlocked;
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = 0; j <= i; ++j) out[i * n + j] = out[j * n + i] = *in++;
  }
  return square;
}

py::array unpack_square(const py::array &packed, std::size_t n) {
  if (py::isinstance<py::array_t<double>>(packed)) return square_of(py::array_t<double>(packed), n);
  if (py::isinstance<py::array_t<int>>(packed)) return square_of(py::array_t<int>(packed), n);
  throw py::type_error("a packed table holds float64 or int32 cells");
}


// A JSON value as the Python object json.loads makes of its text: objects
// become dicts, arrays lists, integers int, other numbers float. The text
// writes a number that is not finite as null, and so does this.
py::object from_json(const nlohmann::json &j) {
  switch (j.type()) {
    case nlohmann::json::value_t::object: {
      py::dict d;
      for (const auto &[key, value] : j.items()) d[py::str(key)] = from_json(value);
      return d;
    }
    case nlohmann::json::value_t::array: {
      py::list l;
      for (const auto &value : j) l.append(from_json(value));
      return l;
    }
    case nlohmann::json::value_t::string: return py::str(j.get_ref<const std::string &>());
    case nlohmann::json::value_t::boolean: return py::bool_(j.get<bool>());
    case nlohmann::json::value_t::number_integer: return py::int_(j.get<std::int64_t>());
    case nlohmann::json::value_t::number_unsigned: return py::int_(j.get<std::uint64_t>());
    case nlohmann::json::value_t::number_float: {
      const double x = j.get<double>();
      return std::isfinite(x) ? py::object(py::float_(x)) : py::object(py::none());
    }
    default: return py::none();
  }
}

// One analysis's result and the name of its data, as the report library
// needs them.
struct Run {
  Result result;
  std::string source;
};

py::dict figures(py::object self) {
  const Result &r = self.cast<const Run &>().result;
  const auto &s = r.shape;
  const auto &m = r.module;
  py::list tests;
  for (const auto &row : r.tests)
    tests.append(py::dict(py::arg("kind") = std::string(qvd::analysis::test_kind(row.kind).key),
                          py::arg("name") = row.name, py::arg("statistic") = row.statistic,
                          py::arg("distribution") = row.distribution,
                          py::arg("p_value") = row.pvalue,
                          py::arg("p_value_source") = qvd::analysis::p_value_source_name(row.source),
                          py::arg("reference") = row.reference,
                          py::arg("not_available") = row.unavailable));
  py::dict d;
  d["cross_sections"] = s.sections;
  d["periods"] = s.periods;
  d["regressors"] = s.regressors;
  d["restrictions"] = s.restrictions;
  d["rows"] = s.rows;
  d["complete_observations"] = s.complete_observations;
  d["usable_pairs"] = s.usable_pairs;
  d["unusable_pairs"] = s.unusable_pairs;
  d["section_labels"] = r.section_labels;
  d["period_labels"] = r.period_labels;
  d["effective_order"] = r.effective_order;
  d["model"] = qvd::analysis::model_name(r.options.model);
  d["effect"] = qvd::analysis::has_effects(r.options.model)
                    ? py::object(py::str(qvd::analysis::effect_name(r.effect)))
                    : py::object(py::none());
  d["neighbours"] = r.options.neighbours ? py::object(py::str(r.options.neighbours_name))
                                         : py::object(py::none());
  d["module_ran"] = r.module_ran;
  d["module"] = py::dict(py::arg("lm") = m.lm, py::arg("lm_pvalue") = m.lm_pvalue,
                         py::arg("scaled_lm") = m.scaled_lm,
                         py::arg("scaled_lm_pvalue") = m.scaled_lm_pvalue, py::arg("cd") = m.cd,
                         py::arg("cd_pvalue") = m.cd_pvalue, py::arg("cdp") = m.cdp,
                         py::arg("cdp_pvalue") = m.cdp_pvalue,
                         py::arg("near_perfect_fit") = m.near_perfect_fit);
  d["near_perfect_fit"] = m.near_perfect_fit;
  d["lm_df"] = r.lm_degrees_of_freedom;
  d["lm_pvalue_tool"] = r.lm_pvalue_tool;
  d["average_correlation"] = r.mean_correlation;
  d["average_abs_correlation"] = r.mean_abs_correlation;
  d["weighted_cd"] = r.weighted_cd;
  d["weighted_cd_pvalue"] = r.weighted_cd_pvalue;
  d["signs"] = r.signs;
  d["tests"] = tests;
  d["correlations"] = packed_view(r.correlations.data(), r.correlations.size(), self);
  // None when every pair shares all T periods (the library keeps no table
  // then); the package writes the table out only when it is asked for.
  d["common_periods"] =
      r.common_periods.empty()
          ? py::object(py::none())
          : py::object(packed_view(r.common_periods.data(), r.common_periods.size(), self));
  d["warnings"] = r.warnings;
  return d;
}

// How often a waiting call looks for a signal: Ctrl-C is answered within
// this plus the time to the analysis's next check.
constexpr std::chrono::milliseconds kSignalSlice{50};

// Runs the analysis of `data` (a LongPanel or an ArrayPanel) on a thread of
// its own, with the interpreter's lock released but for a look at pending
// signals every slice. A signal handler that raises (Ctrl-C's) stops the
// analysis; its exception is raised once the thread has ended. The thread
// is always joined before this returns or throws: the data, the options
// and the flag it reads live in this frame.
template <typename Data>
Run run(Data &&data, const Options &options, const std::string &source) {
  std::atomic<bool> stop{false};
  std::packaged_task<Result()> analysis([&] {
    return qvd::analysis::run_analysis(std::forward<Data>(data), options,
                                       qvd::analysis::StopFlag(&stop));
  });
  std::future<Result> done = analysis.get_future();
  bool signalled = false;
  {
    py::gil_scoped_release unlocked;
    std::thread worker(std::move(analysis));
    while (done.wait_for(kSignalSlice) != std::future_status::ready) {
      py::gil_scoped_acquire locked;
      if (PyErr_CheckSignals() != 0) {  // the handler's exception stays set on this thread
        signalled = true;
        break;
      }
    }
    stop.store(true, std::memory_order_relaxed);
    worker.join();
  }
  if (signalled) throw py::error_already_set();
  return Run{done.get(), source};  // rethrows what the analysis threw
}

// What glibc's allocator keeps of the memory freed so far, given back to
// the system (it keeps what recent analyses freed, up to its own limits).
void release_memory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

// Row codes into labels (as pandas.factorize gives them), each checked
// against the labels.
std::vector<std::uint32_t> copy_codes(const Codes &codes, std::size_t labels,
                                      const std::string &name,
                                      const std::function<std::string(std::size_t)> &row_name) {
  if (codes.ndim() != 1) throw py::value_error("codes of column \"" + name + "\" are not 1-D");
  const std::int64_t *c = codes.data();
  const std::size_t rows = static_cast<std::size_t>(codes.shape(0));
  std::vector<std::uint32_t> out(rows);
  for (std::size_t r = 0; r < rows; ++r) {
    if (c[r] < 0 || static_cast<std::uint64_t>(c[r]) >= labels)
      throw py::value_error("row " + (row_name ? row_name(r) : std::to_string(r + 1)) +
                            ": column \"" + name + "\": code " + std::to_string(c[r]) +
                            " has no label");
    out[r] = static_cast<std::uint32_t>(c[r]);
  }
  return out;
}

// An integer label column's codes and distinct values, as
// pandas.factorize(column, sort=False) gives them.
py::tuple factorize_integers(const Codes &values) {
  if (values.ndim() != 1) throw py::value_error("labels to code must be 1-D");
  const std::size_t rows = static_cast<std::size_t>(values.shape(0));
  py::array_t<std::int64_t> codes(static_cast<py::ssize_t>(rows));
  std::vector<std::int64_t> distinct;
  {
    py::gil_scoped_release unlocked;
    distinct = qvd::python::code_integers(values.data(), rows, codes.mutable_data());
  }
  return py::make_tuple(codes, py::array_t<std::int64_t>(static_cast<py::ssize_t>(distinct.size()),
                                                         distinct.data()));
}

// A row's name in messages, as the package's `row_name(position)` gives it
// (a DataFrame's index label). Messages are formed on the analysis's
// thread, so the interpreter's lock is taken for the call; `row_name` is
// borrowed, kept alive by the caller for the whole run.
std::function<std::string(std::size_t)> row_names(const py::object &row_name) {
  if (row_name.is_none()) return {};
  PyObject *callable = row_name.ptr();
  return [callable](std::size_t row) {
    py::gil_scoped_acquire locked;
    try {
      return py::reinterpret_borrow<py::object>(callable)(row).cast<std::string>();
    } catch (const std::exception &) {  // a Python error is fetched into it, and dropped
      return "at position " + std::to_string(row + 1);
    }
  };
}

// Columns of a long-format panel: ids and periods interned (a code per row
// into their distinct labels), values as float arrays (NaN missing), read
// straight from the arrays' buffers; rows are named in messages by
// `row_name(position)` (None: by 1-based position).
Run run_long(const Codes &id_codes, std::vector<std::string> id_labels, const Codes &time_codes,
             std::vector<std::string> time_labels, const std::string &id_name,
             const std::string &time_name, const std::string &y_name, const Column &y,
             std::vector<std::string> x_names, const std::vector<Column> &x, bool intercept,
             int order, std::vector<std::string> restrictions, std::uint64_t seed,
             std::string module, const Extras &extras, const ModelOptions &model,
             const std::string &source, const py::object &row_name) {
  LongPanel data;
  data.row_name = row_names(row_name);
  const std::size_t rows = static_cast<std::size_t>(id_codes.size());
  if (static_cast<std::size_t>(time_codes.size()) != rows || x.size() != x_names.size())
    throw py::value_error("the panel's columns differ in length");
  data.id_name = id_name;
  data.time_name = time_name;
  data.dependent_name = y_name;
  data.id_of_row = copy_codes(id_codes, id_labels.size(), id_name, data.row_name);
  data.time_of_row = copy_codes(time_codes, time_labels.size(), time_name, data.row_name);
  data.id_labels = std::move(id_labels);
  data.time_labels = std::move(time_labels);
  data.dependent = copy_column(y, rows, y_name);
  for (std::size_t v = 0; v < x.size(); ++v)
    data.regressors.push_back(copy_column(x[v], rows, x_names[v]));
  data.regressor_names = std::move(x_names);
  return run(std::move(data),
             make_options(intercept, order, std::move(restrictions), seed, std::move(module),
                          extras, model),
             source);
}

// A wide array of shape (N, T, K + 1): for each cross-section and period the
// K regressors, then the dependent value, as the module lays a panel out.
// The library lays it out from the array's own buffer, whatever its strides
// (a slice of a DataFrame's values is seldom row-major), so the buffer must
// hold aligned doubles: the package passes numpy.require(..., "A").
Run run_wide(const py::array_t<double, py::array::forcecast> &values,
             std::vector<std::string> ids, std::vector<std::string> times,
             const std::string &id_name, const std::string &time_name, const std::string &y_name,
             std::vector<std::string> x_names, bool intercept, int order,
             std::vector<std::string> restrictions, std::uint64_t seed, std::string module,
             const Extras &extras, const ModelOptions &model, const std::string &source) {
  if (values.ndim() != 3)
    throw py::value_error("the array must have shape (N, T, K + 1), not " +
                          std::to_string(values.ndim()) + " dimensions");
  const std::size_t n = static_cast<std::size_t>(values.shape(0));
  const std::size_t t = static_cast<std::size_t>(values.shape(1));
  const std::size_t width = static_cast<std::size_t>(values.shape(2));
  if (width < 1) throw py::value_error("the array's last axis must hold K regressors and y");
  if (ids.size() != n || times.size() != t || x_names.size() != width - 1)
    throw py::value_error("labels do not match the array's shape");
  std::array<std::ptrdiff_t, 3> strides{};
  for (int d = 0; d < 3; ++d) {
    if (values.strides(d) % static_cast<py::ssize_t>(sizeof(double)) != 0)
      throw py::value_error("the array's strides must be whole doubles");
    strides[static_cast<std::size_t>(d)] = values.strides(d) / static_cast<py::ssize_t>(sizeof(double));
  }
  if (reinterpret_cast<std::uintptr_t>(values.data()) % alignof(double) != 0)
    throw py::value_error("the array's values must be aligned");
  qvd::analysis::ArrayPanel data;
  data.values = values.data();
  data.strides = strides;
  data.section_labels = std::move(ids);
  data.period_labels = std::move(times);
  data.id_name = id_name;
  data.time_name = time_name;
  data.dependent_name = y_name;
  data.regressor_names = std::move(x_names);
  return run(data,
             make_options(intercept, order, std::move(restrictions), seed, std::move(module),
                          extras, model),
             source);
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "Binding of the qvdep analysis library; use the qvdep package instead.";
  static py::exception<qvd::analysis::ModuleError> module_error(m, "ModuleError",
                                                               PyExc_RuntimeError);
  static py::exception<qvd::analysis::InputError> input_error(m, "InputError", PyExc_ValueError);
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const qvd::analysis::InputError &e) {
      input_error(e.what());
    } catch (const qvd::analysis::FloatingPointFault &e) {
      PyErr_SetString(PyExc_FloatingPointError, e.what());
    } catch (const qvd::analysis::ModuleError &e) {
      module_error(e.what());
    } catch (const qvd::analysis::Interrupted &e) {
      PyErr_SetString(PyExc_KeyboardInterrupt, e.what());
    }
  });
  m.attr("DEFAULT_SEED") = qvd::analysis::kDefaultSeed;
  m.attr("__version__") = QVDEP_VERSION;
  py::class_<Run>(m, "Run", "The result of one test, kept for the package's CDTestResult.")
      .def("figures", &figures, "Every figure as plain Python objects and numpy arrays.")
      .def("summary", [](const Run &r) { return qvd::report::report_text(r.source, r.result); },
           "The command-line tool's report.")
      .def("density",
           [](const Run &r) {
             const qvd::report::CorrelationDensity d = qvd::report::correlation_density(r.result);
             return py::dict(py::arg("low") = d.low, py::arg("high") = d.high,
                             py::arg("bar_heights") = d.bar_heights, py::arg("x") = d.x,
                             py::arg("estimate") = d.estimate,
                             py::arg("null_density") = d.null_density,
                             py::arg("bandwidth") = d.bandwidth, py::arg("pairs") = d.pairs);
           },
           "The curves of the correlations' distribution, as the tool draws them.")
      .def("density_legend",
           [](const Run &r) { return qvd::report::density_legend(r.result); },
           "The figures the tool's density picture gives in its legend.")
      .def("to_dict",
           [](const Run &r) { return from_json(qvd::report::result_json(r.source, r.result)); },
           "The command-line tool's JSON object (missing: None).");
  py::class_<Extras>(m, "Extras", "Limits and the options of the tool's own statistics.")
      .def(py::init([](std::uint64_t max_memory, int cdw_draws, int factors, bool unbalanced,
                       double exponent_size, double exponent_tuning,
                       std::optional<int> exponent_draws,
                       std::optional<std::uint64_t> exponent_seed, bool exponent_of_dependent) {
             return Extras{max_memory,     cdw_draws,       factors,
                           unbalanced,     exponent_size,   exponent_tuning,
                           exponent_draws, exponent_seed,   exponent_of_dependent};
           }),
           py::arg("max_memory"), py::arg("cdw_draws"), py::arg("factors"),
           py::arg("unbalanced"), py::arg("exponent_size") = 0.10,
           py::arg("exponent_tuning") = 0.5, py::arg("exponent_draws") = py::none(),
           py::arg("exponent_seed") = py::none(), py::arg("exponent_of_dependent") = false);
  py::class_<ModelOptions>(m, "ModelOptions",
                           "The model whose residuals are tested, and the local tests' neighbours.")
      .def(py::init(&model_options), py::arg("model"), py::arg("effect"))
      .def(
          "neighbours_matrix",
          [](ModelOptions &self, const Cells &cells, std::string name) {
            qvd::python::NeighbourCopy copy;
            copy_cells(copy, cells);
            set_neighbours(self, std::move(copy), std::move(name));
          },
          py::arg("cells"), py::arg("name"), "An N x N matrix in panel order.")
      .def(
          "neighbours_labelled",
          [](ModelOptions &self, std::vector<std::string> rows, std::vector<std::string> columns,
             const Cells &cells, std::string name) {
            qvd::python::NeighbourCopy copy;
            copy.form = qvd::python::NeighbourCopy::Form::labelled;
            copy_cells(copy, cells);
            if (rows.size() != copy.rows || columns.size() != copy.columns)
              throw py::value_error("labels do not match the matrix's shape");
            copy.row_ids = std::move(rows);
            copy.column_ids = std::move(columns);
            set_neighbours(self, std::move(copy), std::move(name));
          },
          py::arg("rows"), py::arg("columns"), py::arg("cells"), py::arg("name"),
          "A matrix whose rows and columns are named by cross-section, in any order.")
      .def(
          "neighbour_pairs",
          [](ModelOptions &self, std::vector<std::pair<std::string, std::string>> pairs,
             std::string name) {
            qvd::python::NeighbourCopy copy;
            copy.form = qvd::python::NeighbourCopy::Form::pairs;
            copy.pairs = std::move(pairs);
            set_neighbours(self, std::move(copy), std::move(name));
          },
          py::arg("pairs"), py::arg("name"), "Pairs of cross-sections that are neighbours.");
  m.attr("MODELS") = py::tuple(py::cast(model_names()));
  m.attr("EFFECTS") = py::tuple(py::cast(effect_names()));
  m.def("factorize_integers", &factorize_integers, py::arg("values"),
        "Codes by order of first appearance and the distinct values of an integer column.");
  m.def("run_long", &run_long, py::arg("id_codes"), py::arg("id_labels"),
        py::arg("time_codes"), py::arg("time_labels"), py::arg("id_name"),
        py::arg("time_name"), py::arg("y_name"), py::arg("y"), py::arg("x_names"), py::arg("x"),
        py::arg("intercept"), py::arg("order"), py::arg("restrictions"), py::arg("seed"),
        py::arg("module"), py::arg("extras"), py::arg("model"), py::arg("source"),
        py::arg("row_name"));
  m.def("run_wide", &run_wide, py::arg("values"), py::arg("ids"), py::arg("times"),
        py::arg("id_name"), py::arg("time_name"), py::arg("y_name"), py::arg("x_names"),
        py::arg("intercept"), py::arg("order"), py::arg("restrictions"), py::arg("seed"),
        py::arg("module"), py::arg("extras"), py::arg("model"), py::arg("source"));
  m.def("pvalue_phrase", &qvd::report::pvalue_phrase, py::arg("p"),
        "\"p = 0.0371633\", \"p < 1e-300\" or \"p = NA\", as the report prints a p-value.");
  m.def("unpack_square", &unpack_square, py::arg("packed"), py::arg("n"),
        "The N-by-N table of a packed one (its lower triangle, row after row).");
  m.def(
      "test_kinds",
      [] {
        py::list kinds;
        for (const qvd::analysis::TestKindInfo &k : qvd::analysis::test_kinds())
          kinds.append(py::dict(py::arg("key") = std::string(k.key),
                                py::arg("name") = std::string(k.name),
                                py::arg("title") = std::string(k.title),
                                py::arg("statistic") = std::string(k.statistic_attribute),
                                py::arg("p_value") = std::string(k.pvalue_attribute)));
        return kinds;
      },
      "The catalogue of test kinds: key, name and title patterns, the result's attributes.");
  m.def("parse_memory_size", &qvd::analysis::parse_memory_size, py::arg("text"),
        "Bytes of a size such as \"4G\" or \"512M\" (units of 1000).");
  m.def("release_memory", &release_memory,
        "Gives the memory that earlier analyses freed, and the allocator kept, back to the system.");
  m.def("module_version", [](const std::string &module_path) {
    py::gil_scoped_release unlocked;
    return qvd::analysis::module_version(module_path);
  });
}
