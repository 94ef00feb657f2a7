// casetools.h: MATLAB literals, array display and comparison, and case files.
//
// A case file holds one call per line with its exact expected outputs:
//
//   # comment
//   [@tag ...] NAME(ARG, ...) -> OUT1, OUT2        expected outputs (nargout 2)
//   [@tag ...] NAME(ARG, ...) -> error('ID', 'MESSAGE')
//   [@tag ...] NAME(ARG, ...) ->                   nargout 0, nothing returned
//   [@tag ...] NAME(ARG, ...) -> same(REF)         each output (one unless
//        @nargout says more) equals REF(ARG, ...) called with one output by
//        the host running the case, or the call raises the error REF raises
//
// The form same(REF) is for what the host decides, not the plug-in: the
// results and errors of the host's own functions, which nullfill and
// unitfill forward to and which differ between hosts and their versions.
//
// Tags: @bundled, @octave, @windows restrict a line to the hosts named;
// @nargout=N sets the number of outputs requested (for error lines, which
// otherwise request one). A line ending in "..." continues on the next.
#ifndef MEXHOST_CASETOOLS_H
#define MEXHOST_CASETOOLS_H

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "mexhost.h"
#include "valuetext.h"

namespace mexhost {

struct ParseError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Parses one MATLAB literal expression into a new host-owned array.
ArrayPtr parseLiteral(const std::string &text);

// A call written as NAME(ARG, ...): the name and each argument's text.
struct CallText {
  std::string name;
  std::vector<std::string> args;
};
CallText splitCall(const std::string &text);

// Splits at top-level commas (outside brackets, parentheses and quotes).
std::vector<std::string> splitTopLevel(const std::string &text, char separator);

// MATLAB's conversion of one double to class cls (integers round halves
// away from zero and saturate, NaN becomes 0; char truncates), kept as a
// double. Throws ParseError for NaN to logical, as MATLAB refuses it.
double convertElement(double v, mxClassID cls);

// Stores v, a value that class cls holds exactly (see convertElement), as
// element k of an array of class cls whose data starts at data.
void storeElement(void *data, size_t k, mxClassID cls, double v);

// The array as a literal that parseLiteral reads back to an identical array.
std::string toLiteral(const mxArray *array);

// The array as MATLAB would display it under the given variable name.
std::string display(const std::string &name, const mxArray *array);

// Exact comparison: class, every dimension, sparsity, complexity and the bits
// of every element, with every NaN equal to every NaN. On a difference,
// returns false and says where.
bool sameArray(const mxArray *expected, const mxArray *actual, std::string *why);

struct Case {
  std::string file;
  int line = 0;
  std::string text;                // the whole case, continuations joined
  std::vector<std::string> hosts;  // empty: every host
  CallText call;
  int nargout = 0;
  bool expectError = false;
  std::string errorId;
  std::string errorMessage;
  std::vector<std::string> expected;  // literal texts, one per output
  std::string sameAs;                 // same(REF): the host function REF, else empty
};

// Reads a case file; throws ParseError naming file and line on bad syntax.
std::vector<Case> readCaseFile(const std::string &path);

// The plug-in NAME (file NAME plus pluginSuffix()) in folder, opened on the
// first request and kept open for the rest of the process; every test and
// benchmark opens plug-ins through it. Throws std::runtime_error saying why
// when the plug-in cannot be opened. Safe to call from several threads.
// (The texts are plain pointers so that a literal argument makes no
// temporary for the returned reference to seem to depend on.)
const Plugin &openPlugin(const char *folder, const char *name);

// Opens plug-ins by name from one folder (openPlugin), reporting failures
// instead of throwing.
class PluginShelf {
 public:
  explicit PluginShelf(std::string folder) : folder_(std::move(folder)) {}
  const Plugin *get(const std::string &name, std::string *why);

 private:
  std::string folder_;
};

struct CaseOutcome {
  enum class Kind { passed, failed, skipped };
  Kind kind = Kind::passed;
  std::string detail;
};

// Runs one case in the bundled host named `host` ("bundled" or "windows").
CaseOutcome runCase(const Case &testCase, PluginShelf &shelf, const std::string &host);

}  // namespace mexhost

#endif
