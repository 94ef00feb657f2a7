// lutpaint on an image of more than 2^30 elements: twice the element count,
// the offset of the blue plane, no longer fits a signed 32-bit integer, so
// every count and offset must be wide. About 1 GiB in and 3 GiB out; set
// TOOLBOX_SKIP_LARGE=1 to skip it on machines without that much memory
// (ctest label "large", so "ctest -LE large" leaves it out as well).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "casetools.h"

namespace {

using mexhost::ArrayPtr;
using mexhost::CallResult;

constexpr int kChannels = 3;
constexpr size_t kRows = 200;    // values 200 to 255 of the image take the last row
constexpr size_t kPeriod = 251;  // the image repeats with a period prime to every power of two

// The bytes of map row i: red i, green 255 - i, blue 37*i mod 256, all
// distinct per channel, stored as intensities byte/255.
unsigned rowByte(int channel, size_t row) {
  switch (channel) {
    case 0: return static_cast<unsigned>(row);
    case 1: return static_cast<unsigned>(255 - row);
    default: return static_cast<unsigned>((37 * row) % 256);
  }
}

TEST(LutpaintLarge, ImageAboveTwoToThe30ElementsFillsEveryPlaneToItsEnd) {
  const char *skip = std::getenv("TOOLBOX_SKIP_LARGE");
  if (skip != nullptr && std::strcmp(skip, "1") == 0) {
    GTEST_SKIP() << "TOOLBOX_SKIP_LARGE=1: the 4-GiB image test is skipped";
  }
  const size_t n = (size_t{1} << 30) + 4099;
  ArrayPtr image(mxCreateNumericMatrix_730(1, n, mxUINT8_CLASS, mxREAL));
  auto *x = static_cast<uint8_t *>(mxGetData(image.get()));
  for (size_t k = 0; k < n; ++k) x[k] = static_cast<uint8_t>(k % kPeriod);

  ArrayPtr map(mxCreateDoubleMatrix_730(kRows, kChannels, mxREAL));
  for (int c = 0; c < kChannels; ++c) {
    for (size_t i = 0; i < kRows; ++i) mxGetPr(map.get())[i + c * kRows] = rowByte(c, i) / 255.0;
  }

  const mexhost::Plugin &plugin = mexhost::openPlugin(TOOLBOX_PLUGIN_DIR, "lutpaint");
  CallResult r = plugin.call(1, {image.get(), map.get()});
  ASSERT_EQ(r.status, CallResult::Status::ok) << r.identifier << " " << r.message;
  const mxArray *rgb = r.outputs[0].get();
  ASSERT_EQ(mxGetNumberOfDimensions_730(rgb), 3u);
  const size_t *dims = mxGetDimensions_730(rgb);
  ASSERT_EQ(dims[0], 1u);
  ASSERT_EQ(dims[1], n);
  ASSERT_EQ(dims[2], 3u);

  // Every byte of every plane, up to the last ones beyond 2^30, 2^31 and
  // 3*2^30 bytes into the output.
  const auto *bytes = static_cast<const uint8_t *>(mxGetData(rgb));
  for (int c = 0; c < kChannels; ++c) {
    const uint8_t *plane = bytes + c * n;
    size_t wrong = 0, firstWrong = n;
    for (size_t k = 0; k < n; ++k) {
      size_t row = x[k] < kRows ? x[k] : kRows - 1;
      if (plane[k] != rowByte(c, row)) {
        if (wrong++ == 0) firstWrong = k;
      }
    }
    EXPECT_EQ(wrong, 0u) << "plane " << c + 1 << ": first wrong byte at element " << firstWrong;
  }
}

}  // namespace
