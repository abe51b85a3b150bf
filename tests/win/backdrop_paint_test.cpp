// The backdrop painted into bitmaps of the sizes a desktop may have: bands
// of blue rising from black, and the title where it belongs.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "ui/ui.h"

namespace {

// A top-down 32-bit bitmap in a memory context, painted by the backdrop.
struct Canvas {
    HDC dc = NULL;
    HBITMAP bitmap = NULL;
    HGDIOBJ previous = NULL;
    uint32_t* pixels = NULL;
    int width = 0;
    int height = 0;

    bool Paint(int w, int h) {
        width = w;
        height = h;
        BITMAPINFO info;
        memset(&info, 0, sizeof info);
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc = CreateCompatibleDC(NULL);
        void* bits = NULL;
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, NULL, 0);
        if (!dc || !bitmap) return false;
        pixels = static_cast<uint32_t*>(bits);
        // Something the gradient must paint over everywhere.
        for (int i = 0; i < w * h; i++) pixels[i] = 0x00FF00;
        previous = SelectObject(dc, bitmap);
        RECT client = {0, 0, w, h};
        PaintBackdropContent(dc, &client);
        GdiFlush();
        return true;
    }
    // 0xRRGGBB
    uint32_t At(int x, int y) const { return pixels[y * width + x] & 0xFFFFFF; }
    ~Canvas() {
        if (previous) SelectObject(dc, previous);
        if (bitmap) DeleteObject(bitmap);
        if (dc) DeleteDC(dc);
    }
};

// Left of one eighth of the width there is never text: each row there shows
// its band's colour.
void ExpectGradient(int height, int bandHeight, int lastBlue) {
    SCOPED_TRACE("client height " + std::to_string(height));
    Canvas canvas;
    ASSERT_TRUE(canvas.Paint(64, height));
    for (int y = 0; y < height; y++) {
        uint32_t blue = static_cast<uint32_t>(y / bandHeight < 255 ? y / bandHeight : 255);
        ASSERT_EQ(blue, canvas.At(0, y)) << "row " << y;
        ASSERT_EQ(canvas.At(0, y), canvas.At(7, y)) << "row " << y << " is one colour across";
    }
    EXPECT_EQ(static_cast<uint32_t>(lastBlue), canvas.At(0, height - 1));
}

TEST(Backdrop, GradientBandsFollowTheClientHeight) {
    ExpectGradient(768, 3, 255);  // 256 bands, the last one ends at the bottom
    ExpectGradient(600, 2, 255);  // full blue from band 255 on
    ExpectGradient(480, 1, 255);  // rows from 256 on are all full blue
    ExpectGradient(200, 1, 199);  // the gradient stops short of full blue
    ExpectGradient(767, 2, 255);  // a shift, not a division by 255
    ExpectGradient(1, 1, 0);
}

TEST(Backdrop, TitleStandsAtOneEighthOfWidthAndHeightInWhite) {
    char title[128];
    EXPECT_EQ(25, BuildTitle(title));
    EXPECT_STREQ("ZT Quorvanel Lite  V.2.21", title);

    Canvas canvas;
    ASSERT_TRUE(canvas.Paint(1024, 768));
    int left = 1024, top = 768, right = -1, bottom = -1, white = 0;
    for (int y = 0; y < 768; y++) {
        for (int x = 0; x < 1024; x++) {
            uint32_t c = canvas.At(x, y);
            if ((c >> 8) == 0) continue;  // pure blue of some band
            left = x < left ? x : left;
            right = x > right ? x : right;
            top = y < top ? y : top;
            bottom = y > bottom ? y : bottom;
            white += c == 0xFFFFFF;
        }
    }
    ASSERT_GT(white, 200) << "no white title";
    // The text cell starts at 128, 96; glyphs start at or a little inside it.
    EXPECT_GE(left, 128);
    EXPECT_LE(left, 140);
    EXPECT_GE(top, 96);
    EXPECT_LE(top, 96 + 16);
    // One line of letters of 24 points at 96 pixels per inch (32 pixels).
    EXPECT_LT(bottom - top, 40);
    EXPECT_GT(right - left, 200);
}

}  // namespace
