#include <gtest/gtest.h>

#include "tplforge/image.h"

TEST(Image, RowsAreWholeAndInOrder) {
    tplforge::Image image(3, 2);
    ASSERT_EQ(image.rgba.size(), 24u);
    image.row(1)[0] = 7;
    EXPECT_EQ(image.rgba[12], 7);
    EXPECT_EQ(image.row(1).size(), 12u);
}
