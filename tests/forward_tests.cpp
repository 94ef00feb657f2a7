// nullfill and unitfill: one host call per requested output, in output
// order, each with the caller's inputs as they are, and none without an
// output. A spy stands in for the constructors and records every call.
#include <gtest/gtest.h>

#include "casetools.h"

namespace {

using mexhost::ArrayPtr;

struct SpyCall {
  mxArray **slot;
  std::vector<const mxArray *> inputs;
};
std::vector<SpyCall> spyCalls;

void spy(int nlhs, mxArray *plhs[], int nrhs, const mxArray *const prhs[]) {
  EXPECT_EQ(nlhs, 1);
  spyCalls.push_back({plhs, std::vector<const mxArray *>(prhs, prhs + nrhs)});
  plhs[0] = mxCreateDoubleScalar(static_cast<double>(spyCalls.size()));
}

void refuse(int, mxArray *[], int, const mxArray *const[]) {
  spyCalls.push_back({nullptr, {}});
  throw mexhost::MexError{"spy:refused", "refused"};
}

const mexhost::Plugin *open(const char *name) {
  return &mexhost::openPlugin(TOOLBOX_PLUGIN_DIR, name);
}

class Forwarding : public testing::TestWithParam<const char *> {
 protected:
  const char *constructor() const {
    return std::string(GetParam()) == "nullfill" ? "zeros" : "ones";
  }
  void SetUp() override {
    spyCalls.clear();
    original_ = mexhost::registerFunction(constructor(), nullptr);
    mexhost::registerFunction(constructor(), original_);
  }
  // Puts the real constructor back for the next test.
  void TearDown() override { mexhost::registerFunction(constructor(), original_); }
  mexhost::HostFunction original_ = nullptr;
};

TEST_P(Forwarding, OneCallPerOutputInOrderWithTheCallersInputs) {
  auto plugin = open(GetParam());
  mexhost::registerFunction(constructor(), spy);
  ArrayPtr a = mexhost::parseLiteral("[2 3]"), b = mexhost::parseLiteral("'uint8'");
  mexhost::CallResult r = plugin->call(3, {a.get(), b.get()});
  ASSERT_EQ(r.status, mexhost::CallResult::Status::ok);
  EXPECT_EQ(r.hostCalls, 3);
  ASSERT_EQ(spyCalls.size(), 3u);
  for (size_t i = 0; i < spyCalls.size(); ++i) {
    EXPECT_EQ(spyCalls[i].slot, spyCalls[0].slot + i) << "call " << i << " fills output " << i + 1;
    EXPECT_EQ(spyCalls[i].inputs, (std::vector<const mxArray *>{a.get(), b.get()}));
    EXPECT_EQ(mxGetScalar(r.outputs[i].get()), static_cast<double>(i + 1))
        << "output " << i + 1 << " is the result of its own call";
  }
}

TEST_P(Forwarding, NoOutputMeansNoCall) {
  auto plugin = open(GetParam());
  mexhost::registerFunction(constructor(), spy);
  ArrayPtr a = mexhost::parseLiteral("2");
  mexhost::CallResult r = plugin->call(0, {a.get()});
  EXPECT_EQ(r.status, mexhost::CallResult::Status::ok);
  EXPECT_EQ(r.hostCalls, 0);
  EXPECT_TRUE(spyCalls.empty());
  EXPECT_TRUE(r.outputs.empty());
  mexhost::CallResult none = plugin->call(1, {});
  EXPECT_EQ(none.hostCalls, 1);
  ASSERT_EQ(spyCalls.size(), 1u);
  EXPECT_TRUE(spyCalls[0].inputs.empty());
}

TEST_P(Forwarding, TheConstructorsErrorEndsTheCall) {
  auto plugin = open(GetParam());
  mexhost::registerFunction(constructor(), refuse);
  long arraysBefore = mexhost::liveArrays();
  mexhost::CallResult r = plugin->call(2, {});
  EXPECT_EQ(r.status, mexhost::CallResult::Status::error);
  EXPECT_EQ(r.identifier, "spy:refused");
  EXPECT_EQ(r.hostCalls, 1) << "nothing runs after the failing call";
  EXPECT_EQ(spyCalls.size(), 1u);
  EXPECT_EQ(mexhost::liveArrays(), arraysBefore);
}

TEST_P(Forwarding, SeparateOutputsAreSeparateArrays) {
  auto plugin = open(GetParam());
  mexhost::CallResult r = plugin->call(2, {mexhost::parseLiteral("2").get()});
  ASSERT_EQ(r.status, mexhost::CallResult::Status::ok);
  ASSERT_EQ(r.outputs.size(), 2u);
  EXPECT_NE(r.outputs[0].get(), r.outputs[1].get());
  EXPECT_NE(mxGetPr(r.outputs[0].get()), mxGetPr(r.outputs[1].get()));
}

INSTANTIATE_TEST_SUITE_P(Both, Forwarding, testing::Values("nullfill", "unitfill"));

}  // namespace
