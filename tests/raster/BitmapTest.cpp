#include "Graphics.h"

#include <gtest/gtest.h>

TEST(Bitmap, NewBitmapIsEmptyDevice) {
    TBitmap b;
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.PixelFormat(), pfDevice);
}
