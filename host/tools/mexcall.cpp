// mexcall: call a plug-in from the command line through the bundled host.
//
//   mexcall [--dir DIR] [--nargout N] [--literal] NAME 'ARG' ...
//   mexcall [--dir DIR] [--host NAME] --cases FILE...
//   mexcall --help
//
// Plug-ins are looked up in DIR, by default the folder holding mexcall.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>

#include <climits>
#endif

#include "casetools.h"

namespace {

constexpr int kExitHelp = 0;
constexpr int kExitError = 1;
constexpr int kExitViolation = 2;
constexpr int kExitUsage = 3;

std::string executableFolder() {
#if defined(_WIN32)
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text(path, length);
#else
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string text(path, length > 0 ? static_cast<size_t>(length) : 0);
#endif
  size_t slash = text.find_last_of("/\\");
  return slash == std::string::npos ? "." : text.substr(0, slash);
}

// Prints how to call mexcall: to stdout when asked for (--help), to stderr
// after a malformed command line. Returns the exit status.
int usage(std::ostream &out = std::cerr, int status = kExitUsage) {
  out << "usage: mexcall [--dir DIR] [--nargout N] [--literal] NAME 'ARG' ...\n"
         "       mexcall [--dir DIR] [--host NAME] --cases FILE...\n"
         "       mexcall --help\n"
         "Each ARG is a MATLAB literal such as '[1 2; 3 4]', 'uint8([0 1])', "
         "'sparse([1 0; 2 3])' or \"'text'\".\n";
  return status;
}

int runCaseFiles(const std::vector<std::string> &files, const std::string &folder,
                 const std::string &host) {
  mexhost::PluginShelf shelf(folder);
  int passed = 0, failed = 0, skipped = 0;
  for (const std::string &file : files) {
    std::vector<mexhost::Case> cases;
    try {
      cases = mexhost::readCaseFile(file);
    } catch (const mexhost::ParseError &error) {
      std::cerr << error.what() << "\n";
      ++failed;
      continue;
    }
    for (const mexhost::Case &c : cases) {
      mexhost::CaseOutcome outcome = mexhost::runCase(c, shelf, host);
      switch (outcome.kind) {
        case mexhost::CaseOutcome::Kind::passed: ++passed; break;
        case mexhost::CaseOutcome::Kind::skipped: ++skipped; break;
        case mexhost::CaseOutcome::Kind::failed:
          ++failed;
          std::cout << c.file << ":" << c.line << ": FAILED " << c.text << "\n  " << outcome.detail
                    << "\n";
          break;
      }
    }
  }
  std::cout << passed << " passed, " << failed << " failed";
  if (skipped > 0) std::cout << " (" << skipped << " skipped: they run only in another host)";
  std::cout << "\n";
  return failed == 0 ? 0 : kExitError;
}

}  // namespace

int main(int argc, char **argv) {
  std::string folder = executableFolder();
  std::string host =
#if defined(_WIN32)
      "windows";
#else
      "bundled";
#endif
  int nargout = 1;
  bool literal = false;
  int i = 1;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
    std::string option = argv[i];
    if (option == "--help") return usage(std::cout, kExitHelp);
    if (option == "--cases") {
      return runCaseFiles(std::vector<std::string>(argv + i + 1, argv + argc), folder, host);
    }
    if (i + 1 >= argc && option != "--literal") return usage();
    if (option == "--dir") {
      folder = argv[++i];
    } else if (option == "--host") {
      host = argv[++i];
    } else if (option == "--nargout") {
      nargout = std::atoi(argv[++i]);
    } else if (option == "--literal") {
      literal = true;
    } else {
      return usage();
    }
  }
  if (i >= argc) return usage();
  std::string name = argv[i++];
  std::vector<mexhost::ArrayPtr> args;
  std::vector<const mxArray *> inputs;
  try {
    for (; i < argc; ++i) {
      args.push_back(mexhost::parseLiteral(argv[i]));
      inputs.push_back(args.back().get());
    }
  } catch (const mexhost::ParseError &error) {
    std::cerr << "mexcall: " << error.what() << "\n";
    return kExitUsage;
  }
  std::string why;
  mexhost::PluginShelf shelf(folder);
  const mexhost::Plugin *plugin = shelf.get(name, &why);
  if (plugin == nullptr) {
    std::cerr << "mexcall: cannot open " << name << ": " << why << "\n";
    return kExitUsage;
  }
  mexhost::CallResult result = plugin->call(nargout, inputs);
  switch (result.status) {
    case mexhost::CallResult::Status::error:
      std::cerr << "error";
      if (!result.identifier.empty()) std::cerr << " (" << result.identifier << ")";
      std::cerr << ": " << result.message << "\n";
      return kExitError;
    case mexhost::CallResult::Status::violation:
      std::cerr << "contract violation in " << name << ":\n";
      for (const std::string &v : result.violations) std::cerr << "  " << v << "\n";
      return kExitViolation;
    case mexhost::CallResult::Status::ok: break;
  }
  for (size_t k = 0; k < result.outputs.size(); ++k) {
    std::string label = nargout == 0 ? "ans" : "out" + std::to_string(k + 1);
    if (literal) {
      std::cout << mexhost::toLiteral(result.outputs[k].get()) << "\n";
    } else {
      std::cout << mexhost::display(label, result.outputs[k].get());
    }
  }
  return 0;
}
