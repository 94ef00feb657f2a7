// Every built plug-in exports exactly mexFunction and
// mexfilerequiredapiversion, both under the version node MEX, and reports the
// version words its build promises. Octave plug-ins built against Octave 10
// or later also export the SOVERSION marker Octave loads them by.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Expected {
  std::string name;
  unsigned apiWord;
};

// "name=word,name=word" from the build.
std::vector<Expected> expectedPlugins() {
  std::vector<Expected> list;
  std::stringstream in(TOOLBOX_PLUGIN_LIST);
  std::string item;
  while (std::getline(in, item, ',')) {
    size_t eq = item.find('=');
    list.push_back(
        {item.substr(0, eq), static_cast<unsigned>(std::stoul(item.substr(eq + 1), nullptr, 0))});
  }
  return list;
}

// The defined dynamic symbols of a shared object, as readelf names them.
std::set<std::string> definedSymbols(const std::string &path) {
  std::set<std::string> names;
  std::string command = "readelf --dyn-syms -W '" + path + "'";
  FILE *pipe = popen(command.c_str(), "r");
  EXPECT_NE(pipe, nullptr);
  if (pipe == nullptr) return names;
  char line[4096];
  while (fgets(line, sizeof line, pipe) != nullptr) {
    std::istringstream fields(line);
    std::string num, value, size, type, bind, vis, ndx, name;
    if (!(fields >> num >> value >> size >> type >> bind >> vis >> ndx >> name)) continue;
    if (num.back() != ':' || ndx == "UND") continue;
    if (bind == "GLOBAL" || bind == "WEAK" || bind == "UNIQUE") names.insert(name + " " + type);
  }
  EXPECT_EQ(pclose(pipe), 0) << command;
  return names;
}

const std::set<std::string> kContract = {"mexFunction@@MEX FUNC",
                                         "mexfilerequiredapiversion@@MEX FUNC",
                                         "MEX OBJECT"};  // the version node's own marker

void checkExports(const std::string &path) {
  ASSERT_TRUE(std::filesystem::exists(path)) << path;
  EXPECT_EQ(definedSymbols(path), kContract) << path;
}

TEST(Exports, BundledPluginsExportOnlyTheContract) {
  for (const Expected &e : expectedPlugins()) {
    checkExports(std::string(TOOLBOX_BUNDLED_DIR) + "/" + e.name + ".mexa64");
  }
}

TEST(Exports, OctavePluginsExportOnlyTheContract) {
  if (std::string(TOOLBOX_OCTAVE_DIR).empty()) GTEST_SKIP() << "no Octave build";
  std::set<std::string> expected = kContract;
  if (std::string(TOOLBOX_OCTAVE_MEX_SOVERSION).empty()) {
    std::cout << "Octave before 10: no SOVERSION marker expected\n";
  } else {
    expected.insert("__octave_mex_soversion__@@MEX OBJECT");
  }
  for (const Expected &e : expectedPlugins()) {
    const std::string path = std::string(TOOLBOX_OCTAVE_DIR) + "/" + e.name + ".mex";
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    EXPECT_EQ(definedSymbols(path), expected) << path;
  }
}

TEST(Exports, PluginsReportTheirVersionWords) {
  ASSERT_FALSE(expectedPlugins().empty());
  for (const Expected &e : expectedPlugins()) {
    std::string path = std::string(TOOLBOX_BUNDLED_DIR) + "/" + e.name + ".mexa64";
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    using Version = void (*)(unsigned *, unsigned *);
    auto version = reinterpret_cast<Version>(dlsym(handle, "mexfilerequiredapiversion"));
    ASSERT_NE(version, nullptr) << path;
    unsigned release = 0, api = 0;
    version(&release, &api);
    EXPECT_EQ(release, 0x0002016Bu) << e.name;
    EXPECT_EQ(api, e.apiWord) << e.name;
    dlclose(handle);
  }
}

}  // namespace
