// generator.h: hostile argument lists for every gateway.
//
// An argument list is built from an entropy source: a seeded generator for
// the ctest driver, the fuzzer's input bytes for the libFuzzer target. Each
// slot a plug-in reads gets, most of the time, an argument shaped for that
// slot (a position list, a selector, a sparse matrix, an image...) that is
// valid or broken in one of the ways that hurt; otherwise an array of any
// class and shape the bundled host models, filled with values that hurt.
#ifndef TOOLBOX_FUZZ_GENERATOR_H
#define TOOLBOX_FUZZ_GENERATOR_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "mexhost.h"

namespace fuzz {

class Entropy {
 public:
  virtual ~Entropy() = default;
  virtual uint64_t next() = 0;
  uint64_t below(uint64_t n) { return n == 0 ? 0 : next() % n; }
  // True with the given probability; a draw of 0 (exhausted bytes) is false.
  bool chance(unsigned percent) { return below(100) + percent >= 100; }
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

class SeededEntropy : public Entropy {
 public:
  explicit SeededEntropy(uint64_t seed) : engine_(seed) {}
  uint64_t next() override { return engine_(); }

 private:
  std::mt19937_64 engine_;
};

// Reads the fuzzer's bytes; once they run out every draw is 0, which always
// picks the first, simplest option.
class ByteEntropy : public Entropy {
 public:
  ByteEntropy(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  uint64_t next() override;

 private:
  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
};

struct GeneratedCall {
  std::string plugin;
  int nargout = 1;
  std::vector<mexhost::ArrayPtr> args;
};

// The plug-ins the generator knows, in a fixed order.
const std::vector<std::string> &pluginNames();

GeneratedCall generateCall(Entropy &entropy, const std::string &plugin);

// The call as one line of MATLAB: "@nargout=N NAME(ARG, ...)", or an empty
// string when an argument's literal would be longer than maxLiteral.
std::string callText(const GeneratedCall &call, size_t maxLiteral);

// Array byte limit the drivers set so that constructor calls stay cheap.
constexpr size_t kFuzzArrayByteLimit = size_t(256) << 20;

}  // namespace fuzz

#endif
