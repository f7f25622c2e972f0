// The whole test timed as a host runs it: one instance of the loaded
// module, one run of the panel per benchmark iteration, the correlation
// block handed back after each.
#ifndef QVDEP_BENCH_MODULE_RUNS_H
#define QVDEP_BENCH_MODULE_RUNS_H

#include <benchmark/benchmark.h>

#include "host/dependence_run.h"
#include "host/reference_host.h"

// An instance of the module at QVDEP_MODULE_PATH for the life of a
// benchmark.
struct ModuleInstance {
  qvd::host::ReferenceHost host{QVDEP_MODULE_PATH};
  ExtensionDescriptor *descriptor = host.create_descriptor();
  TestInstance *instance = host.create_instance(descriptor);

  ModuleInstance() = default;
  ModuleInstance(const ModuleInstance &) = delete;
  ModuleInstance &operator=(const ModuleInstance &) = delete;
  ~ModuleInstance() {
    host.destroy_instance(instance);
    host.release_descriptor(descriptor);
  }
};

// Runs the panel once per iteration of the benchmark; a failed run ends the
// benchmark with an error.
inline void run_each_iteration(benchmark::State &state, ModuleInstance &module,
                               const qvd::host::Panel &panel) {
  for (auto _ : state) {
    DependenceRequest request = qvd::host::make_request(panel, {});
    if (module.host.run(module.instance, &request).status != 0) {
      state.SkipWithError("run failed");
      break;
    }
    module.host.free_block(module.instance, request.correlations);
  }
}

#endif
