// Throughput of the SHA-1 engine, each of its compressors and lane kernels,
// and OpenSSL's
// SHA-1 as the yardstick, on the same buffers in one run. OpenSSL is linked
// here only; the program never uses it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include "sha1/sha1.h"
#include "sha1/sha1_compress.h"
#include "sha1/sha1_lanes.h"

namespace {

std::vector<unsigned char> test_data(std::size_t size) {
  std::vector<unsigned char> data(size);
  std::uint32_t x = 0x12345678;
  for (unsigned char& byte : data) {
    x = x * 1664525u + 1013904223u;
    byte = static_cast<unsigned char>(x >> 24);
  }
  return data;
}

void engine_digest(const std::vector<unsigned char>& data,
                   unsigned char* digest) {
  sha1_context context;
  sha1_start(&context);
  sha1_update(&context, data.data(), static_cast<std::uint32_t>(data.size()));
  sha1_finish(&context, digest);
}

void openssl_digest(const std::vector<unsigned char>& data,
                    unsigned char* digest) {
  unsigned int size = 0;
  EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha1(), nullptr);
}

void report(benchmark::State& state, std::size_t size) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(size));
}

// A whole message per iteration: start, one update, finish.
void engine(benchmark::State& state) {
  const std::vector<unsigned char> data = test_data(state.range(0));
  unsigned char digest[sha1_digest_size];
  for (auto _ : state) {
    engine_digest(data, digest);
    benchmark::DoNotOptimize(digest);
  }
  report(state, data.size());
}

void run_compressor(benchmark::State& state, sha1_compressor compress) {
  const std::vector<unsigned char> data = test_data(state.range(0));
  std::uint32_t chain[5] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u,
                            0xc3d2e1f0u};
  for (auto _ : state) {
    compress(chain, data.data(), data.size() / 64);
    benchmark::DoNotOptimize(chain);
  }
  report(state, data.size());
}

void portable(benchmark::State& state) {
  run_compressor(state, &sha1_compress_portable);
}

void accelerated(benchmark::State& state) {
  const std::optional<sha1_compressor> compress = sha1_accelerated_compressor();
  if (!compress) {
    state.SkipWithError("this CPU has no SHA extensions");
    return;
  }
  run_compressor(state, *compress);
}

void openssl(benchmark::State& state) {
  const std::vector<unsigned char> data = test_data(state.range(0));
  unsigned char digest[EVP_MAX_MD_SIZE];
  for (auto _ : state) {
    openssl_digest(data, digest);
    benchmark::DoNotOptimize(digest);
  }
  report(state, data.size());
}

// All lanes of one kernel over `size` bytes each; bytes count every lane.
void lane_kernel(benchmark::State& state, sha1_lane_kernel kernel) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const std::vector<unsigned char> data = test_data(size * kernel.width);
  std::vector<std::uint32_t> chain_words(5 * kernel.width);
  std::vector<std::uint32_t*> chains;
  std::vector<const unsigned char*> blocks;
  for (std::size_t lane = 0; lane < kernel.width; ++lane) {
    chains.push_back(&chain_words[5 * lane]);
    blocks.push_back(&data[size * lane]);
  }
  for (auto _ : state) {
    kernel.compress(chains.data(), blocks.data(), size / 64);
    benchmark::DoNotOptimize(chain_words.data());
  }
  report(state, data.size());
}

// Figures of a wrong engine are worthless: refuse to run if the engine and
// OpenSSL disagree.
void check_against_openssl() {
  for (std::size_t size : {0, 1, 55, 56, 64, 1000, 16384 + 7}) {
    const std::vector<unsigned char> data = test_data(size);
    unsigned char ours[sha1_digest_size];
    unsigned char theirs[EVP_MAX_MD_SIZE];
    engine_digest(data, ours);
    openssl_digest(data, theirs);
    if (std::memcmp(ours, theirs, sizeof ours) != 0) {
      std::fprintf(stderr, "digest mismatch at %zu bytes\n", size);
      std::exit(1);
    }
  }
}

}  // namespace

BENCHMARK(engine)->Arg(16 << 10)->Arg(4 << 20);
BENCHMARK(portable)->Arg(16 << 10)->Arg(4 << 20);
BENCHMARK(accelerated)->Arg(16 << 10)->Arg(4 << 20);
BENCHMARK(openssl)->Arg(16 << 10)->Arg(4 << 20);

int main(int argc, char** argv) {
  check_against_openssl();
  const sha1_lane_kernel_set kernels = sha1_lane_kernels_for_cpu();
  for (std::size_t i = 0; i < kernels.count; ++i)
    benchmark::RegisterBenchmark(kernels.kernels[i].name, &lane_kernel,
                                 kernels.kernels[i])
        ->Arg(256 << 10);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
