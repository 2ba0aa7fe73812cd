// The wizard's pictures at the scale of the display. A studio may bring
// each picture drawn for 150% and 200% display scale too, as bitmap
// resources under the 100% picture's id plus IDB_SCALED_150 and
// IDB_SCALED_200 (pages/resource.h); the wizard draws from the nearest at or
// above its scale, smoothly scaled down, and above the largest scales that
// one up.
#pragma once

#include "system/unique_handle.h"

#include <windows.h>

#include <cstdint>
#include <span>
#include <vector>

// A picture's pixels, rows top first, each 0xAARRGGBB.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> argb;
};

// The DIB format whose bits are laid out as Pixels' are.
inline BITMAPINFO PixelsFormat(int width, int height)
{
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(format.bmiHeader);
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    return format;
}

// The percent scale (100, 150, 200, as available lists them, ascending) to
// draw from at dpi: the smallest at or above dpi's own, else the largest;
// 0 when there is none.
int ChoosePictureScale(UINT dpi, std::span<const int> available);

// source at width x height. Each pixel is the mean of the source under it,
// weighted by a tent filter one pixel of the result wide when scaling down
// (so that no detail is dropped or aliased) and one source pixel wide when
// scaling up (bilinear, smooth). The same size gives the same pixels.
Pixels ResamplePixels(const Pixels& source, int width, int height);

// Bitmap baseId of module, width x height pixels at 96 DPI, drawn for dpi
// from the best of its scales, as a 32-bit DIB section a bitmap static can
// show. Empty when the bitmap is missing or cannot be made.
UniqueBitmap ScaledPicture(HINSTANCE module, int baseId, int width, int height, UINT dpi);
