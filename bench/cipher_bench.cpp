#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "base64.h"
#include "vorncrypt.h"

namespace {

const uint8_t kKey[16] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};

std::vector<uint8_t> input(size_t n) {
  std::mt19937 gen(42);
  std::vector<uint8_t> v(n);
  for (uint8_t& b : v) b = static_cast<uint8_t>(gen());
  return v;
}

void report(benchmark::State& state, size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

void Base64Encode(benchmark::State& state) {
  std::vector<uint8_t> in = input(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    char* out = base64_encode(in.data(), in.size());
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
  report(state, in.size());
}

void Base64Decode(benchmark::State& state) {
  std::vector<uint8_t> in = input(static_cast<size_t>(state.range(0)));
  char* text = base64_encode(in.data(), in.size());
  for (auto _ : state) {
    size_t len = 0;
    unsigned char* out = base64_decode(text, &len);
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
  std::free(text);
  report(state, in.size());
}

void Encrypt(benchmark::State& state) {
  std::vector<uint8_t> in = input(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    size_t len = 0;
    void* out = vorn_encrypt(in.data(), in.size(), kKey, &len);
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
  report(state, in.size());
}

void Decrypt(benchmark::State& state) {
  std::vector<uint8_t> in = input(static_cast<size_t>(state.range(0)));
  size_t cipher_len = 0;
  void* cipher = vorn_encrypt(in.data(), in.size(), kKey, &cipher_len);
  for (auto _ : state) {
    size_t len = 0;
    void* out = vorn_decrypt(cipher, cipher_len, kKey, &len);
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
  std::free(cipher);
  report(state, in.size());
}

// 315 bytes: the longest configuration text.
BENCHMARK(Base64Encode)->Arg(315)->Arg(64 << 10);
BENCHMARK(Base64Decode)->Arg(315)->Arg(64 << 10);
BENCHMARK(Encrypt)->Arg(315)->Arg(64 << 10);
BENCHMARK(Decrypt)->Arg(315)->Arg(64 << 10);

}  // namespace
