// The "WxH" parser, and that every program that takes a size answers through it alike.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "hosts/core/SizeArgument.h"
#include "programs/nimbrel/RenderCommand.h"
#include "programs/nimbrel/SaverOptions.h"
#include "sources/PreferenceTable.h"

using namespace nimbrel;
using namespace nimbrel::host;
using namespace nimbrel::saver;
using namespace graphics;
using namespace services;
using namespace sheet;

namespace {

struct SizeCase {
  std::string text;
  std::optional<SizeArgument> expected;
};

TEST(SizeArgument, EveryProgramTakesExactlyThePlainSizes) {
  std::vector<SizeCase> cases = {
      {"1x1", SizeArgument{1, 1}},
      {"800x600", SizeArgument{800, 600}},
      {"1X5", SizeArgument{1, 5}},
      {"16384x16384", SizeArgument{16384, 16384}},  // the largest side
      {"16384x1", SizeArgument{16384, 1}},
      {"007x010", SizeArgument{7, 10}},
  };
  // Past the largest side, and past every integer type: refused, never wrapped round.
  std::vector<std::string> refused = {"4294967297x1", "1x4294967297", "4294967296x4294967296",
                                      "18446744073709551617x1", "99999999999999999999x1"};
  refused.insert(refused.end(), {"16385x1", "1x16385", "0x5",  "5x0",   "-1x5", "5x-1",  "+1x5",
                                 "1x+5",    " 1x5",    "1x5 ", "1 x5",  "1x 5", "x5",    "5x",
                                 "x",       "5",       "",     "1x5x3", "1xx5", "1.5x5", "0x10x5"});
  refused.emplace_back("1x5\0", 4);
  for (const std::string& text : refused) cases.push_back({text, std::nullopt});
  for (const SizeCase& c : cases) {
    SCOPED_TRACE("size '" + c.text + "'");
    const std::optional<SizeArgument> got = parseSizeArgument(c.text, kMaxViewSide);
    ASSERT_EQ(got.has_value(), c.expected.has_value());
    if (got) {
      EXPECT_EQ(got->width, c.expected->width);
      EXPECT_EQ(got->height, c.expected->height);
    }

    const SaverParse saver =
        parseSaverArguments(kSettingDescriptions, {"--window", c.text}, std::nullopt);
    const RenderParse render =
        parseRenderArguments(kSettingDescriptions, {"-o", "never-written.png", "--size", c.text});
    if (c.expected) {
      ASSERT_TRUE(saver.options) << saver.message;
      EXPECT_EQ(saver.options->width, c.expected->width);
      EXPECT_EQ(saver.options->height, c.expected->height);
      ASSERT_TRUE(render.options) << render.message;
      EXPECT_EQ(render.options->width, c.expected->width);
      EXPECT_EQ(render.options->height, c.expected->height);
    } else {
      // Refused by both, with status 2 and one line naming the size.
      for (const auto* refused : {&saver.message, &render.message}) {
        EXPECT_EQ(refused->find('\n'), std::string::npos) << *refused;
        EXPECT_NE(refused->find("size"), std::string::npos) << *refused;
      }
      EXPECT_FALSE(saver.options);
      EXPECT_EQ(saver.status, 2);
      EXPECT_FALSE(render.options);
      EXPECT_EQ(render.status, 2);
    }
  }
}

TEST(SizeArgument, TheCallerSetsTheLargestSide) {
  EXPECT_TRUE(parseSizeArgument("100x100", 100));
  EXPECT_FALSE(parseSizeArgument("101x100", 100));
  EXPECT_FALSE(parseSizeArgument("100x101", 100));
  EXPECT_FALSE(parseSizeArgument("1x1", 0));
  // The bound applies before narrowing to int.
  EXPECT_FALSE(parseSizeArgument("2147483648x1", 2147483647));
  EXPECT_TRUE(parseSizeArgument("2147483647x1", 2147483647));
}

// The canvas limits apply to device pixels, each side rounded up: a view passes exactly when
// its canvas is at most 32767 pixels a side and 2^28 pixels in all.
TEST(SizeArgument, TheCanvasLimitsApplyToDevicePixels) {
  struct Fit {
    SizeArgument size;
    double scale;
    bool fits;
  };
  const Fit cases[] = {
      {{16384, 16384}, 1.0, true},  // 2^28 pixels exactly
      {{16384, 16384}, 1.0001, false}, {{16385, 16384}, 1.0, false},
      {{32767, 8192}, 1.0, true},  // the longest side, under 2^28 pixels
      {{32768, 1}, 1.0, false},        {{16384, 1}, 2.0, false},  // 32768 device pixels
      {{16383, 1}, 2.0, true},         {{21845, 1}, 1.5, false},  // 32767.5, rounded up
      {{32767, 1}, 1.00001, false},                               // 32767.3, rounded up
      {{1, 1}, 0.0001, true},
  };
  for (const Fit& c : cases) {
    EXPECT_EQ(fitsCanvas(c.size, c.scale), c.fits)
        << c.size.width << "x" << c.size.height << " at " << c.scale;
  }
}

}  // namespace
