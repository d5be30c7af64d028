// Throughput of the key wire format on full-size (1025-byte) frame payloads.
// Each benchmark also copies the same bytes with memcpy as often as it ran its
// own operation and reports the ratio "x_memcpy" (operation time / copy time),
// so the figure holds across machines and load.
#include "frame_codec.h"
#include "kmsg.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr int kPayload = 1025; // largest message plus the filler byte

Bytes randomPayload()
{
    std::mt19937 rng(1);
    Bytes b(kPayload);
    for (auto &x : b)
        x = static_cast<uint8_t>(rng());
    return b;
}

// One MSG_DATA message with a 1018-byte value: 1024 bytes, then a filler byte.
Bytes dataMessage()
{
    const Bytes value = randomPayload();
    KMsg msg(MSG_DATA);
    msg.add<KTagBytes>(TAG_DATA, value.data(), 1018);
    Bytes out(kPayload, 0);
    msg.serialize(out.data(), kMsgMaxSize);
    return out;
}

// 204 one-byte tags (1022 bytes) and three filler bytes: the per-tag cost.
Bytes smallTagsMessage()
{
    KMsg msg(MSG_SET);
    for (int i = 0; i < 204; ++i)
        msg.add<KTagUInt8>(static_cast<uint8_t>(i), static_cast<unsigned>(i));
    Bytes out(kPayload, 0);
    msg.serialize(out.data(), kMsgMaxSize);
    return out;
}

double copySeconds(const Bytes &src, benchmark::IterationCount iterations)
{
    Bytes dst(src.size());
    const auto start = Clock::now();
    for (benchmark::IterationCount i = 0; i < iterations; ++i) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void report(benchmark::State &state, double opSeconds, const Bytes &bytes)
{
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
    const double copy = copySeconds(bytes, state.iterations());
    state.counters["x_memcpy"] = copy > 0 ? opSeconds / copy : 0;
}

void BM_Memcpy(benchmark::State &state)
{
    const Bytes src = randomPayload();
    Bytes dst(src.size());
    const auto start = Clock::now();
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    report(state, std::chrono::duration<double>(Clock::now() - start).count(), src);
}

void BM_FrameEncode(benchmark::State &state)
{
    const Bytes payload = randomPayload();
    Bytes frame(frameEncodeCapacity(kPayload));
    const auto start = Clock::now();
    for (auto _ : state) {
        int len = 0;
        frameEncode(payload.data(), kPayload, frame.data(), len);
        benchmark::DoNotOptimize(len);
        benchmark::ClobberMemory();
    }
    report(state, std::chrono::duration<double>(Clock::now() - start).count(), payload);
}

void BM_FrameDecodeCheck(benchmark::State &state)
{
    const Bytes payload = randomPayload();
    Bytes frame(frameEncodeCapacity(kPayload));
    int len = 0;
    frameEncode(payload.data(), kPayload, frame.data(), len);
    Bytes content(len);
    const auto start = Clock::now();
    for (auto _ : state) {
        const int m = frameDecode(frame.data(), len, content.data());
        bool good = frameCheck(content.data(), m);
        benchmark::DoNotOptimize(good);
        benchmark::ClobberMemory();
    }
    if (!frameCheck(content.data(), frameDecode(frame.data(), len, content.data())))
        state.SkipWithError("frame did not check");
    report(state, std::chrono::duration<double>(Clock::now() - start).count(), payload);
}

void parseSerialize(benchmark::State &state, const Bytes &wire)
{
    Bytes out(kMsgMaxSize);
    const auto start = Clock::now();
    for (auto _ : state) {
        auto msg = KMsg::parse(wire.data(), static_cast<int>(wire.size()));
        int n = msg ? msg->serialize(out.data(), kMsgMaxSize) : 0;
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    auto check = KMsg::parse(wire.data(), static_cast<int>(wire.size()));
    if (!check || check->serialize(out.data(), kMsgMaxSize) == 0)
        state.SkipWithError("message did not parse");
    report(state, seconds, wire);
}

void BM_KMsgParseSerializeData(benchmark::State &state)
{
    parseSerialize(state, dataMessage());
}

void BM_KMsgParseSerializeSmallTags(benchmark::State &state)
{
    parseSerialize(state, smallTagsMessage());
}

} // namespace

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_FrameEncode);
BENCHMARK(BM_FrameDecodeCheck);
BENCHMARK(BM_KMsgParseSerializeData);
BENCHMARK(BM_KMsgParseSerializeSmallTags);

BENCHMARK_MAIN();
