#include <gtest/gtest.h>

#include "core/OptionStatistics.h"

namespace kestrix {
namespace {

TEST(CumulativeNormal, ReferenceValues) {
    EXPECT_EQ(CumulativeNormal(0), 0.5000000005248084);
    EXPECT_EQ(CumulativeNormal(1), 0.8413447404368684);
    EXPECT_EQ(CumulativeNormal(-1), 0.15865525956313165);
    EXPECT_EQ(CumulativeNormal(2), 0.9772499379857481);
    EXPECT_EQ(NormalDensity(0), 0.39894228040143287);
}

}  // namespace
}  // namespace kestrix
