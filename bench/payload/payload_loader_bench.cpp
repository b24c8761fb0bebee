// The whole payload loader (read, decrypt in place, hash, verify) on a 32 MiB
// container against a baseline that only decrypts with EVP AES-128-CBC and
// hashes with SHA-1 over the same bytes. Heap use is counted by wrapping the
// C allocator, so libcrypto's and the C library's allocations count too.
//
//   build/bench/bench/payload/payload_loader_bench
//
// Counters: peak_heap_over_ciphertext is the loader's peak heap use minus the
// ciphertext buffer; decrypt_heap_bytes is what decryption allocates.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "crypto/nimbo.h"
#include "host/payload_loader.h"
#include "tools/mkpayload/key_set.h"
#include "tools/mkpayload/payload_writer.h"

// --- Heap accounting --------------------------------------------------------

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);
}

namespace {
std::atomic<long long> heapInUse{0};
std::atomic<long long> heapPeak{0};

void* counted(void* pointer) {
  if (pointer != nullptr) {
    const long long now = heapInUse += static_cast<long long>(malloc_usable_size(pointer));
    long long peak = heapPeak.load(std::memory_order_relaxed);
    while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) {
    }
  }
  return pointer;
}
void uncount(void* pointer) {
  if (pointer != nullptr) heapInUse -= static_cast<long long>(malloc_usable_size(pointer));
}
void resetPeak() { heapPeak = heapInUse.load(); }
}  // namespace

extern "C" {
void* malloc(size_t size) { return counted(__libc_malloc(size)); }
void* calloc(size_t count, size_t size) { return counted(__libc_calloc(count, size)); }
void* realloc(void* pointer, size_t size) {
  uncount(pointer);
  return counted(__libc_realloc(pointer, size));
}
void free(void* pointer) {
  uncount(pointer);
  __libc_free(pointer);
}
void* memalign(size_t alignment, size_t size) { return counted(__libc_memalign(alignment, size)); }
void* aligned_alloc(size_t alignment, size_t size) { return counted(__libc_memalign(alignment, size)); }
int posix_memalign(void** out, size_t alignment, size_t size) {
  void* pointer = counted(__libc_memalign(alignment, size));
  if (pointer == nullptr) return 12;  // ENOMEM
  *out = pointer;
  return 0;
}
}

// --- The 32 MiB payload -----------------------------------------------------

namespace {

constexpr size_t kContainerBytes = 32u << 20;
constexpr size_t kImageBytes = 256u << 10;

struct Payload {
  std::string path;
  std::vector<uint8_t> cipher;  // the ciphertext as stored, for the baseline
  uint8_t key[16];
  uint8_t iv[16];
};

const Payload& payload() {
  static const Payload made = [] {
    Payload p;
    mkpayload::KeySet keys;
    std::string error;
    if (!mkpayload::readKeySet(UPDATETOOL_BENCH_KEY_DIR, keys, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
    std::vector<uint8_t> container(kContainerBytes), file(kImageBytes, 0x90), appended;
    for (size_t i = 0; i < container.size(); ++i) container[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    const uint32_t stamp = 1700000000;
    if (!mkpayload::buildPayload(keys, container, stamp, file.size(), appended, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
    file.insert(file.end(), appended.begin(), appended.end());
    char name[] = "/tmp/payload-bench-XXXXXX";
    const int fd = mkstemp(name);
    close(fd);
    p.path = name;
    std::ofstream(p.path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                  static_cast<std::streamsize>(file.size()));
    p.cipher.assign(appended.begin() + 138, appended.end() - 34);
    std::copy(keys.cipherKey.begin(), keys.cipherKey.end(), p.key);
    const uint8_t stampBytes[4] = {0x65, 0x53, 0xF1, 0x00};  // 1700000000
    std::copy(stampBytes, stampBytes + 4, p.iv);
    std::copy(keys.ivTail.begin(), keys.ivTail.end(), p.iv + 4);
    // Kept outside `p`, which is destroyed before the exit handlers run.
    static char fileToRemove[sizeof name];
    std::memcpy(fileToRemove, name, sizeof name);
    std::atexit([] { std::remove(fileToRemove); });
    return p;
  }();
  return made;
}

void BM_Loader(benchmark::State& state) {
  const Payload& p = payload();
  size_t length = 0;
  std::unique_ptr<uint8_t[]> plain;
  // One counted run for the memory figure.
  const long long before = heapInUse.load();
  resetPeak();
  if (!loadPayloadFile(p.path, compiledPayloadKeys(), &length, &plain)) state.SkipWithError("refused");
  const long long peakOverCipher = heapPeak.load() - before - static_cast<long long>(p.cipher.size());
  plain.reset();
  for (auto _ : state) {
    if (!loadPayloadFile(p.path, compiledPayloadKeys(), &length, &plain)) state.SkipWithError("refused");
    benchmark::DoNotOptimize(plain.get());
    plain.reset();
  }
  state.counters["peak_heap_over_ciphertext"] = static_cast<double>(peakOverCipher);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.cipher.size()));
}

void BM_DecryptInPlaceHeap(benchmark::State& state) {
  const Payload& p = payload();
  std::vector<uint8_t> data = p.cipher;
  long long allocated = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::copy(p.cipher.begin(), p.cipher.end(), data.begin());
    state.ResumeTiming();
    CipherContext ctx;
    nimbo_CryptStart(p.key, 128, p.iv, &ctx, 16);
    const long long before = heapInUse.load();
    resetPeak();
    size_t length = data.size();
    if (nimbo_Crypt(data.data(), data.size() * 8, data.data(), &length, nimbo::kDecrypt, &ctx, 1) != 0)
      state.SkipWithError("decryption failed");
    allocated = heapPeak.load() - before;
  }
  state.counters["decrypt_heap_bytes"] = static_cast<double>(allocated);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.cipher.size()));
}

void BM_BaselineEvpDecryptAndSha1(benchmark::State& state) {
  const Payload& p = payload();
  std::vector<uint8_t> plain(p.cipher.size());
  uint8_t digest[20];
  for (auto _ : state) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int n = 0, tail = 0;
    EVP_DecryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, p.key, p.iv);
    EVP_DecryptUpdate(ctx, plain.data(), &n, p.cipher.data(), static_cast<int>(p.cipher.size()));
    EVP_DecryptFinal_ex(ctx, plain.data() + n, &tail);
    EVP_CIPHER_CTX_free(ctx);
    unsigned int digestLength = 0;
    EVP_Digest(plain.data(), static_cast<size_t>(n + tail), digest, &digestLength, EVP_sha1(), nullptr);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.cipher.size()));
}

BENCHMARK(BM_Loader)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_BaselineEvpDecryptAndSha1)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DecryptInPlaceHeap)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
