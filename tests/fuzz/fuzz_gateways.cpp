// fuzz_gateways: calls every plug-in with hostile argument lists through the
// bundled host and checks that each call either returns outputs the host's
// contract checks accept or raises an error with an identifier (a plain
// message only where the plug-in's documented behaviour is one), within a
// time bound proportional to its input size.
//
//   fuzz_gateways [--seed S] [--calls N] [--plugins a,b,...] [--dir DIR]
//                 [--only I] [--export FILE] [--max-literal L] [--no-run]
//
// Call I of plug-in P under seed S is reproducible on its own with
// --plugins P --only I. --export writes the calls (those whose literals are
// short enough) as MATLAB lines for the Octave run.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "casetools.h"
#include "generator.h"

namespace {

// Errors without an identifier that the plug-ins raise on purpose.
const char *const kPlainMessages[] = {"All matrix elements have to be non-negative.",
                                      "incorrect dimension"};

constexpr double kBaseSeconds = 2.0;         // any call, under the sanitizers too
constexpr double kSecondsPerElement = 2e-6;  // plus this per input element
constexpr int kHangSeconds = 120;            // the watchdog ends the run after this

struct Options {
  uint64_t seed = 1;
  long calls = 1000;
  long only = -1;
  std::vector<std::string> plugins;
  std::string dir = TOOLBOX_PLUGIN_DIR;
  std::string exportFile;
  size_t maxLiteral = 2000;
  bool run = true;
};

// The seed of one call: independent of every other call, so that any call
// can be replayed alone.
uint64_t callSeed(uint64_t seed, const std::string &plugin, long index) {
  uint64_t h = seed * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(index);
  for (char c : plugin) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  return h;
}

size_t inputElements(const fuzz::GeneratedCall &call) {
  size_t total = 0;
  for (const auto &a : call.args) total += mxGetNumberOfElements(a.get());
  return total;
}

// Ends the process when a single call runs far past any reasonable time.
class Watchdog {
 public:
  Watchdog() : thread_([this] { watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void begin(const std::string &what) {
    std::lock_guard<std::mutex> lock(mutex_);
    what_ = what;
    started_ = std::chrono::steady_clock::now();
    busy_ = true;
  }
  void end() {
    std::lock_guard<std::mutex> lock(mutex_);
    busy_ = false;
  }

 private:
  void watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
      wake_.wait_for(lock, std::chrono::seconds(1));
      if (busy_ &&
          std::chrono::steady_clock::now() - started_ > std::chrono::seconds(kHangSeconds)) {
        std::cerr << "HANG: a call ran longer than " << kHangSeconds << " s: " << what_
                  << std::endl;
        std::abort();
      }
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false, busy_ = false;
  std::string what_;
  std::chrono::steady_clock::time_point started_;
  std::thread thread_;
};

bool parseOptions(int argc, char **argv, Options &o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--seed")
      o.seed = std::strtoull(value().c_str(), nullptr, 0);
    else if (a == "--calls")
      o.calls = std::atol(value().c_str());
    else if (a == "--only")
      o.only = std::atol(value().c_str());
    else if (a == "--dir")
      o.dir = value();
    else if (a == "--export")
      o.exportFile = value();
    else if (a == "--max-literal")
      o.maxLiteral = std::strtoull(value().c_str(), nullptr, 0);
    else if (a == "--no-run")
      o.run = false;
    else if (a == "--plugins") {
      std::stringstream list(value());
      std::string name;
      while (std::getline(list, name, ',')) o.plugins.push_back(name);
    } else {
      std::cerr << "usage: fuzz_gateways [--seed S] [--calls N] [--plugins a,b] [--dir DIR] "
                   "[--only I] [--export FILE] [--max-literal L] [--no-run]\n";
      return false;
    }
  }
  if (o.plugins.empty()) o.plugins = fuzz::pluginNames();
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  Options options;
  if (!parseOptions(argc, argv, options)) return 2;
  mexhost::setArrayByteLimit(fuzz::kFuzzArrayByteLimit);
  std::ofstream exported;
  if (!options.exportFile.empty()) exported.open(options.exportFile);
  mexhost::PluginShelf shelf(options.dir);
  Watchdog watchdog;
  int failures = 0;
  std::cout << "seed " << options.seed << ", " << options.calls << " calls per plug-in\n";
  for (const std::string &name : options.plugins) {
    std::string why;
    const mexhost::Plugin *plugin = options.run ? shelf.get(name, &why) : nullptr;
    if (options.run && plugin == nullptr) {
      std::cout << name << ": cannot open: " << why << "\n";
      ++failures;
      continue;
    }
    std::map<std::string, long> outcomes;
    long first = options.only >= 0 ? options.only : 0;
    long last = options.only >= 0 ? options.only + 1 : options.calls;
    for (long i = first; i < last; ++i) {
      fuzz::SeededEntropy entropy(callSeed(options.seed, name, i));
      fuzz::GeneratedCall call = fuzz::generateCall(entropy, name);
      if (exported.is_open()) {
        std::string line = fuzz::callText(call, options.maxLiteral);
        if (!line.empty()) exported << line << "\n";
      }
      if (!options.run) continue;
      std::vector<const mxArray *> inputs;
      for (const auto &a : call.args) inputs.push_back(a.get());
      std::string label = name + " call " + std::to_string(i);
      watchdog.begin(label);
      auto start = std::chrono::steady_clock::now();
      mexhost::CallResult result = plugin->call(call.nargout, inputs);
      double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      watchdog.end();
      std::string problem;
      if (result.status == mexhost::CallResult::Status::violation) {
        problem = "contract violation:";
        for (const auto &v : result.violations) problem += " " + v + ";";
        outcomes["VIOLATION"]++;
      } else if (result.status == mexhost::CallResult::Status::error) {
        if (result.identifier.empty()) {
          bool documented = false;
          for (const char *m : kPlainMessages) documented = documented || result.message == m;
          if (!documented) problem = "error without an identifier: " + result.message;
          outcomes["error '" + result.message + "'"]++;
        } else {
          outcomes["error " + result.identifier]++;
        }
      } else {
        outcomes["returned"]++;
      }
      double bound = kBaseSeconds + kSecondsPerElement * static_cast<double>(inputElements(call));
      if (seconds > bound) {
        problem +=
            " took " + std::to_string(seconds) + " s (bound " + std::to_string(bound) + " s)";
      }
      if (!problem.empty()) {
        ++failures;
        std::string text = fuzz::callText(call, 400);
        std::cout << "FAILED " << label << " (--seed " << options.seed << " --plugins " << name
                  << " --only " << i << "): " << problem << "\n  "
                  << (text.empty() ? "(arguments too long to print)" : text) << "\n";
      }
    }
    if (!options.run) continue;
    std::cout << name << ": " << (last - first) << " calls\n";
    for (const auto &o : outcomes) std::cout << "  " << o.second << "  " << o.first << "\n";
  }
  if (options.run)
    std::cout << (failures == 0 ? "no failures\n" : std::to_string(failures) + " failure(s)\n");
  return failures == 0 ? 0 : 1;
}
