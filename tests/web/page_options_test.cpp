// The page's address: ?size=, ?frames= and ?band-ms=, read strictly.
#include "page_options.h"

#include <gtest/gtest.h>

TEST(WebPageOptions, DefaultsAndGoodValues) {
  PageOptions o;
  std::string error;
  ASSERT_TRUE(parsePageOptions(nullptr, nullptr, nullptr, o, error));
  EXPECT_EQ(o.width, 1920u);
  EXPECT_EQ(o.height, 1080u);
  EXPECT_EQ(o.frames, maxPageFrames);
  EXPECT_EQ(o.bandMs, 20u);
  ASSERT_TRUE(parsePageOptions("960X540", "64", "50", o, error));
  EXPECT_EQ(o.width, 960u);
  EXPECT_EQ(o.height, 540u);
  EXPECT_EQ(o.frames, 64u);
  EXPECT_EQ(o.bandMs, 50u);
}

TEST(WebPageOptions, BadValuesAreNamed) {
  struct Case {
    const char *size, *frames, *bandMs, *says;
  };
  for (const Case &c :
       {Case{"960", nullptr, nullptr, "WIDTHxHEIGHT"},
        Case{"960x", nullptr, nullptr, "WIDTHxHEIGHT"},
        Case{" 960x540", nullptr, nullptr, "WIDTHxHEIGHT"},
        Case{"960x540x2", nullptr, nullptr, "WIDTHxHEIGHT"},
        Case{"-960x540", nullptr, nullptr, "WIDTHxHEIGHT"},
        Case{"0x540", nullptr, nullptr, "at least 1"},
        Case{"2000000x10", nullptr, nullptr, "limit"},
        Case{"99999999999x1", nullptr, nullptr, "WIDTHxHEIGHT"},
        Case{nullptr, "0", nullptr, "1 to 131072"}, Case{nullptr, "131073", nullptr, "1 to 131072"},
        Case{nullptr, "1e3", nullptr, "1 to 131072"}, Case{nullptr, "", nullptr, "1 to 131072"},
        Case{nullptr, nullptr, "0", "1 to 1000"}, Case{nullptr, nullptr, "1001", "1 to 1000"}}) {
    PageOptions o;
    std::string error;
    EXPECT_FALSE(parsePageOptions(c.size, c.frames, c.bandMs, o, error));
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
  PageOptions o;
  std::string error;
  EXPECT_TRUE(parsePageOptions(nullptr, "131072", "1000", o, error));
}

TEST(WebPageOptions, RepeatsNulsAndOverlongValuesAreRefused) {
  struct Case {
    PageParam size;
    const char *says;
  };
  for (const Case &c : {Case{{2, "16x9"}, "size is given 2 times"},
                        Case{{1, std::string("16x9\0junk", 9)}, "NUL character"},
                        Case{{1, std::string(5000, '9')}, "5000 characters long"}}) {
    PageOptions o;
    std::string error;
    EXPECT_FALSE(parsePageOptions(c.size, {}, {}, o, error)) << c.says;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_LT(error.size(), 120u) << error;
  }
  PageOptions o;
  std::string error;
  EXPECT_TRUE(parsePageOptions({1, "16x9"}, {}, {1, "50"}, o, error)) << error;
  EXPECT_EQ(o.width, 16u);
  EXPECT_EQ(o.bandMs, 50u);
}
