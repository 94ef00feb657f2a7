// show_calls: prints each call of a quick-start list and its result through
// the bundled host, as typed at a MATLAB prompt.
//
//   show_calls PLUGIN_DIR CALLS_FILE
//
// Lines starting with % are printed as they stand; every other line is a
// statement "OUT = NAME(ARG, ...)" or "[OUT1, OUT2] = NAME(ARG, ...)" whose
// arguments are MATLAB literals. Each output is displayed under its name.
// Exits with status 1 at the first call that fails.
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "casetools.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

std::string trim(const std::string &text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The output names of "OUT = ..." or "[OUT1, OUT2] = ...", and the call
// after the "=".
bool splitStatement(const std::string &statement, std::vector<std::string> *outputs,
                    std::string *call) {
  const size_t equals = statement.find(" = ");
  if (equals == std::string::npos) return false;
  std::string left = trim(statement.substr(0, equals));
  if (!left.empty() && left.front() == '[' && left.back() == ']') {
    left = left.substr(1, left.size() - 2);
  }
  for (const std::string &name : mexhost::splitTopLevel(left, ',')) outputs->push_back(trim(name));
  *call = trim(statement.substr(equals + 3));
  return !outputs->empty();
}

// Runs one statement and prints its outputs; false (with the reason
// printed) when it cannot run or the call fails.
bool showStatement(const std::string &statement, mexhost::PluginShelf &shelf) {
  std::cout << ">> " << statement << "\n";
  std::vector<std::string> outputs;
  std::string callText;
  if (!splitStatement(statement, &outputs, &callText)) {
    std::cout << "cannot read the statement: expected OUT = NAME(ARG, ...)\n";
    return false;
  }
  std::vector<mexhost::ArrayPtr> args;
  std::vector<const mxArray *> inputs;
  std::string why;
  try {
    const mexhost::CallText call = mexhost::splitCall(callText);
    for (const std::string &arg : call.args) {
      args.push_back(mexhost::parseLiteral(arg));
      inputs.push_back(args.back().get());
    }
    const mexhost::Plugin *plugin = shelf.get(call.name, &why);
    if (plugin == nullptr) {
      std::cout << "cannot open " << call.name << ": " << why << "\n";
      return false;
    }
    const mexhost::CallResult result = plugin->call(static_cast<int>(outputs.size()), inputs);
    if (result.status != mexhost::CallResult::Status::ok) {
      std::cout << "error (" << result.identifier << "): " << result.message << "\n";
      for (const std::string &violation : result.violations) std::cout << "  " << violation << "\n";
      return false;
    }
    for (size_t k = 0; k < outputs.size(); ++k) {
      std::cout << mexhost::display(outputs[k], result.outputs[k].get());
    }
  } catch (const mexhost::ParseError &error) {
    std::cout << "cannot read the call: " << error.what() << "\n";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::cerr << "usage: show_calls PLUGIN_DIR CALLS_FILE\n";
    return kExitUsage;
  }
  std::ifstream file(argv[2]);
  if (!file) {
    std::cerr << "show_calls: cannot read " << argv[2] << "\n";
    return kExitUsage;
  }
  mexhost::PluginShelf shelf(argv[1]);
  std::string line;
  while (std::getline(file, line)) {
    line = trim(line);
    if (line.empty()) continue;
    if (line.front() == '%') {
      std::cout << "\n" << line << "\n";
      continue;
    }
    if (!showStatement(line, shelf)) return kExitFailed;
  }
  return 0;
}
