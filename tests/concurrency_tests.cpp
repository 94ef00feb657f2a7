// The plug-ins keep no state between calls: every case-file call, made from
// several threads at once many times over, gives exactly the result it gives
// alone. The bundled host keeps each call's context per thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <random>
#include <thread>

#include "casetools.h"

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 6;

struct Reference {
  const mexhost::Case *call;
  const mexhost::Plugin *plugin;
  mexhost::CallResult alone;
};

std::string describe(const mexhost::CallResult &r) {
  switch (r.status) {
    case mexhost::CallResult::Status::ok: return std::to_string(r.outputs.size()) + " output(s)";
    case mexhost::CallResult::Status::error: return "error (" + r.identifier + ") " + r.message;
    default: return "contract violation";
  }
}

// Runs one case on fresh inputs; returns "" when it matches the reference.
std::string runAndCompare(const Reference &ref) {
  std::vector<mexhost::ArrayPtr> args;
  std::vector<const mxArray *> inputs;
  for (const std::string &text : ref.call->call.args) {
    args.push_back(mexhost::parseLiteral(text));
    inputs.push_back(args.back().get());
  }
  mexhost::CallResult r = ref.plugin->call(ref.call->nargout, inputs);
  const mexhost::CallResult &a = ref.alone;
  if (r.status != a.status || r.identifier != a.identifier || r.message != a.message ||
      r.outputs.size() != a.outputs.size() || r.hostCalls != a.hostCalls) {
    return "alone: " + describe(a) + "; concurrently: " + describe(r);
  }
  for (size_t i = 0; i < r.outputs.size(); ++i) {
    std::string why;
    if (!mexhost::sameArray(a.outputs[i].get(), r.outputs[i].get(), &why)) {
      return "output " + std::to_string(i + 1) + ": " + why;
    }
  }
  return "";
}

TEST(Concurrency, EveryCaseGivesItsResultFromManyThreadsAtOnce) {
  mexhost::PluginShelf shelf(TOOLBOX_PLUGIN_DIR);
  std::vector<std::vector<mexhost::Case>> files;
  for (const auto &entry : std::filesystem::directory_iterator(TOOLBOX_CASES_DIR)) {
    if (entry.path().extension() == ".cases") {
      files.push_back(mexhost::readCaseFile(entry.path().string()));
    }
  }
  std::vector<Reference> references;
  for (const auto &cases : files) {
    for (const mexhost::Case &c : cases) {
      bool here =
          c.hosts.empty() || std::find(c.hosts.begin(), c.hosts.end(), "bundled") != c.hosts.end();
      std::string why;
      const mexhost::Plugin *plugin = shelf.get(c.call.name, &why);
      if (!here || plugin == nullptr) continue;
      Reference ref{&c, plugin, {}};
      std::vector<mexhost::ArrayPtr> args;
      std::vector<const mxArray *> inputs;
      for (const std::string &text : c.call.args) {
        args.push_back(mexhost::parseLiteral(text));
        inputs.push_back(args.back().get());
      }
      ref.alone = plugin->call(c.nargout, inputs);
      references.push_back(std::move(ref));
    }
  }
  ASSERT_GT(references.size(), 50u);

  std::atomic<long> calls{0};
  std::vector<std::vector<std::string>> failures(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 order(static_cast<unsigned>(t));
      std::vector<size_t> indices(references.size());
      for (size_t i = 0; i < indices.size(); ++i) indices[i] = i;
      for (int round = 0; round < kRounds; ++round) {
        std::shuffle(indices.begin(), indices.end(), order);
        for (size_t i : indices) {
          std::string problem = runAndCompare(references[i]);
          ++calls;
          if (!problem.empty()) {
            failures[t].push_back(references[i].call->file + ":" +
                                  std::to_string(references[i].call->line) + ": " + problem);
          }
        }
      }
    });
  }
  for (auto &thread : threads) thread.join();
  EXPECT_EQ(calls.load(), static_cast<long>(references.size()) * kThreads * kRounds);
  for (const auto &list : failures) {
    for (const std::string &f : list) ADD_FAILURE() << f;
  }
}

}  // namespace
