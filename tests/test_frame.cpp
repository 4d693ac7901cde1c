#include <gtest/gtest.h>
#include "vexlib.h"
TEST(Frame, StatusTexts) { EXPECT_STREQ(vexErrorStr(0), "No Error"); }
