// Screen capture: the screen's device context copied into a 24-bit bitmap, then into PNG.
#include "tools/player_sim/screenshot.h"

#include "framework/unique_handle.h"
#include "tools/player_sim/png_writer.h"
#include "tools/player_sim/text.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

struct screen_dc_traits {
    using pointer = HDC;
    static constexpr pointer invalid() { return nullptr; }
    static void close(pointer value) { ::ReleaseDC(nullptr, value); }
};

}  // namespace

bool HasNotificationArea()
{
    return ::FindWindowA("Shell_TrayWnd", nullptr) != nullptr;
}

bool SaveScreenshot(const std::string& path, std::string& why)
{
    const int width = ::GetSystemMetrics(SM_CXSCREEN);
    const int height = ::GetSystemMetrics(SM_CYSCREEN);
    const unique_handle<screen_dc_traits> screen(::GetDC(nullptr));
    const unique_hdc memory(::CreateCompatibleDC(screen.get()));
    if (width <= 0 || height <= 0 || !screen || !memory) {
        why = "the screen cannot be read";
        return false;
    }

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const unique_hbitmap bitmap(
        ::CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) {
        why = "no memory for the picture";
        return false;
    }
    const HGDIOBJ previous = ::SelectObject(memory.get(), bitmap.get());
    const BOOL copied = ::BitBlt(memory.get(), 0, 0, width, height, screen.get(), 0, 0, SRCCOPY | CAPTUREBLT);
    ::GdiFlush();
    ::SelectObject(memory.get(), previous);
    if (!copied) {
        why = "the screen cannot be copied";
        return false;
    }

    // The bitmap's pixels are blue, green, red and an unused byte.
    const auto* pixels = static_cast<const std::uint8_t*>(bits);
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0, count = static_cast<std::size_t>(width) * height; i < count; ++i) {
        rgb[i * 3] = pixels[i * 4 + 2];
        rgb[i * 3 + 1] = pixels[i * 4 + 1];
        rgb[i * 3 + 2] = pixels[i * 4];
    }
    const std::string png = EncodePng(width, height, rgb);

    std::FILE* file = std::fopen(AnsiFromUtf8(path).c_str(), "wb");
    if (!file) {
        why = "cannot write " + path;
        return false;
    }
    const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        why = "cannot write " + path;
        return false;
    }
    return true;
}
