// The codec's throughput: encodeForm and parseReply on a realistic and on a large input,
// each beside libcurl's curl_easy_escape over the same bytes as a yardstick of a tuned
// one-pass byte loop. Bytes counted are the input's: keys and values for a form, the reply
// text for a reply.
#include "net/field_map.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// The request of a song as the lookup builds it.
FieldMap RealisticRequest()
{
    return {{"title", "Rain Song"},
            {"artist", "The Lanterns"},
            {"track", "7"},
            {"album", "Night Drive!"},
            {"year", "1999"},
            {"genre", "Pop"},
            {"filename", "07 Rain Song.mp3"}};
}

// Text with the mix a tag holds: mostly letters and digits, spaces, punctuation and bytes of
// the upper half of the code page. Deterministic, so every run sees the same bytes.
std::string MixedText(std::size_t length, std::uint32_t seed)
{
    static const char kPunctuation[] = "!&'()-./:?_,";
    std::string text;
    text.reserve(length);
    std::uint32_t state = seed;
    while (text.size() < length) {
        state = state * 1664525u + 1013904223u;
        const std::uint32_t pick = (state >> 8) % 100;
        const char letter = static_cast<char>('a' + (state >> 16) % 26);
        if (pick < 70)
            text += letter;
        else if (pick < 85)
            text += ' ';
        else if (pick < 95)
            text += kPunctuation[(state >> 16) % (sizeof(kPunctuation) - 1)];
        else
            text += static_cast<char>(0xC0 + (state >> 16) % 0x3F);
    }
    return text;
}

// The seven fields with values of 150 KiB each: about a megabyte to escape.
FieldMap LargeRequest()
{
    FieldMap map = RealisticRequest();
    std::uint32_t seed = 1;
    for (auto& field : map)
        field.second = MixedText(150 * 1024, seed++);
    return map;
}

const std::string kRealisticReply =
    "<title>Rain Song</title>\n<url>http://lyrics.tunelore.example/lyrics/rain-song</url>";

// The realistic reply again and again, to about a megabyte: every element is parsed and stored.
std::string LargeReply()
{
    std::string reply;
    while (reply.size() < 1024 * 1024)
        reply += kRealisticReply + "\n";
    return reply;
}

std::size_t FormBytes(const FieldMap& map)
{
    std::size_t bytes = 0;
    for (const auto& field : map)
        bytes += field.first.size() + field.second.size();
    return bytes;
}

void AppendEscaped(CURL* curl, const std::string& text, std::string& out)
{
    char* escaped = curl_easy_escape(curl, text.data(), static_cast<int>(text.size()));
    if (escaped) {
        out += escaped;
        curl_free(escaped);
    }
}

// The same form built with curl's escaper: the same pairs, separators and key order.
std::string CurlForm(CURL* curl, const FieldMap& map)
{
    std::string body;
    for (const auto& field : map) {
        if (!body.empty())
            body += '&';
        AppendEscaped(curl, field.first, body);
        body += '=';
        AppendEscaped(curl, field.second, body);
    }
    return body;
}

void EncodeForm(benchmark::State& state, const FieldMap& map)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeForm(map));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * FormBytes(map)));
}

void CurlEscapeForm(benchmark::State& state, const FieldMap& map)
{
    CURL* curl = curl_easy_init();
    for (auto _ : state)
        benchmark::DoNotOptimize(CurlForm(curl, map));
    curl_easy_cleanup(curl);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * FormBytes(map)));
}

void ParseReply(benchmark::State& state, const std::string& reply)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(parseReply(reply));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
}

void CurlEscapeReply(benchmark::State& state, const std::string& reply)
{
    CURL* curl = curl_easy_init();
    for (auto _ : state) {
        std::string out;
        AppendEscaped(curl, reply, out);
        benchmark::DoNotOptimize(out);
    }
    curl_easy_cleanup(curl);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
}

const FieldMap kRealisticRequest = RealisticRequest();
const FieldMap kLargeRequest = LargeRequest();
const std::string kLargeReply = LargeReply();

BENCHMARK_CAPTURE(EncodeForm, realistic, kRealisticRequest);
BENCHMARK_CAPTURE(CurlEscapeForm, realistic, kRealisticRequest);
BENCHMARK_CAPTURE(EncodeForm, large, kLargeRequest);
BENCHMARK_CAPTURE(CurlEscapeForm, large, kLargeRequest);
BENCHMARK_CAPTURE(ParseReply, realistic, kRealisticReply);
BENCHMARK_CAPTURE(CurlEscapeReply, realistic, kRealisticReply);
BENCHMARK_CAPTURE(ParseReply, large, kLargeReply);
BENCHMARK_CAPTURE(CurlEscapeReply, large, kLargeReply);

}  // namespace

int main(int argc, char** argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    curl_global_cleanup();
    return 0;
}
