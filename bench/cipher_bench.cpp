// Throughput of the codec and the cipher, and of the byte layer and the
// decoder beside a plain reference implementation of the same work written
// here. After the usual table it prints, for each such pair and size, the
// fastest CPU time of ours over the fastest of the reference. For steady
// ratios on a busy machine, e.g. (one line)
//   vorn_cipher_bench --benchmark_filter='Framing|Ubyte|Decode' --benchmark_repetitions=10
//                     --benchmark_enable_random_interleaving=true
#include <benchmark/benchmark.h>
#include <string.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base64.h"
#include "vorncrypt.h"
#include "vorncrypt_internal.h"

namespace {

// ---------------------------------------------------------------------------
// References: the same framing and the same lenient decoding, written the
// plain way. The framing has its own XXTEA core, compiled here like the
// framing around it: a call of the cipher's out-of-line core would be slower
// than the copy the compiler inlines into the cipher's own byte layer.

uint32_t refMix(uint32_t sum, uint32_t y, uint32_t z, size_t p, uint32_t e, const uint32_t* k) {
  return (((z >> 5) ^ (y << 2)) + ((y >> 3) ^ (z << 4))) ^ ((sum ^ y) + (k[(p & 3) ^ e] ^ z));
}

[[gnu::noinline]] void refXxteaEncrypt(uint32_t* v, size_t n, const uint32_t* k) {
  uint32_t sum = 0;
  uint32_t z = v[n - 1];
  for (uint32_t round = 0; round < 6 + 52 / n; round++) {
    sum += 0x9E3779B9U;
    uint32_t e = (sum >> 2) & 3;
    size_t p = 0;
    for (; p < n - 1; p++) z = v[p] += refMix(sum, v[p + 1], z, p, e, k);
    z = v[p] += refMix(sum, v[0], z, p, e, k);
  }
}

[[gnu::noinline]] void refXxteaDecrypt(uint32_t* v, size_t n, const uint32_t* k) {
  uint32_t sum = static_cast<uint32_t>(6 + 52 / n) * 0x9E3779B9U;
  uint32_t y = v[0];
  while (sum != 0) {
    uint32_t e = (sum >> 2) & 3;
    size_t p = n - 1;
    for (; p > 0; p--) y = v[p] -= refMix(sum, y, v[p - 1], p, e, k);
    y = v[0] -= refMix(sum, y, v[n - 1], p, e, k);
    sum -= 0x9E3779B9U;
  }
}

// On a little-endian host, which the references require, the words' bytes in
// memory are the packed bytes: packing and unpacking are plain copies.
static_assert(std::endian::native == std::endian::little);

uint32_t refLoad(const uint8_t* p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}

// Bytes to ceil(len / 4) words, plus the length word when asked for.
uint32_t* refPack(const uint8_t* data, size_t len, bool length_word, size_t* words) {
  size_t n = (len + 3) / 4;
  *words = n + (length_word ? 1 : 0);
  uint32_t* v = static_cast<uint32_t*>(std::malloc(*words * 4));
  if (v == nullptr) return nullptr;
  if (n > 0) v[n - 1] = 0;  // the high bytes of a partial last word
  std::memcpy(v, data, len);
  if (length_word) v[n] = static_cast<uint32_t>(len);
  return v;
}

// The first bytes of the words, with a terminating zero.
uint8_t* refUnpack(const uint32_t* v, size_t bytes) {
  uint8_t* out = static_cast<uint8_t*>(std::malloc(bytes + 1));
  if (out == nullptr) return nullptr;
  std::memcpy(out, v, bytes);
  out[bytes] = 0;
  return out;
}

uint8_t* refUbyteEncrypt(const uint8_t* data, size_t len, const uint8_t* key, size_t* out_len) {
  if (len == 0) return nullptr;
  size_t words = 0;
  uint32_t* v = refPack(data, len, true, &words);
  if (v == nullptr) return nullptr;
  uint32_t k[4] = {refLoad(key), refLoad(key + 4), refLoad(key + 8), refLoad(key + 12)};
  refXxteaEncrypt(v, words, k);
  explicit_bzero(k, sizeof k);
  uint8_t* out = refUnpack(v, 4 * words);
  std::free(v);
  if (out != nullptr) *out_len = 4 * words;
  return out;
}

uint8_t* refUbyteDecrypt(const uint8_t* data, size_t len, const uint8_t* key, size_t* out_len) {
  if (len == 0) return nullptr;
  size_t words = 0;
  uint32_t* v = refPack(data, len, false, &words);
  if (v == nullptr) return nullptr;
  uint32_t k[4] = {refLoad(key), refLoad(key + 4), refLoad(key + 8), refLoad(key + 12)};
  if (words >= 2) refXxteaDecrypt(v, words, k);
  explicit_bzero(k, sizeof k);
  uint8_t* out = nullptr;
  size_t m = v[words - 1];
  if (words >= 2 && m + 7 >= 4 * words && m + 4 <= 4 * words) out = refUnpack(v, m);
  explicit_bzero(v, words * 4);
  std::free(v);
  if (out != nullptr) *out_len = m;
  return out;
}

// Character values for all 256 codes: the alphabet 0 to 63, all else -1.
struct RefDecodeTable {
  int32_t value[256];
};

RefDecodeTable makeRefDecodeTable() {
  RefDecodeTable t;
  for (int32_t& v : t.value) v = -1;
  for (int i = 0; i < 64; i++) t.value[static_cast<unsigned char>(Base64EncodeChars[i])] = i;
  return t;
}

const RefDecodeTable kRefDecode = makeRefDecodeTable();

uint32_t refValue(char c) { return static_cast<uint32_t>(kRefDecode.value[static_cast<unsigned char>(c)]); }

unsigned char* refBase64Decode(const char* data, size_t* out_len) {
  size_t len = std::strlen(data);
  if (len == 0 || len % 4 != 0) return nullptr;
  size_t paddings = data[len - 2] == '=' ? 2 : data[len - 1] == '=' ? 1 : 0;
  unsigned char* out = static_cast<unsigned char*>(std::malloc(len / 4 * 3 - paddings + 1));
  if (out == nullptr) return nullptr;
  const char* in = data;
  unsigned char* p = out;
  for (size_t g = 0; g < len / 4; g++) {
    uint32_t s1 = (refValue(in[0]) << 18) + (refValue(in[1]) << 12);
    *p++ = static_cast<unsigned char>(s1 >> 16);
    if (in[2] != '=' && in[3] != '=') {
      uint32_t s2 = s1 + (refValue(in[2]) << 6);
      *p++ = static_cast<unsigned char>(s2 >> 8);
      *p++ = static_cast<unsigned char>(s2 + refValue(in[3]));
      in += 4;
    } else if (in[2] == '=') {
      in += 2;
    } else {
      *p++ = static_cast<unsigned char>((s1 + (refValue(in[2]) << 6)) >> 8);
      in += 3;
    }
  }
  *p = 0;
  *out_len = static_cast<size_t>(p - out);
  return out;
}

// ---------------------------------------------------------------------------
// Benchmarks

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

using DecodeFn = unsigned char* (*)(const char*, size_t*);

// Decoding of the base64 text of state.range(0) random bytes.
void decode(benchmark::State& state, DecodeFn fn) {
  std::vector<uint8_t> in = input(static_cast<size_t>(state.range(0)));
  char* text = base64_encode(in.data(), in.size());
  size_t len = 0;
  unsigned char* check = fn(text, &len);
  if (check == nullptr || len != in.size() || std::memcmp(check, in.data(), len) != 0) {
    state.SkipWithError("wrong result");
  }
  std::free(check);
  for (auto _ : state) {
    unsigned char* out = fn(text, &len);
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
  std::free(text);
  report(state, in.size());
}

void Base64Decode(benchmark::State& state) { decode(state, base64_decode); }
void Base64DecodeReference(benchmark::State& state) { decode(state, refBase64Decode); }

using UbyteFn = uint8_t* (*)(const uint8_t*, size_t, const uint8_t*, size_t*);

// The byte layer one way on state.range(0) random bytes, or the other way on
// their ciphertext; checked against the cipher's own result first.
void ubyte(benchmark::State& state, UbyteFn fn, bool decrypt) {
  std::vector<uint8_t> plain = input(static_cast<size_t>(state.range(0)));
  size_t cipher_len = 0;
  uint8_t* cipher = vorn_ubyte_encrypt(plain.data(), plain.size(), kKey, &cipher_len);
  const uint8_t* in = decrypt ? cipher : plain.data();
  size_t in_len = decrypt ? cipher_len : plain.size();
  const uint8_t* want = decrypt ? plain.data() : cipher;
  size_t want_len = decrypt ? plain.size() : cipher_len;
  size_t len = 0;
  uint8_t* check = fn(in, in_len, kKey, &len);
  if (check == nullptr || len != want_len || std::memcmp(check, want, len) != 0 || check[len] != 0) {
    state.SkipWithError("wrong result");
  }
  std::free(check);
  for (auto _ : state) {
    uint8_t* out = fn(in, in_len, kKey, &len);
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
  std::free(cipher);
  report(state, plain.size());
}

using FramingFn = uint8_t* (*)(const uint8_t*, size_t, size_t*);

// The framing alone, without the cipher: bytes to words with the length word,
// and back through the length check.
uint8_t* framing(const uint8_t* data, size_t len, size_t* out_len) {
  size_t words = 0;
  uint32_t* v = vorn_to_uint_array(data, len, 1, &words);
  if (v == nullptr) return nullptr;
  uint8_t* out = vorn_to_ubyte_array(v, words, 1, out_len);
  std::free(v);
  return out;
}

uint8_t* refFraming(const uint8_t* data, size_t len, size_t* out_len) {
  size_t words = 0;
  uint32_t* v = refPack(data, len, true, &words);
  if (v == nullptr) return nullptr;
  size_t m = v[words - 1];
  uint8_t* out = m + 7 >= 4 * words && m + 4 <= 4 * words ? refUnpack(v, m) : nullptr;
  std::free(v);
  if (out != nullptr) *out_len = m;
  return out;
}

void frame(benchmark::State& state, FramingFn fn) {
  std::vector<uint8_t> in = input(static_cast<size_t>(state.range(0)));
  size_t len = 0;
  uint8_t* check = fn(in.data(), in.size(), &len);
  if (check == nullptr || len != in.size() || std::memcmp(check, in.data(), len) != 0 || check[len] != 0) {
    state.SkipWithError("wrong result");
  }
  std::free(check);
  for (auto _ : state) {
    uint8_t* out = fn(in.data(), in.size(), &len);
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
  report(state, in.size());
}

void Framing(benchmark::State& state) { frame(state, framing); }
void FramingReference(benchmark::State& state) { frame(state, refFraming); }

void UbyteEncrypt(benchmark::State& state) { ubyte(state, vorn_ubyte_encrypt, false); }
void UbyteEncryptReference(benchmark::State& state) { ubyte(state, refUbyteEncrypt, false); }
void UbyteDecrypt(benchmark::State& state) { ubyte(state, vorn_ubyte_decrypt, true); }
void UbyteDecryptReference(benchmark::State& state) { ubyte(state, refUbyteDecrypt, true); }

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
BENCHMARK(Encrypt)->Arg(315)->Arg(64 << 10);
BENCHMARK(Decrypt)->Arg(315)->Arg(64 << 10);

// Pairs: each benchmark NAME beside NAMEReference, at 16 bytes to 64 KiB.
void pairSizes(benchmark::internal::Benchmark* b) {
  for (int64_t bytes : {16, 315, 4 << 10, 64 << 10}) b->Arg(bytes);
}
BENCHMARK(Base64Decode)->Apply(pairSizes);
BENCHMARK(Base64DecodeReference)->Apply(pairSizes);
BENCHMARK(Framing)->Apply(pairSizes);
BENCHMARK(FramingReference)->Apply(pairSizes);
BENCHMARK(UbyteEncrypt)->Apply(pairSizes);
BENCHMARK(UbyteEncryptReference)->Apply(pairSizes);
BENCHMARK(UbyteDecrypt)->Apply(pairSizes);
BENCHMARK(UbyteDecryptReference)->Apply(pairSizes);

// The console table, then the ratio of each pair: the fastest CPU time per
// iteration of NAME over that of NAMEReference, over all repetitions. The
// fastest run is the one least disturbed by other work on the machine.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
      double t = r.GetAdjustedCPUTime();
      auto [it, fresh] = fastest_.try_emplace(r.run_name.function_name + "/" + r.run_name.args, t);
      if (!fresh && t < it->second) it->second = t;
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    const std::string suffix = "Reference/";
    bool header = false;
    for (const auto& [name, ref_time] : fastest_) {
      size_t at = name.find(suffix);
      if (at == std::string::npos) continue;
      std::string ours = name.substr(0, at) + "/" + name.substr(at + suffix.size());
      auto it = fastest_.find(ours);
      if (it == fastest_.end()) continue;
      if (!header) std::printf("\n%-24s %12s %12s %7s\n", "ours / reference", "ours", "reference", "ratio");
      header = true;
      std::printf("%-24s %12.1f %12.1f %7.3f\n", ours.c_str(), it->second, ref_time, it->second / ref_time);
    }
  }

 private:
  std::map<std::string, double> fastest_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
