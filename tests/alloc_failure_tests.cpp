// Memory running out inside a plug-in call. Every call of every case file is
// made once to count its host allocations, then once for every k of them
// with the k-th made to fail (Plugin::call's failingAllocation): the host
// raises MATLAB:nomem from inside the allocating call, as MATLAB and Octave
// do, and the error unwinds through the plug-in. Each such call must end in
// that error, leave no scratch block or array behind, and change no input.
// Every block a plug-in holds is taken from the host (the imports test
// checks that no plug-in calls the C or C++ allocator itself), so the
// suite reaches every allocation a call makes; the sanitizer build, where
// it runs too, would report memory left behind by any other way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "casetools.h"

namespace {

using mexhost::ArrayPtr;
using mexhost::CallResult;
using Status = mexhost::CallResult::Status;

std::vector<std::string> caseFiles() {
  std::vector<std::string> files;
  for (const auto &entry : std::filesystem::directory_iterator(TOOLBOX_CASES_DIR)) {
    if (entry.path().extension() == ".cases") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool runsInBundledHost(const mexhost::Case &c) {
  return c.hosts.empty() || std::find(c.hosts.begin(), c.hosts.end(), "bundled") != c.hosts.end();
}

// The case's arguments, freshly parsed; false when a literal does not parse
// (the case runner reports that).
bool parseArguments(const mexhost::Case &c, std::vector<ArrayPtr> *args) {
  try {
    for (const std::string &text : c.call.args) args->push_back(mexhost::parseLiteral(text));
  } catch (const mexhost::ParseError &) {
    return false;
  }
  return true;
}

std::vector<const mxArray *> pointers(const std::vector<ArrayPtr> &args) {
  std::vector<const mxArray *> inputs;
  for (const ArrayPtr &a : args) inputs.push_back(a.get());
  return inputs;
}

// Calls c with each of its host allocations failing in turn; returns how
// many calls failed an allocation.
long failEachAllocation(const mexhost::Case &c) {
  const std::string where = c.file + ":" + std::to_string(c.line) + ": " + c.text;
  std::vector<ArrayPtr> args;
  std::vector<ArrayPtr> pristine;
  if (!parseArguments(c, &args) || !parseArguments(c, &pristine)) return 0;
  const std::vector<const mxArray *> inputs = pointers(args);
  const mexhost::Plugin &plugin = mexhost::openPlugin(TOOLBOX_PLUGIN_DIR, c.call.name.c_str());

  const CallResult counted = plugin.call(c.nargout, inputs);
  const long allocations = counted.allocations;
  for (long k = 1; k <= allocations; ++k) {
    const long arraysBefore = mexhost::liveArrays();
    const long scratchBefore = mexhost::liveScratchBlocks();
    CallResult r = plugin.call(c.nargout, inputs, mexhost::Plugin::InputCheck::fingerprint, k);
    EXPECT_EQ(r.status, Status::error)
        << where << "\nallocation " << k << " of " << allocations << " failed, yet the call "
        << (r.status == Status::ok ? "returned outputs" : "broke the host's contract");
    if (r.status != Status::error) return k;  // the later allocations would only repeat it
    EXPECT_EQ(r.identifier, "MATLAB:nomem") << where << "\nallocation " << k << ": " << r.message;
    EXPECT_TRUE(r.outputs.empty()) << where;
    EXPECT_EQ(mexhost::liveArrays(), arraysBefore) << where << "\nallocation " << k;
    EXPECT_EQ(mexhost::liveScratchBlocks(), scratchBefore) << where << "\nallocation " << k;
    for (size_t i = 0; i < args.size(); ++i) {
      std::string why;
      EXPECT_TRUE(mexhost::sameArray(pristine[i].get(), args[i].get(), &why))
          << where << "\nallocation " << k << " changed input " << i + 1 << ": " << why;
    }
  }
  // The count is exact: with one allocation more to go, the call ends as it
  // does unhindered.
  CallResult past =
      plugin.call(c.nargout, inputs, mexhost::Plugin::InputCheck::fingerprint, allocations + 1);
  EXPECT_EQ(past.status, counted.status) << where;
  EXPECT_EQ(past.allocations, allocations) << where;
  return allocations;
}

class AllocationFailure : public testing::TestWithParam<std::string> {};

TEST_P(AllocationFailure, EveryAllocationOfEveryCallFailsCleanly) {
  const std::vector<mexhost::Case> cases = mexhost::readCaseFile(GetParam());
  long failedCalls = 0;
  for (const mexhost::Case &c : cases) {
    if (runsInBundledHost(c)) failedCalls += failEachAllocation(c);
  }
  // Every case file holds calls that return arrays, so some allocations
  // must have been failed.
  EXPECT_GT(failedCalls, 0) << GetParam() << ": no call made a host allocation";
  std::printf("%s: %ld calls with a failing allocation\n", GetParam().c_str(), failedCalls);
}

INSTANTIATE_TEST_SUITE_P(CaseFiles, AllocationFailure, testing::ValuesIn(caseFiles()),
                         [](const testing::TestParamInfo<std::string> &info) {
                           return std::filesystem::path(info.param).stem().string();
                         });

// The count covers every block a plug-in takes, its scratch as well as its
// results: flankprod([], X, []) with a 2-by-2 X decodes R's two diagonal
// pairs into host scratch and then creates Y (the identity L is walked,
// never spelled out). Failing the first of the two fails the decoding,
// before Y exists.
TEST(AllocationFailure, ScratchAndResultsAreCountedAllocations) {
  const mexhost::Plugin &plugin = mexhost::openPlugin(TOOLBOX_PLUGIN_DIR, "flankprod");
  ArrayPtr X = mexhost::parseLiteral("[1 2; 3 4]");
  ArrayPtr identity = mexhost::parseLiteral("[]");
  const std::vector<const mxArray *> inputs = {identity.get(), X.get(), identity.get()};
  CallResult r = plugin.call(1, inputs);
  ASSERT_EQ(r.status, Status::ok);
  EXPECT_EQ(r.allocations, 2) << "R's decoded pairs and the result";
  constexpr size_t kPairBytes = 8;  // two 32-bit indices
  EXPECT_GE(r.peakScratchBytes, 2 * kPairBytes) << "R's pairs are held as host scratch";
  CallResult failed =
      plugin.call(1, inputs, mexhost::Plugin::InputCheck::fingerprint, /*failingAllocation=*/1);
  EXPECT_EQ(failed.status, Status::error);
  EXPECT_EQ(failed.identifier, "MATLAB:nomem") << failed.message;
  EXPECT_TRUE(failed.outputs.empty());
}

}  // namespace
