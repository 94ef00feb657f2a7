// benchhost.h: opening and calling plug-ins through the bundled host from a
// Google Benchmark program. TOOLBOX_PLUGIN_DIR names the folder of the
// bundled plug-ins.
#ifndef TOOLBOX_BENCH_BENCHHOST_H
#define TOOLBOX_BENCH_BENCHHOST_H

#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "casetools.h"

namespace benchhost {

// The plug-in NAME, opened once per program.
inline const mexhost::Plugin &plugin(const char *name) {
  return mexhost::openPlugin(TOOLBOX_PLUGIN_DIR, name);
}

// One call with the host's input fingerprinting off; the outputs are freed.
inline void callPlugin(benchmark::State &state, const mexhost::Plugin &p, int nlhs,
                       const std::vector<const mxArray *> &inputs) {
  mexhost::CallResult r = p.call(nlhs, inputs, mexhost::Plugin::InputCheck::none);
  if (r.status != mexhost::CallResult::Status::ok) state.SkipWithError(r.message.c_str());
  benchmark::DoNotOptimize(r.outputs.data());
}

}  // namespace benchhost

#endif
