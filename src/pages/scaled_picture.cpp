#include "pages/scaled_picture.h"

#include "framework/display_scale.h"
#include "pages/resource.h"

#include <algorithm>
#include <cmath>
#include <cstring>

static_assert(IDB_SIDE_PICTURE_200 == IDB_SIDE_PICTURE + IDB_SCALED_200 &&
                  IDB_HEADER_PICTURE_200 == IDB_HEADER_PICTURE + IDB_SCALED_200 &&
                  IDB_FOLDER_PICTURE_200 == IDB_FOLDER_PICTURE + IDB_SCALED_200,
              "the resource script names the larger pictures by their ids");

namespace {

struct Scale {
    int percent;
    int idOffset;
};
constexpr Scale kScales[] = {{100, 0}, {150, IDB_SCALED_150}, {200, IDB_SCALED_200}};

// For each pixel of a line of target pixels, the first source pixel it
// takes from and the weights of it and those after.
struct Taps {
    int first = 0;
    std::vector<float> weights;
};

std::vector<Taps> TentTaps(int sourceSize, int targetSize)
{
    const double ratio = static_cast<double>(targetSize) / sourceSize;
    // The tent's half width in source pixels.
    const double radius = ratio < 1.0 ? 1.0 / ratio : 1.0;
    std::vector<Taps> taps(static_cast<size_t>(targetSize));
    for (int i = 0; i < targetSize; ++i) {
        const double centre = (i + 0.5) / ratio;
        const int first = std::max(0, static_cast<int>(std::floor(centre - radius)));
        const int last = std::min(sourceSize - 1, static_cast<int>(std::ceil(centre + radius)));
        Taps& tap = taps[static_cast<size_t>(i)];
        tap.first = first;
        double total = 0.0;
        for (int j = first; j <= last; ++j) {
            const double weight = std::max(0.0, 1.0 - std::abs(j + 0.5 - centre) / radius);
            tap.weights.push_back(static_cast<float>(weight));
            total += weight;
        }
        for (float& weight : tap.weights)
            weight = static_cast<float>(weight / total);
    }
    return taps;
}

// One pass along rows (step 1) or columns (step width): count lines of
// the source's pixels, each resampled by taps.
void ResampleLines(const float* source, float* target, const std::vector<Taps>& taps, int lines,
                   int sourceLineStep, int sourcePixelStep, int targetLineStep, int targetPixelStep)
{
    for (int line = 0; line < lines; ++line) {
        for (size_t i = 0; i < taps.size(); ++i) {
            float sum[4] = {};
            const Taps& tap = taps[i];
            for (size_t k = 0; k < tap.weights.size(); ++k) {
                const float* pixel =
                    source + 4 * (line * sourceLineStep + (tap.first + static_cast<int>(k)) * sourcePixelStep);
                for (int c = 0; c < 4; ++c)
                    sum[c] += pixel[c] * tap.weights[k];
            }
            float* out = target + 4 * (line * targetLineStep + static_cast<int>(i) * targetPixelStep);
            std::memcpy(out, sum, sizeof(sum));
        }
    }
}

}  // namespace

int ChoosePictureScale(UINT dpi, std::span<const int> available)
{
    for (const int percent : available) {
        if (percent * static_cast<int>(framework::kDefaultDpi) >= static_cast<int>(dpi) * 100)
            return percent;
    }
    return available.empty() ? 0 : available.back();
}

Pixels ResamplePixels(const Pixels& source, int width, int height)
{
    if (width == source.width && height == source.height)
        return source;
    Pixels result{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height)};
    if (source.width <= 0 || source.height <= 0 || width <= 0 || height <= 0)
        return result;
    std::vector<float> channels(source.argb.size() * 4);
    for (size_t i = 0; i < source.argb.size(); ++i) {
        for (int c = 0; c < 4; ++c)
            channels[4 * i + c] = static_cast<float>((source.argb[i] >> (8 * c)) & 0xFF);
    }
    // Across first, into width x source.height; then down.
    std::vector<float> across(static_cast<size_t>(width) * source.height * 4);
    ResampleLines(channels.data(), across.data(), TentTaps(source.width, width), source.height, source.width, 1,
                  width, 1);
    std::vector<float> down(static_cast<size_t>(width) * height * 4);
    ResampleLines(across.data(), down.data(), TentTaps(source.height, height), width, 1, width, 1, width);
    for (size_t i = 0; i < result.argb.size(); ++i) {
        uint32_t pixel = 0;
        for (int c = 0; c < 4; ++c) {
            const long value = std::lround(down[4 * i + c]);
            pixel |= static_cast<uint32_t>(std::clamp(value, 0L, 255L)) << (8 * c);
        }
        result.argb[i] = pixel;
    }
    return result;
}

UniqueBitmap ScaledPicture(HINSTANCE module, int baseId, int width, int height, UINT dpi)
{
    std::vector<int> available;
    for (const Scale& scale : kScales) {
        if (::FindResourceW(module, MAKEINTRESOURCEW(baseId + scale.idOffset), MAKEINTRESOURCEW(2)))
            available.push_back(scale.percent);
    }
    const int percent = ChoosePictureScale(dpi, available);
    const auto chosen = std::find_if(std::begin(kScales), std::end(kScales),
                                     [percent](const Scale& scale) { return scale.percent == percent; });
    if (chosen == std::end(kScales))
        return {};
    UniqueBitmap loaded(static_cast<HBITMAP>(::LoadImageW(module, MAKEINTRESOURCEW(baseId + chosen->idOffset),
                                                          IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    BITMAP shape{};
    if (!loaded || !::GetObjectW(loaded.get(), sizeof(shape), &shape) || shape.bmWidth <= 0 || shape.bmHeight <= 0)
        return {};
    // 32 bits, rows top first, whatever the resource's own format.
    BITMAPINFO format = PixelsFormat(shape.bmWidth, shape.bmHeight);
    Pixels source{shape.bmWidth, shape.bmHeight, std::vector<uint32_t>(static_cast<size_t>(shape.bmWidth) * shape.bmHeight)};
    HDC dc = ::CreateCompatibleDC(nullptr);
    if (!dc)
        return {};
    const int rows = ::GetDIBits(dc, loaded.get(), 0, static_cast<UINT>(shape.bmHeight), source.argb.data(), &format,
                                 DIB_RGB_COLORS);
    ::DeleteDC(dc);
    if (rows != shape.bmHeight)
        return {};
    // Opaque, whatever the resource's format left in the fourth byte.
    for (uint32_t& pixel : source.argb)
        pixel |= 0xFF000000u;
    const Pixels scaled =
        ResamplePixels(source, framework::ScaleForDpi(width, dpi), framework::ScaleForDpi(height, dpi));
    format = PixelsFormat(scaled.width, scaled.height);
    void* bits = nullptr;
    UniqueBitmap result(::CreateDIBSection(nullptr, &format, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!result || !bits)
        return {};
    std::memcpy(bits, scaled.argb.data(), scaled.argb.size() * sizeof(uint32_t));
    return result;
}
