// The bundled host's contract checks, its loader, and the literal parser and
// comparison that the case files rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>

#include "casetools.h"

namespace {

using mexhost::ArrayPtr;
using mexhost::CallResult;
using Status = mexhost::CallResult::Status;

std::string pluginPath(const std::string &name) {
  return std::string(TOOLBOX_TEST_PLUGIN_DIR) + "/" + name + mexhost::pluginSuffix();
}

const mexhost::Plugin &faulty() {
  return mexhost::openPlugin(TOOLBOX_TEST_PLUGIN_DIR, "faulty");
}

CallResult callFaulty(const std::string &fault, int nlhs,
                      const std::vector<std::string> &more = {}) {
  const mexhost::Plugin *plugin = &faulty();
  std::vector<ArrayPtr> args;
  args.push_back(ArrayPtr(mxCreateString(fault.c_str())));
  for (const std::string &text : more) args.push_back(mexhost::parseLiteral(text));
  std::vector<const mxArray *> inputs;
  for (auto &a : args) inputs.push_back(a.get());
  return plugin->call(nlhs, inputs);
}

std::string joined(const std::vector<std::string> &lines) {
  std::string all;
  for (const auto &line : lines) all += line + "\n";
  return all;
}

TEST(Contract, CleanCallDeliversItsOutput) {
  CallResult r = callFaulty("ok", 1);
  ASSERT_EQ(r.status, Status::ok) << joined(r.violations);
  ASSERT_EQ(r.outputs.size(), 1u);
  EXPECT_EQ(mxGetScalar(r.outputs[0].get()), 1.0);
  CallResult none = callFaulty("ok", 0);
  EXPECT_EQ(none.outputs.size(), 1u) << "a value set with nargout 0 is the answer";
}

TEST(Contract, EachFaultIsReported) {
  struct Expectation {
    const char *fault;
    int nlhs;
    const char *text;
  } expectations[] = {
      {"leak", 1, "block(s) (64 bytes) still held at return"},
      {"overrun", 1, "output slot 2 written, but only 1 slot(s) exist for nargout 1"},
      {"overrun", 0, "output slot 2 written"},
      {"overrun", 3, "output slot 4 written"},
      {"orphan", 1, "1 array(s) created during the call were neither returned nor destroyed"},
      {"returnInput", 1, "output 1 is not a new array created during this call"},
  };
  for (const auto &e : expectations) {
    long arraysBefore = mexhost::liveArrays();
    CallResult r = callFaulty(e.fault, e.nlhs, {"[1 2 3]"});
    EXPECT_EQ(r.status, Status::violation) << e.fault;
    EXPECT_NE(joined(r.violations).find(e.text), std::string::npos) << e.fault << " reported:\n"
                                                                    << joined(r.violations);
    EXPECT_TRUE(r.outputs.empty());
    EXPECT_EQ(mexhost::liveArrays(), arraysBefore) << e.fault << " left arrays behind";
  }
}

TEST(Contract, ChangedInputIsReported) {
  ArrayPtr fault(mxCreateString("changeInput"));
  ArrayPtr data = mexhost::parseLiteral("[1 2 3]");
  CallResult r = faulty().call(1, {fault.get(), data.get()});
  EXPECT_EQ(r.status, Status::violation);
  EXPECT_NE(joined(r.violations).find("input 2 was changed"), std::string::npos);
}

TEST(Contract, AnErrorReclaimsScratchAndArrays) {
  long arraysBefore = mexhost::liveArrays();
  long scratchBefore = mexhost::liveScratchBlocks();
  CallResult r = callFaulty("errorAfterMalloc", 1);
  EXPECT_EQ(r.status, Status::error);
  EXPECT_EQ(r.identifier, "faulty:boom");
  EXPECT_EQ(r.message, "failed after 3 allocations");
  EXPECT_TRUE(r.outputs.empty());
  EXPECT_EQ(mexhost::liveScratchBlocks(), scratchBefore);
  EXPECT_EQ(mexhost::liveArrays(), arraysBefore);
  // The fault name's copy is released before the two blocks are taken; both
  // are held at once when the error is raised.
  EXPECT_EQ(r.peakScratchBytes, size_t(1 << 20) + 10 * 8);
}

// The k-th host allocation of a call can be made to fail: mxMalloc (inside
// mxArrayToString, and directly), mxCalloc, array creation, and the arrays
// a function reached through mexCallMATLAB creates. The failure raises
// MATLAB:nomem from inside the host call and the call's holdings are
// reclaimed, as after any error.
TEST(Contract, AFailingAllocationRaisesOutOfMemoryAndIsReclaimed) {
  CallResult counted = callFaulty("errorAfterMalloc", 1);
  ASSERT_EQ(counted.identifier, "faulty:boom");
  ASSERT_EQ(counted.allocations, 4) << "mxArrayToString, mxMalloc, mxCalloc, mxCreateDoubleMatrix";
  ArrayPtr fault(mxCreateString("errorAfterMalloc"));
  for (long k = 1; k <= counted.allocations + 1; ++k) {
    long arraysBefore = mexhost::liveArrays();
    long scratchBefore = mexhost::liveScratchBlocks();
    CallResult r = faulty().call(1, {fault.get()}, mexhost::Plugin::InputCheck::fingerprint, k);
    EXPECT_EQ(r.status, Status::error) << "allocation " << k;
    EXPECT_EQ(r.identifier, k <= counted.allocations ? "MATLAB:nomem" : "faulty:boom")
        << "allocation " << k;
    EXPECT_EQ(r.allocations, std::min(k, counted.allocations)) << "allocation " << k;
    EXPECT_EQ(mexhost::liveScratchBlocks(), scratchBefore) << "allocation " << k;
    EXPECT_EQ(mexhost::liveArrays(), arraysBefore) << "allocation " << k;
  }
  ArrayPtr callZeros(mxCreateString("callZeros"));
  ArrayPtr size = mexhost::parseLiteral("[2 3]");
  CallResult zeros = faulty().call(1, {callZeros.get(), size.get()});
  ASSERT_EQ(zeros.status, Status::ok);
  ASSERT_EQ(zeros.allocations, 2) << "mxArrayToString, then zeros' result";
  CallResult refused =
      faulty().call(1, {callZeros.get(), size.get()}, mexhost::Plugin::InputCheck::fingerprint, 2);
  EXPECT_EQ(refused.identifier, "MATLAB:nomem");
  CallResult unhindered = faulty().call(1, {callZeros.get(), size.get()});
  EXPECT_EQ(unhindered.status, Status::ok) << "the failure is the failing call's alone";
}

// Small uninitialised arrays hold a fill pattern, so that an element a
// plug-in forgets to write cannot pass for a zero in exact comparisons;
// large ones are left as allocated, with zero pages not yet touched.
TEST(Arrays, UninitialisedArraysShowUnwrittenElements) {
  ArrayPtr small(mxCreateUninitNumericMatrix(3, 4, mxDOUBLE_CLASS, mxREAL));
  ArrayPtr smallBytes(
      mxCreateUninitNumericArray(2, std::vector<size_t>{5, 7}.data(), mxUINT8_CLASS, mxREAL));
  ASSERT_EQ(mxGetNumberOfElements(small.get()), 12u);
  for (size_t k = 0; k < 12; ++k) EXPECT_NE(mxGetPr(small.get())[k], 0.0);
  ASSERT_EQ(mxGetNumberOfElements(smallBytes.get()), 35u);
  auto *bytes = static_cast<unsigned char *>(mxGetData(smallBytes.get()));
  for (size_t k = 0; k < 35; ++k) EXPECT_NE(bytes[k], 0);
  const size_t large = size_t(16) << 20;
  ArrayPtr big(mxCreateUninitNumericMatrix(large, 1, mxUINT8_CLASS, mxREAL));
  ASSERT_EQ(mxGetNumberOfElements(big.get()), large);
  EXPECT_EQ(mxGetClassID(big.get()), mxUINT8_CLASS);
}

TEST(Contract, ErrorsWithoutIdentifiersAndForeignExceptions) {
  CallResult plain = callFaulty("plainError", 1);
  EXPECT_EQ(plain.status, Status::error);
  EXPECT_EQ(plain.identifier, "");
  EXPECT_EQ(plain.message, "plain text");
  CallResult thrown = callFaulty("throwStd", 1);
  EXPECT_EQ(thrown.status, Status::error);
  EXPECT_EQ(thrown.identifier, "MATLAB:unexpectedCPPexception");
  CallResult unassigned = callFaulty("noOutput", 1);
  EXPECT_EQ(unassigned.status, Status::error);
  EXPECT_EQ(unassigned.identifier, "MATLAB:unassignedOutputs");
  EXPECT_EQ(callFaulty("noOutput", 0).status, Status::ok);
}

TEST(Contract, CallBacksReachTheRegistryAndAreCounted) {
  CallResult r = callFaulty("callZeros", 1, {"2", "3", "'uint8'"});
  ASSERT_EQ(r.status, Status::ok) << joined(r.violations) << r.message;
  EXPECT_EQ(r.hostCalls, 1);
  std::string why;
  EXPECT_TRUE(mexhost::sameArray(mexhost::parseLiteral("zeros(2, 3, 'uint8')").get(),
                                 r.outputs[0].get(), &why))
      << why;
  CallResult unknown = callFaulty("callUnknown", 1);
  EXPECT_EQ(unknown.status, Status::error);
  EXPECT_EQ(unknown.identifier, "MATLAB:UndefinedFunction");
  CallResult refused = callFaulty("callZeros", 1, {"2", "'quad'"});
  EXPECT_EQ(refused.status, Status::error);
  EXPECT_EQ(refused.identifier, "MATLAB:zeros:invalidClassName");
}

TEST(Loader, RefusesUnknownOrMissingVersions) {
  std::string why;
  EXPECT_TRUE(mexhost::Plugin::open(pluginPath("version_known"), &why)) << why;
  EXPECT_FALSE(mexhost::Plugin::open(pluginPath("version_unknown"), &why));
  EXPECT_NE(why.find("requires an API version this host does not know (0x0002016B, 0x09000000)"),
            std::string::npos)
      << why;
  EXPECT_FALSE(mexhost::Plugin::open(pluginPath("version_missing"), &why));
  EXPECT_NE(why.find("does not export mexfilerequiredapiversion"), std::string::npos) << why;
  EXPECT_FALSE(mexhost::Plugin::open(pluginPath("no_such_plugin"), &why));
}

// --- literals -------------------------------------------------------------

std::vector<double> doubles(const mxArray *a) {
  std::vector<double> v;
  for (size_t k = 0; k < mxGetNumberOfElements(a); ++k) v.push_back(mexhost::elementAsDouble(a, k));
  return v;
}

std::vector<size_t> dims(const mxArray *a) {
  const size_t *d = mxGetDimensions_730(a);
  return std::vector<size_t>(d, d + mxGetNumberOfDimensions_730(a));
}

TEST(Literal, WhitespaceAndSignsFollowMatlab) {
  EXPECT_EQ(doubles(mexhost::parseLiteral("[1 -2]").get()), (std::vector<double>{1, -2}));
  EXPECT_EQ(doubles(mexhost::parseLiteral("[1 - 2]").get()), (std::vector<double>{-1}));
  EXPECT_EQ(doubles(mexhost::parseLiteral("[1-2, 3]").get()), (std::vector<double>{-1, 3}));
  EXPECT_EQ(doubles(mexhost::parseLiteral("[1 2; 3 4]'").get()), (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(doubles(mexhost::parseLiteral("[1 2; 3 4]").get()), (std::vector<double>{1, 3, 2, 4}));
  EXPECT_EQ(doubles(mexhost::parseLiteral("-2^2").get()), (std::vector<double>{-4}));
  EXPECT_EQ(doubles(mexhost::parseLiteral("2^-1").get()), (std::vector<double>{0.5}));
  EXPECT_EQ(doubles(mexhost::parseLiteral("[1:3 10]").get()), (std::vector<double>{1, 2, 3, 10}));
  EXPECT_EQ(doubles(mexhost::parseLiteral("5:-2:0").get()), (std::vector<double>{5, 3, 1}));
  EXPECT_EQ(dims(mexhost::parseLiteral("[zeros(1, 0) 5]").get()), (std::vector<size_t>{1, 1}));
}

TEST(Literal, ClassesConvertLikeMatlab) {
  ArrayPtr u = mexhost::parseLiteral("uint8([300 -5 2.5 NaN])");
  EXPECT_EQ(mxGetClassID(u.get()), mxUINT8_CLASS);
  EXPECT_EQ(doubles(u.get()), (std::vector<double>{255, 0, 3, 0}));
  EXPECT_EQ(doubles(mexhost::parseLiteral("int8([-2.5 200])").get()),
            (std::vector<double>{-3, 127}));
  EXPECT_EQ(mxGetClassID(mexhost::parseLiteral("[uint16(7) 2.6]").get()), mxUINT16_CLASS);
  EXPECT_EQ(doubles(mexhost::parseLiteral("[uint16(7) 2.6]").get()), (std::vector<double>{7, 3}));
  ArrayPtr text = mexhost::parseLiteral("'it''s'");
  EXPECT_EQ(mxGetClassID(text.get()), mxCHAR_CLASS);
  EXPECT_EQ(mxGetN(text.get()), 4u);
  EXPECT_EQ(dims(mexhost::parseLiteral("zeros(0, 3, 'uint8')").get()), (std::vector<size_t>{0, 3}));
  EXPECT_EQ(dims(mexhost::parseLiteral("reshape(1:8, [2 2 2])").get()),
            (std::vector<size_t>{2, 2, 2}));
  EXPECT_EQ(dims(mexhost::parseLiteral("ones(2, 3, 1)").get()), (std::vector<size_t>{2, 3}));
  ArrayPtr z = mexhost::parseLiteral("complex(1, -0)");
  ASSERT_TRUE(mxIsComplex(z.get()));
  EXPECT_TRUE(std::signbit(mxGetPi(z.get())[0]));
  EXPECT_TRUE(std::signbit(mxGetPr(mexhost::parseLiteral("-0").get())[0]));
  EXPECT_THROW(mexhost::parseLiteral("logical(NaN)"), mexhost::ParseError);
}

TEST(Literal, SparseIsCompressedByColumns) {
  ArrayPtr s = mexhost::parseLiteral("sparse([0 1; 2 0; 0 -0])");
  ASSERT_TRUE(mxIsSparse(s.get()));
  const size_t *jc = mxGetJc_730(s.get()), *ir = mxGetIr_730(s.get());
  EXPECT_EQ(std::vector<size_t>(jc, jc + 3), (std::vector<size_t>{0, 1, 2}));
  EXPECT_EQ(std::vector<size_t>(ir, ir + 2), (std::vector<size_t>{1, 0}));
  ArrayPtr t = mexhost::parseLiteral("sparse([1 3 3], [1 2 2], [5 1 2], 4, 2)");
  EXPECT_EQ(mxGetM(t.get()), 4u);
  EXPECT_EQ(mxGetPr(t.get())[1], 3.0) << "repeated triplets add up";
}

TEST(Literal, MalformedTextIsRefused) {
  for (const char *bad : {"[1 2", "foo(1)", "1 2", "'abc", "[1 2; 3]", "reshape(1:3, 2, 2)", "0x10",
                          "\"text\"", "1 +", "Inf(2, 'uint8')"}) {
    EXPECT_THROW(mexhost::parseLiteral(bad), mexhost::ParseError) << bad;
  }
}

TEST(Literal, EveryArrayPrintsAsALiteralThatReadsBack) {
  for (const char *text :
       {"[1 -0; NaN -Inf]", "0.1", "1e-300", "single([0.1 3e38])", "uint8(reshape(0:7, [2 2 2]))",
        "int64(-5)", "logical([1 0 1])", "'it''s'", "char([9 65])", "zeros(0, 3)",
        "zeros(2, 0, 3, 'int16')", "sparse([0 1.5; 2 0])", "sparse(logical([0 1]))",
        "complex([1 2], [-0 3])", "sparse(complex([0 1], [0 -2]))", "reshape(1:6, [1 1 6])"}) {
    ArrayPtr a = mexhost::parseLiteral(text);
    ArrayPtr b = mexhost::parseLiteral(mexhost::toLiteral(a.get()));
    std::string why;
    EXPECT_TRUE(mexhost::sameArray(a.get(), b.get(), &why)) << text << ": " << why;
  }
}

TEST(Compare, DistinguishesEverythingButNaNPayloads) {
  std::string why;
  auto same = [&](const char *a, const char *b) {
    return mexhost::sameArray(mexhost::parseLiteral(a).get(), mexhost::parseLiteral(b).get(), &why);
  };
  EXPECT_TRUE(same("[NaN 1]", "[-NaN 1]"));
  EXPECT_FALSE(same("0", "-0"));
  EXPECT_FALSE(same("1", "uint8(1)"));
  EXPECT_FALSE(same("[1 2]", "[1; 2]"));
  EXPECT_FALSE(same("zeros(1, 0)", "zeros(0, 1)"));
  EXPECT_FALSE(same("[1 0]", "sparse([1 0])"));
  EXPECT_FALSE(same("1", "complex(1, 0)"));
  EXPECT_FALSE(same("complex(1, 0)", "complex(1, -0)"));
  EXPECT_FALSE(same("1", "1 + 2^-52"));
  EXPECT_TRUE(same("single(0.1)", "single(0.1000000001)"));
}

TEST(CaseFile, TagsContinuationsAndOutputCounts) {
  std::string path = testing::TempDir() + "/sample.cases";
  std::ofstream(path) << "# comment\n"
                         "\n"
                         "f([1 2], ...\n"
                         "  'a->b') -> 1, [2 3]\n"
                         "@octave @nargout=0 g() -> error('x:y', 'it''s wrong')\n"
                         "h(1) ->\n"
                         "@nargout=0 k(2) -> 5\n";
  std::vector<mexhost::Case> cases = mexhost::readCaseFile(path);
  ASSERT_EQ(cases.size(), 4u);
  EXPECT_EQ(cases[0].line, 3);
  EXPECT_EQ(cases[0].call.name, "f");
  EXPECT_EQ(cases[0].call.args, (std::vector<std::string>{"[1 2]", "'a->b'"}));
  EXPECT_EQ(cases[0].nargout, 2);
  EXPECT_EQ(cases[1].hosts, (std::vector<std::string>{"octave"}));
  EXPECT_TRUE(cases[1].expectError);
  EXPECT_EQ(cases[1].nargout, 0);
  EXPECT_EQ(cases[1].errorMessage, "it's wrong");
  EXPECT_EQ(cases[2].nargout, 0);
  EXPECT_TRUE(cases[2].expected.empty());
  EXPECT_EQ(cases[3].nargout, 0);
  EXPECT_EQ(cases[3].expected.size(), 1u);
  std::ofstream(path) << "f(1) 2\n";
  EXPECT_THROW(mexhost::readCaseFile(path), mexhost::ParseError);
}

// same(REF) expects what the host's own REF gives for the same inputs: its
// output once per requested output, or its error.
TEST(CaseFile, SameAsTheHostsOwnFunction) {
  std::string path = testing::TempDir() + "/same.cases";
  std::ofstream(path) << "nullfill(2) -> same(zeros)\n"
                         "@nargout=3 nullfill(1, 'int8') -> same(zeros)\n"
                         "nullfill('quad') -> same(zeros)\n"
                         "nullfill([2 3]) -> same(ones)\n"
                         "nullfill('quad') -> same(ones)\n"
                         "nullfill(2) -> same(noSuchFunction)\n";
  std::vector<mexhost::Case> cases = mexhost::readCaseFile(path);
  ASSERT_EQ(cases.size(), 6u);
  EXPECT_EQ(cases[0].sameAs, "zeros");
  EXPECT_EQ(cases[0].nargout, 1);
  EXPECT_EQ(cases[1].nargout, 3);
  mexhost::PluginShelf shelf(TOOLBOX_PLUGIN_DIR);
  using Kind = mexhost::CaseOutcome::Kind;
  for (int k = 0; k < 3; ++k) {
    mexhost::CaseOutcome outcome = mexhost::runCase(cases[k], shelf, "bundled");
    EXPECT_EQ(outcome.kind, Kind::passed) << cases[k].text << ": " << outcome.detail;
  }
  for (int k = 3; k < 6; ++k) {
    EXPECT_EQ(mexhost::runCase(cases[k], shelf, "bundled").kind, Kind::failed) << cases[k].text;
  }
  for (const char *bad :
       {"f(1) -> same(1 + 2)\n", "f(1) -> same()\n", "@nargout=0 f(1) -> same(zeros)\n"}) {
    std::ofstream(path) << bad;
    EXPECT_THROW(mexhost::readCaseFile(path), mexhost::ParseError) << bad;
  }
}

}  // namespace
