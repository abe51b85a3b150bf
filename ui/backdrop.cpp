// What the backdrop shows: a gradient from black at the top to blue, in
// bands, with the product title in large white letters.
#include <string.h>

#include "ui/ui.h"

const char SuccessMessage[] = QV_SUCCESS_MESSAGE;

namespace {

const char kVersion[] = "2.21";

// Fixed but for the height, which follows the paint context's resolution.
LOGFONTA TitleFont = {
    0,                          // lfHeight, set before each use
    0, 0, 0,                    // width, escapement, orientation
    FW_NORMAL,                  // 400
    0, 0, 0,                    // italic, underline, strike-out
    ANSI_CHARSET,               // 0
    OUT_STRING_PRECIS,          // 1
    CLIP_STROKE_PRECIS,         // 2
    DRAFT_QUALITY,              // 1
    VARIABLE_PITCH | FF_SWISS,  // 0x22
    "MS Sans Serif"};

}  // namespace

int BuildTitle(char* title) {
    static const char kBeforeVersion[] = "  V.";
    char* p = title;
    memcpy(p, SuccessMessage, kProductNameLength);
    p += kProductNameLength;
    memcpy(p, kBeforeVersion, sizeof kBeforeVersion - 1);
    p += sizeof kBeforeVersion - 1;
    memcpy(p, kVersion, sizeof kVersion);
    return static_cast<int>(p - title) + static_cast<int>(sizeof kVersion) - 1;
}

void PaintBackdropContent(HDC dc, const RECT* client) {
    int height = client->bottom - client->top;
    int width = client->right - client->left;

    // 256 bands from black to full blue over the client height; below 256
    // pixels one pixel per band, so a low window stops short of full blue,
    // and a tall one ends in full-blue bands.
    int band = height >> 8;
    if (band == 0) band = 1;
    RECT stripe;
    stripe.left = client->left;
    stripe.right = client->right;
    for (int y = client->top, i = 0; y < client->bottom; y += band, ++i) {
        stripe.top = y;
        stripe.bottom = y + band;
        HBRUSH brush = CreateSolidBrush(static_cast<COLORREF>(i < 255 ? i : 255) << 16);
        if (brush) {
            FillRect(dc, &stripe, brush);
            DeleteObject(brush);
        }
    }

    TitleFont.lfHeight = MulDiv(-24, GetDeviceCaps(dc, LOGPIXELSY), 72);
    HFONT font = CreateFontIndirectA(&TitleFont);
    if (!font) return;
    HGDIOBJ previous = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0xFF, 0xFF, 0xFF));
    char title[128];
    int length = BuildTitle(title);
    TextOutA(dc, width >> 3, height >> 3, title, length);
    // The context's own font goes back in before ours is deleted.
    SelectObject(dc, previous);
    DeleteObject(font);
}
