// libFuzzer target over the same generator as fuzz_gateways: the fuzzer's
// bytes drive the choices, so coverage feedback steers the argument lists.
// Build with the "fuzz" preset (clang); run one plug-in per campaign:
//
//   FUZZ_PLUGIN=flankprod build/fuzz/tests/libfuzzer_gateways -max_total_time=600 corpus/
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "casetools.h"
#include "generator.h"

namespace {

const mexhost::Plugin *target = nullptr;
std::string targetName;

const char *const kPlainMessages[] = {"All matrix elements have to be non-negative.",
                                      "incorrect dimension"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  const char *name = std::getenv("FUZZ_PLUGIN");
  if (name == nullptr) {
    std::fprintf(stderr, "set FUZZ_PLUGIN to the plug-in to fuzz\n");
    std::exit(2);
  }
  targetName = name;
  std::string why;
  static mexhost::PluginShelf shelf(TOOLBOX_PLUGIN_DIR);
  target = shelf.get(targetName, &why);
  if (target == nullptr) {
    std::fprintf(stderr, "cannot open %s: %s\n", name, why.c_str());
    std::exit(2);
  }
  mexhost::setArrayByteLimit(fuzz::kFuzzArrayByteLimit);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::ByteEntropy entropy(data, size);
  fuzz::GeneratedCall call = fuzz::generateCall(entropy, targetName);
  std::vector<const mxArray *> inputs;
  for (const auto &a : call.args) inputs.push_back(a.get());
  mexhost::CallResult result = target->call(call.nargout, inputs);
  bool bad = result.status == mexhost::CallResult::Status::violation;
  if (result.status == mexhost::CallResult::Status::error && result.identifier.empty()) {
    bool documented = false;
    for (const char *m : kPlainMessages) documented = documented || result.message == m;
    bad = bad || !documented;
  }
  if (bad) {
    std::fprintf(stderr, "bad outcome for %s\n", fuzz::callText(call, 4000).c_str());
    for (const auto &v : result.violations) std::fprintf(stderr, "  violation: %s\n", v.c_str());
    if (result.status == mexhost::CallResult::Status::error) {
      std::fprintf(stderr, "  error without identifier: %s\n", result.message.c_str());
    }
    std::abort();
  }
  return 0;
}
