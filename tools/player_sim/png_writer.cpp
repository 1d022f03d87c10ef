// PNG chunks with their CRC, and the zlib stream of stored blocks with its Adler-32.
#include "tools/player_sim/png_writer.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace {

constexpr std::size_t kStoredBlockLimit = 65535;
constexpr std::uint8_t kFilterNone = 0;

std::uint32_t Crc32(const std::string& bytes, std::size_t from)
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = from; i < bytes.size(); ++i)
        crc = table[(crc ^ static_cast<std::uint8_t>(bytes[i])) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::uint32_t Adler32(const std::string& bytes)
{
    constexpr std::uint32_t kModulus = 65521;
    std::uint32_t a = 1, b = 0;
    for (const char c : bytes) {
        a = (a + static_cast<std::uint8_t>(c)) % kModulus;
        b = (b + a) % kModulus;
    }
    return (b << 16) | a;
}

void PutBigEndian(std::string& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

void PutChunk(std::string& out, const char* type, const std::string& data)
{
    PutBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out += type;
    out += data;
    PutBigEndian(out, Crc32(out, start));
}

std::string ZlibStored(const std::string& raw)
{
    // CMF: deflate with a 32 KiB window; FLG: fastest level, and the pair divisible by 31.
    std::string out = "\x78\x01";
    std::size_t offset = 0;
    do {
        const std::size_t length = std::min(kStoredBlockLimit, raw.size() - offset);
        const bool last = offset + length == raw.size();
        out += static_cast<char>(last ? 1 : 0);
        const auto len = static_cast<std::uint16_t>(length);
        const auto nlen = static_cast<std::uint16_t>(~len);
        out += static_cast<char>(len & 0xFF);
        out += static_cast<char>(len >> 8);
        out += static_cast<char>(nlen & 0xFF);
        out += static_cast<char>(nlen >> 8);
        out.append(raw, offset, length);
        offset += length;
    } while (offset < raw.size());
    PutBigEndian(out, Adler32(raw));
    return out;
}

}  // namespace

std::string EncodePng(int width, int height, const std::vector<std::uint8_t>& rgb)
{
    if (width <= 0 || height <= 0 || rgb.size() != static_cast<std::size_t>(width) * height * 3)
        return {};
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    std::string raw;
    raw.reserve((rowBytes + 1) * height);
    for (int y = 0; y < height; ++y) {
        raw += static_cast<char>(kFilterNone);
        raw.append(reinterpret_cast<const char*>(rgb.data()) + y * rowBytes, rowBytes);
    }

    std::string header;
    PutBigEndian(header, static_cast<std::uint32_t>(width));
    PutBigEndian(header, static_cast<std::uint32_t>(height));
    // Bit depth 8, colour type 2 (RGB), deflate, adaptive filtering, no interlace.
    header += std::string("\x08\x02\x00\x00\x00", 5);

    std::string png = "\x89PNG\r\n\x1A\n";
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", ZlibStored(raw));
    PutChunk(png, "IEND", "");
    return png;
}
