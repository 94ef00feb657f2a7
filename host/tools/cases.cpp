// Case files: reading them and running one case in the bundled host.
#include <atomic>
#include <cctype>
#include <fstream>
#include <set>

#include "casetools.h"

namespace mexhost {

namespace {

const std::set<std::string> kHosts = {"bundled", "octave", "windows", "matlab"};

std::string trim(const std::string &text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// Position of the top-level "->" (outside quotes), or npos.
size_t findArrow(const std::string &text) {
  bool quoted = false;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    char c = text[i];
    if (c == '\'') {
      char prev = i > 0 ? text[i - 1] : '\0';
      bool transposeQuote = !quoted && (std::isalnum(static_cast<unsigned char>(prev)) ||
                                        prev == ')' || prev == ']' || prev == '\'');
      if (!transposeQuote) quoted = !quoted;
    } else if (!quoted && c == '-' && text[i + 1] == '>') {
      return i;
    }
  }
  return std::string::npos;
}

std::string textOf(const std::string &literal) {
  ArrayPtr array = parseLiteral(literal);
  if (!mxIsChar(array.get())) throw ParseError("expected a quoted text: " + literal);
  char *chars = mxArrayToString(array.get());
  std::string text = chars;
  mxFree(chars);
  return text;
}

Case parseCase(const std::string &file, int line, std::string text) {
  Case c;
  c.file = file;
  c.line = line;
  c.text = text;
  int nargout = -1;
  for (;;) {
    text = trim(text);
    if (text.empty() || text[0] != '@') break;
    size_t end = text.find_first_of(" \t");
    std::string tag = text.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    text = end == std::string::npos ? "" : text.substr(end);
    if (tag.rfind("nargout=", 0) == 0) {
      nargout = std::stoi(tag.substr(8));
    } else if (kHosts.count(tag) != 0) {
      c.hosts.push_back(tag);
    } else {
      throw ParseError("unknown tag @" + tag);
    }
  }
  size_t arrow = findArrow(text);
  if (arrow == std::string::npos) throw ParseError("expected '->'");
  c.call = splitCall(trim(text.substr(0, arrow)));
  std::string right = trim(text.substr(arrow + 2));
  if (right.rfind("same(", 0) == 0 && right.back() == ')') {
    c.sameAs = trim(right.substr(5, right.size() - 6));
    bool identifier = !c.sameAs.empty() && std::isalpha(static_cast<unsigned char>(c.sameAs[0]));
    for (char ch : c.sameAs) {
      identifier = identifier && (std::isalnum(static_cast<unsigned char>(ch)) || ch == '_');
    }
    if (!identifier) throw ParseError("same(REF) takes the name of a function");
    c.nargout = nargout < 0 ? 1 : nargout;
    if (c.nargout < 1) throw ParseError("same(REF) compares at least one output");
    return c;
  }
  if (right.rfind("error(", 0) == 0 && right.back() == ')') {
    std::vector<std::string> parts = splitTopLevel(right.substr(6, right.size() - 7), ',');
    if (parts.size() != 2) throw ParseError("error(ID, MESSAGE) takes two texts");
    c.expectError = true;
    c.errorId = textOf(parts[0]);
    c.errorMessage = textOf(parts[1]);
    c.nargout = nargout < 0 ? 1 : nargout;
    return c;
  }
  if (!right.empty()) {
    for (const std::string &part : splitTopLevel(right, ',')) c.expected.push_back(trim(part));
  }
  c.nargout = static_cast<int>(c.expected.size());
  if (nargout >= 0) {
    // With @nargout=0 one expected value is the "ans" that the call leaves.
    bool ansCase = nargout == 0 && c.expected.size() == 1;
    if (!ansCase && nargout != c.nargout) {
      throw ParseError("@nargout does not match the number of expected outputs");
    }
    c.nargout = nargout;
  }
  return c;
}

}  // namespace

std::vector<Case> readCaseFile(const std::string &path) {
  std::ifstream in(path);
  if (!in) throw ParseError("cannot read " + path);
  std::vector<Case> cases;
  std::string line, pending;
  int lineNumber = 0, startLine = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    std::string text = trim(line);
    if (pending.empty() && (text.empty() || text[0] == '#' || text[0] == '%')) continue;
    if (pending.empty()) startLine = lineNumber;
    if (text.size() >= 3 && text.compare(text.size() - 3, 3, "...") == 0) {
      pending += text.substr(0, text.size() - 3) + " ";
      continue;
    }
    pending += text;
    try {
      cases.push_back(parseCase(path, startLine, pending));
    } catch (const std::exception &error) {
      throw ParseError(path + ":" + std::to_string(startLine) + ": " + error.what());
    }
    pending.clear();
  }
  if (!pending.empty()) throw ParseError(path + ": the last case is continued past the end");
  return cases;
}

const Plugin &openPlugin(const char *folder, const char *name) {
  // A spin lock: opening is rare, and the Windows build's C++ runtime has no
  // std::mutex.
  static std::atomic_flag busy = ATOMIC_FLAG_INIT;
  static std::map<std::string, std::unique_ptr<Plugin>> opened;
  const std::string path = std::string(folder) + "/" + name + pluginSuffix();
  while (busy.test_and_set(std::memory_order_acquire)) {
  }
  std::unique_ptr<Plugin> &slot = opened[path];
  std::string why;
  if (!slot) slot = Plugin::open(path, &why);
  const Plugin *plugin = slot.get();
  if (plugin == nullptr) opened.erase(path);
  busy.clear(std::memory_order_release);
  if (plugin == nullptr) throw std::runtime_error(why);
  return *plugin;
}

const Plugin *PluginShelf::get(const std::string &name, std::string *why) {
  try {
    return &openPlugin(folder_.c_str(), name.c_str());
  } catch (const std::runtime_error &error) {
    *why = error.what();
    return nullptr;
  }
}

namespace {

// What same(REF) expects: REF called by the host with the case's inputs and
// one output, as expected outputs (one per output of the case) or an error.
bool referenceResult(Case *expectation, const std::vector<const mxArray *> &inputs,
                     std::vector<ArrayPtr> *expected, std::string *why) {
  mxArray *output = nullptr;
  try {
    if (!callFunction(expectation->sameAs, 1, &output, static_cast<int>(inputs.size()),
                      inputs.data())) {
      *why = "the host has no function " + expectation->sameAs;
      return false;
    }
  } catch (const MexError &error) {
    expectation->expectError = true;
    expectation->errorId = error.identifier;
    expectation->errorMessage = error.message;
    return true;
  }
  ArrayPtr reference(output);
  for (int i = 0; i < expectation->nargout; ++i) {
    expected->push_back(ArrayPtr(mxDuplicateArray(reference.get())));
  }
  return true;
}

}  // namespace

CaseOutcome runCase(const Case &givenCase, PluginShelf &shelf, const std::string &host) {
  Case testCase = givenCase;
  CaseOutcome outcome;
  auto failed = [&](const std::string &detail) {
    outcome.kind = CaseOutcome::Kind::failed;
    outcome.detail = detail;
    return outcome;
  };
  if (!testCase.hosts.empty()) {
    bool here = false;
    for (const std::string &h : testCase.hosts) here = here || h == host;
    if (!here) {
      outcome.kind = CaseOutcome::Kind::skipped;
      outcome.detail = "runs only in another host";
      return outcome;
    }
  }
  std::string why;
  const Plugin *plugin = shelf.get(testCase.call.name, &why);
  if (plugin == nullptr) return failed("cannot open plug-in " + testCase.call.name + ": " + why);
  std::vector<ArrayPtr> args;
  std::vector<const mxArray *> inputs;
  std::vector<ArrayPtr> expected;
  try {
    for (const std::string &text : testCase.call.args) {
      args.push_back(parseLiteral(text));
      inputs.push_back(args.back().get());
    }
    for (const std::string &text : testCase.expected) expected.push_back(parseLiteral(text));
  } catch (const ParseError &error) {
    return failed(std::string("bad literal: ") + error.what());
  }
  if (!testCase.sameAs.empty() && !referenceResult(&testCase, inputs, &expected, &why)) {
    return failed(why);
  }
  CallResult result = plugin->call(testCase.nargout, inputs);
  if (result.status == CallResult::Status::violation) {
    std::string detail = "contract violation:";
    for (const std::string &v : result.violations) detail += "\n  " + v;
    return failed(detail);
  }
  if (testCase.expectError) {
    if (result.status != CallResult::Status::error) return failed("expected an error, got outputs");
    if (result.identifier != testCase.errorId || result.message != testCase.errorMessage) {
      return failed("error differs\n  expected: (" + testCase.errorId + ") " +
                    testCase.errorMessage + "\n  actual:   (" + result.identifier + ") " +
                    result.message);
    }
    return outcome;
  }
  if (result.status == CallResult::Status::error) {
    return failed("unexpected error (" + result.identifier + ") " + result.message);
  }
  if (result.outputs.size() != expected.size()) {
    return failed("expected " + std::to_string(expected.size()) + " output(s), got " +
                  std::to_string(result.outputs.size()));
  }
  for (size_t i = 0; i < expected.size(); ++i) {
    if (!sameArray(expected[i].get(), result.outputs[i].get(), &why)) {
      return failed("output " + std::to_string(i + 1) + ": " + why);
    }
  }
  return outcome;
}

}  // namespace mexhost
