// Runs every case file in the bundled host, one GoogleTest test per case, so
// that a failure names the file and the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "casetools.h"

namespace {

class CaseTest : public testing::Test {
 public:
  CaseTest(mexhost::Case testCase, mexhost::PluginShelf *shelf)
      : case_(std::move(testCase)), shelf_(shelf) {}

  void TestBody() override {
    mexhost::CaseOutcome outcome = mexhost::runCase(case_, *shelf_, "bundled");
    if (outcome.kind == mexhost::CaseOutcome::Kind::skipped) {
      GTEST_SKIP() << outcome.detail;
    }
    EXPECT_EQ(outcome.kind, mexhost::CaseOutcome::Kind::passed)
        << case_.file << ":" << case_.line << ": " << case_.text << "\n"
        << outcome.detail;
  }

 private:
  mexhost::Case case_;
  mexhost::PluginShelf *shelf_;
};

}  // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  static mexhost::PluginShelf shelf(TOOLBOX_PLUGIN_DIR);
  std::vector<std::filesystem::path> files;
  for (const auto &entry : std::filesystem::directory_iterator(TOOLBOX_CASES_DIR)) {
    if (entry.path().extension() == ".cases") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto &file : files) {
    std::vector<mexhost::Case> cases;
    try {
      cases = mexhost::readCaseFile(file.string());
    } catch (const mexhost::ParseError &error) {
      std::cerr << error.what() << "\n";
      return 1;
    }
    for (const mexhost::Case &c : cases) {
      std::string suite = file.stem().string();
      std::string name = "line" + std::to_string(c.line);
      testing::RegisterTest(suite.c_str(), name.c_str(), nullptr, nullptr, c.file.c_str(), c.line,
                            [c]() -> testing::Test * { return new CaseTest(c, &shelf); });
    }
  }
  return RUN_ALL_TESTS();
}
