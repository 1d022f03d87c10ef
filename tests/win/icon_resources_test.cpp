// The tray icons as the module carries them: two sizes in 16 colours each, a visible picture
// with transparent corners, colour in the found icon and the same picture in grey in the idle one.
#include "framework/module.h"
#include "framework/unique_handle.h"
#include "res/resource.h"
#include "tests/table_row.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

struct Pixel {
    std::uint8_t red, green, blue;
    bool opaque;
};

// One loaded icon image, read back as the system holds it.
struct IconImage {
    int width = 0;
    int height = 0;
    std::vector<Pixel> pixels;   // top row first

    const Pixel& at(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)]; }
};

// The bitmap's pixels as 32-bit top-down BGRX, or nothing if it cannot be read.
std::vector<RGBQUAD> ReadBits(HBITMAP bitmap, int width, int height)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<RGBQUAD> bits(static_cast<size_t>(width * height));
    HDC screen = ::GetDC(nullptr);
    const int lines = ::GetDIBits(screen, bitmap, 0, static_cast<UINT>(height), bits.data(), &info,
                                  DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, screen);
    if (lines != height)
        bits.clear();
    return bits;
}

// Loads the icon at the given size and reads its colour and mask bitmaps; on failure the
// image is left empty and the reason recorded as a test failure.
IconImage LoadIconImage(int id, int size)
{
    IconImage image;
    unique_hicon icon(static_cast<HICON>(
        ::LoadImageA(ModuleInstance(), MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, 0)));
    if (!icon) {
        ADD_FAILURE() << "icon " << id << " does not load at " << size;
        return image;
    }
    ICONINFO parts{};
    if (!::GetIconInfo(icon.get(), &parts)) {
        ADD_FAILURE() << "no icon info for " << id;
        return image;
    }
    unique_hbitmap colour(parts.hbmColor);
    unique_hbitmap mask(parts.hbmMask);
    if (!colour || !mask) {
        ADD_FAILURE() << "icon " << id << " lacks a colour or a mask bitmap";
        return image;
    }
    BITMAP colourInfo{};
    BITMAP maskInfo{};
    ::GetObjectA(colour.get(), sizeof(colourInfo), &colourInfo);
    ::GetObjectA(mask.get(), sizeof(maskInfo), &maskInfo);
    // A colour icon's mask holds the AND bits alone: it has the image's own height.
    EXPECT_EQ(maskInfo.bmWidth, colourInfo.bmWidth);
    EXPECT_EQ(maskInfo.bmHeight, colourInfo.bmHeight);

    const int width = colourInfo.bmWidth;
    const int height = colourInfo.bmHeight;
    const std::vector<RGBQUAD> colourBits = ReadBits(colour.get(), width, height);
    const std::vector<RGBQUAD> maskBits = ReadBits(mask.get(), width, height);
    if (colourBits.empty() || maskBits.empty()) {
        ADD_FAILURE() << "the bits of icon " << id << " cannot be read";
        return image;
    }
    image.width = width;
    image.height = height;
    for (size_t i = 0; i < colourBits.size(); ++i) {
        const RGBQUAD& c = colourBits[i];
        const RGBQUAD& m = maskBits[i];
        // A set AND bit keeps the screen: the pixel is transparent.
        const bool opaque = m.rgbRed == 0 && m.rgbGreen == 0 && m.rgbBlue == 0;
        image.pixels.push_back({c.rgbRed, c.rgbGreen, c.rgbBlue, opaque});
    }
    return image;
}

int Luminance(const Pixel& p)
{
    return (299 * p.red + 587 * p.green + 114 * p.blue + 500) / 1000;
}

struct IconCase {
    const char* name;
    int id;
    int size;
};

const IconCase kEveryImage[] = {
    {"Found32", IDI_FOUND, 32},
    {"Found16", IDI_FOUND, 16},
    {"Idle32", IDI_IDLE, 32},
    {"Idle16", IDI_IDLE, 16},
};

class IconImageTest : public ::testing::TestWithParam<IconCase> {};

TEST_P(IconImageTest, LoadsAtItsOwnSizeWithAPictureAndTransparentCorners)
{
    const IconCase& c = GetParam();
    const IconImage image = LoadIconImage(c.id, c.size);
    ASSERT_EQ(image.width, c.size);
    ASSERT_EQ(image.height, c.size);

    const int last = c.size - 1;
    for (const auto& [x, y] : {std::make_pair(0, 0), std::make_pair(last, 0),
                               std::make_pair(0, last), std::make_pair(last, last)})
        EXPECT_FALSE(image.at(x, y).opaque) << x << "," << y;

    std::set<std::uint32_t> colours;
    int opaque = 0;
    for (const Pixel& p : image.pixels) {
        if (!p.opaque)
            continue;
        ++opaque;
        colours.insert(static_cast<std::uint32_t>(p.red << 16 | p.green << 8 | p.blue));
    }
    // A disc fills most of the square, and a drawing has more than a couple of colours.
    EXPECT_GT(opaque, c.size * c.size / 2);
    EXPECT_GE(colours.size(), 5u);
    EXPECT_LE(colours.size(), 16u);
    // The centre hole of the disc shows through.
    EXPECT_FALSE(image.at(c.size / 2, c.size / 2).opaque);
}

INSTANTIATE_TEST_SUITE_P(Icons, IconImageTest, ::testing::ValuesIn(kEveryImage), RowName{});

class IconPairTest : public ::testing::TestWithParam<int> {};

TEST_P(IconPairTest, IdleIconIsTheFoundPictureInGrey)
{
    const int size = GetParam();
    const IconImage found = LoadIconImage(IDI_FOUND, size);
    const IconImage idle = LoadIconImage(IDI_IDLE, size);
    ASSERT_EQ(found.pixels.size(), static_cast<size_t>(size * size));
    ASSERT_EQ(idle.pixels.size(), found.pixels.size());

    int colourful = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const Pixel& f = found.at(x, y);
            const Pixel& i = idle.at(x, y);
            ASSERT_EQ(i.opaque, f.opaque) << x << "," << y;
            if (!i.opaque)
                continue;
            EXPECT_TRUE(i.red == i.green && i.green == i.blue) << x << "," << y;
            EXPECT_LE(std::abs(i.red - Luminance(f)), 1) << x << "," << y;
            const int spread = std::max({f.red, f.green, f.blue}) - std::min({f.red, f.green, f.blue});
            if (spread > 40)
                ++colourful;
        }
    }
    EXPECT_GE(colourful, size / 4) << "the found icon shows too little colour";
}

INSTANTIATE_TEST_SUITE_P(Sizes, IconPairTest, ::testing::Values(32, 16),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Size" + std::to_string(info.param);
                         });

// Each icon's directory in the module: exactly a 32x32 and a 16x16 image, both stored with
// 4 bits per pixel, so that no size is ever made by stretching the other.
#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colourCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

const BYTE* ResourceBytes(LPCSTR name, LPCSTR type, DWORD* size)
{
    HRSRC found = ::FindResourceA(ModuleInstance(), name, type);
    HGLOBAL loaded = found ? ::LoadResource(ModuleInstance(), found) : nullptr;
    *size = found ? ::SizeofResource(ModuleInstance(), found) : 0;
    return loaded ? static_cast<const BYTE*>(::LockResource(loaded)) : nullptr;
}

class IconDirectoryTest : public ::testing::TestWithParam<int> {};

TEST_P(IconDirectoryTest, HoldsA32AndA16ImageIn16Colours)
{
    DWORD size = 0;
    const BYTE* group = ResourceBytes(MAKEINTRESOURCEA(GetParam()), RT_GROUP_ICON, &size);
    ASSERT_NE(group, nullptr);
    ASSERT_GE(size, 6u);
    WORD count = 0;
    memcpy(&count, group + 4, sizeof(count));
    ASSERT_EQ(count, 2);
    ASSERT_EQ(size, 6 + count * sizeof(GroupIconEntry));

    std::set<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        GroupIconEntry entry;
        memcpy(&entry, group + 6 + i * sizeof(GroupIconEntry), sizeof(entry));
        sizes.insert(entry.width);
        EXPECT_EQ(entry.height, entry.width);

        DWORD imageSize = 0;
        const BYTE* image = ResourceBytes(MAKEINTRESOURCEA(entry.id), RT_ICON, &imageSize);
        ASSERT_NE(image, nullptr);
        ASSERT_GE(imageSize, sizeof(BITMAPINFOHEADER));
        BITMAPINFOHEADER header;
        memcpy(&header, image, sizeof(header));
        EXPECT_EQ(header.biWidth, entry.width);
        EXPECT_EQ(header.biHeight, 2 * entry.width) << "colour image and mask";
        EXPECT_EQ(header.biBitCount, 4);
        EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 32}));
}

INSTANTIATE_TEST_SUITE_P(Icons, IconDirectoryTest, ::testing::Values(IDI_FOUND, IDI_IDLE),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == IDI_FOUND ? "Found" : "Idle");
                         });

}  // namespace
