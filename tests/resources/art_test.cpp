// The pictures and the icon as Windows sees them once they are resources of
// a program: the stored formats, what LoadImage and a bitmap static control
// make of them, and the side picture's pixels after GDI has decoded its
// run-length code.
#include "support/test_support.h"

#include <windows.h>

#include <string>
#include <vector>

using namespace testing_support;

namespace {

struct Picture {
    int id;
    LONG width;
    LONG height;
    WORD bits;
    DWORD compression;
};

constexpr Picture kPictures[] = {
    {129, 164, 290, 8, BI_RGB},
    {131, 53, 49, 32, BI_RGB},
    {132, 25, 34, 24, BI_RGB},
    // The same for 200% display scale.
    {2129, 328, 580, 8, BI_RGB},
    {2131, 106, 98, 32, BI_RGB},
    {2132, 50, 68, 24, BI_RGB},
};

// The resource's bytes: a BITMAPINFOHEADER, the colour table, the pixels.
std::string ResourceBytes(int id, const wchar_t* type)
{
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!found)
        return {};
    const void* data = ::LockResource(::LoadResource(module, found));
    return std::string(static_cast<const char*>(data), ::SizeofResource(module, found));
}

TEST(Art, BitmapsAreStoredInTheirFormats)
{
    for (const Picture& picture : kPictures) {
        SCOPED_TRACE(picture.id);
        const std::string bytes = ResourceBytes(picture.id, MAKEINTRESOURCEW(2));  // RT_BITMAP
        ASSERT_GE(bytes.size(), sizeof(BITMAPINFOHEADER));
        BITMAPINFOHEADER header;
        memcpy(&header, bytes.data(), sizeof(header));
        EXPECT_EQ(header.biSize, sizeof(BITMAPINFOHEADER));
        EXPECT_EQ(header.biWidth, picture.width);
        EXPECT_EQ(header.biHeight, picture.height);  // bottom-up, as a compressed bitmap must be
        EXPECT_EQ(header.biBitCount, picture.bits);
        EXPECT_EQ(header.biCompression, picture.compression);
        const size_t table = picture.bits == 8 ? header.biClrUsed * sizeof(RGBQUAD) : 0;
        if (picture.bits == 8) {
            EXPECT_GE(header.biClrUsed, 2u);
            EXPECT_LE(header.biClrUsed, 256u);
        } else {
            EXPECT_EQ(header.biClrUsed, 0u);
        }
        // The stated size of the pixel data is what follows the table.
        EXPECT_EQ(header.biSizeImage, bytes.size() - sizeof(header) - table);
        if (picture.compression == BI_RGB) {
            const size_t stride = (static_cast<size_t>(picture.width) * picture.bits / 8 + 3) & ~size_t(3);
            EXPECT_EQ(header.biSizeImage, stride * picture.height);
        }
    }
}

TEST(Art, BitmapsLoadWithTheirSizesAndDepths)
{
    for (const Picture& picture : kPictures) {
        SCOPED_TRACE(picture.id);
        HBITMAP bitmap = static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(picture.id),
                                                           IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        ASSERT_NE(bitmap, nullptr) << ::GetLastError();
        DIBSECTION section = {};
        ASSERT_EQ(::GetObjectW(bitmap, sizeof(section), &section), static_cast<int>(sizeof(section)));
        EXPECT_EQ(section.dsBm.bmWidth, picture.width);
        EXPECT_EQ(section.dsBm.bmHeight, picture.height);
        EXPECT_EQ(section.dsBm.bmBitsPixel, picture.bits);
        ::DeleteObject(bitmap);
    }
}

// The pages show the pictures through static controls with the bitmap
// style, which load the resource named by their text and take its size.
TEST(Art, BitmapsSizeTheirStaticControls)
{
    for (const Picture& picture : kPictures) {
        SCOPED_TRACE(picture.id);
        const std::wstring text = L"#" + std::to_wstring(picture.id);
        HWND control = ::CreateWindowExW(0, L"STATIC", text.c_str(), WS_POPUP | SS_BITMAP, 0, 0, 10, 10, nullptr,
                                         nullptr, ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(control, nullptr);
        EXPECT_NE(::SendMessageW(control, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
        RECT client = {};
        ::GetClientRect(control, &client);
        EXPECT_EQ(client.right, picture.width);
        EXPECT_EQ(client.bottom, picture.height);
        ::DestroyWindow(control);
    }
}

// GDI's decoding of the run-length code gives the pixels that were drawn
// (left by art_check.py as RGB rows, top first).
TEST(Art, SidePictureDecodesToTheDrawing)
{
    HBITMAP bitmap = static_cast<HBITMAP>(
        ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(129), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(bitmap, nullptr);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = 164;
    info.bmiHeader.biHeight = -290;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<unsigned char> pixels(164 * 290 * 4);
    HDC screen = ::GetDC(nullptr);
    const int lines = ::GetDIBits(screen, bitmap, 0, 290, pixels.data(), &info, DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, screen);
    ::DeleteObject(bitmap);
    ASSERT_EQ(lines, 290);

    const std::string expected = ReadBytes(FixturePath(L"resources\\side.rgb"));
    ASSERT_EQ(expected.size(), 164u * 290u * 3u);
    int differing = 0;
    for (size_t i = 0; i < 164u * 290u; ++i) {
        const unsigned char* got = &pixels[i * 4];  // B, G, R, unused
        const auto* want = reinterpret_cast<const unsigned char*>(&expected[i * 3]);
        if (got[2] != want[0] || got[1] != want[1] || got[0] != want[2])
            ++differing;
    }
    EXPECT_EQ(differing, 0);
}

TEST(Art, IconHoldsEverySizeFrom16To64)
{
    const std::string group = ResourceBytes(128, MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    // GRPICONDIR: reserved, type 1, count; then 14-byte entries.
    const int sizes[] = {16, 20, 24, 32, 40, 48, 64};
    ASSERT_EQ(group.size(), 6u + 14u * std::size(sizes));
    EXPECT_EQ(static_cast<unsigned char>(group[4]), std::size(sizes));
    for (size_t i = 0; i < std::size(sizes); ++i) {
        SCOPED_TRACE(sizes[i]);
        const char* entry = group.data() + 6 + 14 * i;
        EXPECT_EQ(static_cast<unsigned char>(entry[0]), sizes[i]);  // width
        EXPECT_EQ(static_cast<unsigned char>(entry[1]), sizes[i]);  // height
        EXPECT_EQ(static_cast<unsigned char>(entry[6]), 32);        // bits per pixel

        HICON icon = static_cast<HICON>(
            ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(128), IMAGE_ICON, sizes[i], sizes[i], 0));
        ASSERT_NE(icon, nullptr);
        ICONINFO parts = {};
        ASSERT_TRUE(::GetIconInfo(icon, &parts));
        BITMAP colour = {};
        ASSERT_NE(parts.hbmColor, nullptr);
        ::GetObjectW(parts.hbmColor, sizeof(colour), &colour);
        EXPECT_EQ(colour.bmWidth, sizes[i]);
        EXPECT_EQ(colour.bmHeight, sizes[i]);
        ::DeleteObject(parts.hbmColor);
        ::DeleteObject(parts.hbmMask);
        ::DestroyIcon(icon);
    }
}

}  // namespace
