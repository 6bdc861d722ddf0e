// Decoding speed and memory of an upgrade file holding a firmware image:
//   bench_decode [--image-bytes N] [--runs R]
// Prints the median and fastest wall time of decodeUpgradeFile, the time of
// each layer, a plain zlib inflate of the same stream for comparison and the
// ratio of the two, the peak heap the decoder holds (counted by this
// program's operator new) and how far the resident memory of a fresh process
// rises while it decodes.
#include "upgrade_file/decode_upgrade_file.h"
#include "upgrade_file/encode_upgrade_file.h"
#include "upgrade_file/hex_image.h"
#include "upgrade_file/key_setup.h"
#include "upgrade_file/md5.h"
#include "upgrade_file/packed_block.h"
#include "upgrade_file/rc4.h"
#include "upgrade_file/tag_lines.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

extern char** environ;

// ---- heap accounting: every operator new records its size in a header ----

namespace {
std::atomic<long long> liveBytes{0};
std::atomic<long long> peakBytes{0};
constexpr std::size_t kHeader = 16;

void* countedAlloc(std::size_t size) {
    auto* raw = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (!raw) return nullptr;
    std::memcpy(raw, &size, sizeof size);
    long long now = liveBytes += static_cast<long long>(size);
    long long peak = peakBytes.load();
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
    return raw + kHeader;
}

void countedFree(void* p) {
    if (!p) return;
    auto* raw = static_cast<unsigned char*>(p) - kHeader;
    std::size_t size;
    std::memcpy(&size, raw, sizeof size);
    liveBytes -= static_cast<long long>(size);
    std::free(raw);
}
} // namespace

void* operator new(std::size_t size) {
    if (void* p = countedAlloc(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = countedAlloc(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return countedAlloc(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return countedAlloc(size); }
void operator delete(void* p) noexcept { countedFree(p); }
void operator delete[](void* p) noexcept { countedFree(p); }
void operator delete(void* p, std::size_t) noexcept { countedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { countedFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { countedFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { countedFree(p); }

namespace {

using Clock = std::chrono::steady_clock;

// A firmware-like image: code-like random stretches between tables, text and
// erased (0xFF) areas, so that it compresses roughly as real images do.
mub::Bytes makeImage(std::size_t size) {
    mub::Bytes image(size);
    std::uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<std::uint8_t>(state >> 24);
    };
    for (std::size_t k = 0; k < size; ++k) {
        std::size_t region = (k / 4096) % 4;
        if (region == 0 || region == 1) image[k] = next();                       // code
        else if (region == 2) image[k] = static_cast<std::uint8_t>(k * 13 % 61); // tables
        else image[k] = 0xFF;                                                    // erased flash
    }
    return image;
}

double medianOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The value below which a share `q` (0..1) of the sorted values lie.
double quantileOf(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1) + 0.5)];
}

struct Elapsed {
    double wallMs = 0;
    double cpuMs = 0; // this thread's own CPU time: waits for other programs are not in it
};

double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

Elapsed timeOnce(const std::function<void()>& work) {
    auto start = Clock::now();
    double cpuStart = threadCpuMs();
    work();
    return {std::chrono::duration<double, std::milli>(Clock::now() - start).count(), threadCpuMs() - cpuStart};
}

struct Timing {
    double median = 0;
    double fastest = 0;
};

Timing summary(const std::vector<double>& ms) { return {medianOf(ms), *std::min_element(ms.begin(), ms.end())}; }

Timing timeIt(int runs, const std::function<void()>& work) {
    std::vector<double> ms;
    for (int r = 0; r < runs; ++r) ms.push_back(timeOnce(work).wallMs);
    return summary(ms);
}

mub::Bytes readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return mub::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"), or -1.
long statusKib(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    std::string prefix = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    return -1;
}

// Child process: reads the file, resets its resident-memory high-water mark,
// decodes once and prints how far the resident memory rose above what it was.
int runChild(const char* path) {
    mub::Bytes file = readFile(path);
    long before = statusKib("VmRSS");
    std::ofstream("/proc/self/clear_refs") << "5";
    bool ok = mub::decodeUpgradeFile(file).ok();
    long peak = statusKib("VmHWM");
    if (!ok || before < 0 || peak < 0) return 1;
    std::printf("peak RSS rise during decode (fresh process): %.2f MiB (resident before decoding: %.2f MiB)\n",
                static_cast<double>(peak - before) / 1024, static_cast<double>(before) / 1024);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--child-decode") == 0) return runChild(argv[2]);

    std::size_t imageBytes = 1 << 20;
    int runs = 31;
    for (int k = 1; k < argc; ++k) {
        std::string arg = argv[k];
        if (arg == "--image-bytes" && k + 1 < argc) imageBytes = std::strtoull(argv[++k], nullptr, 10);
        else if (arg == "--runs" && k + 1 < argc) runs = std::max(1, std::atoi(argv[++k]));
        else {
            std::fprintf(stderr, "usage: bench_decode [--image-bytes N] [--runs R]\n");
            return 1;
        }
    }

    mub::Bytes image = makeImage(imageBytes);
    std::optional<mub::Bytes> encoded = mub::encodeUpgradeFile({"BENCH-1", "HW-1.0", "2.1"}, image);
    if (!encoded) {
        std::fprintf(stderr, "bench_decode: image too large\n");
        return 1;
    }
    const mub::Bytes& file = *encoded;

    // The layers, produced once for the per-layer timings.
    const std::string& keyText = mub::upgradeKey();
    std::span<const std::uint8_t> key(reinterpret_cast<const std::uint8_t*>(keyText.data()), keyText.size());
    mub::Bytes block = file;
    mub::Rc4(key).apply(block);
    mub::Payload payload = mub::unpackBlock(block);
    std::string payloadText(reinterpret_cast<const char*>(payload.buffer.get()), payload.size);
    std::string_view body(payloadText.data(), payloadText.size() - 32);
    mub::TagValues values = mub::parseTagLines(body);

    std::printf("image:           %zu bytes\n", image.size());
    std::printf("file:            %zu bytes (payload %zu bytes, declared capacity %d bytes)\n", file.size(),
                payload.size, mub::payloadCapacity(static_cast<std::int32_t>(payload.size)));
    std::printf("runs:            %d (median / fastest, milliseconds)\n\n", runs);

    auto decodeWork = [&] {
        mub::DecodeResult r = mub::decodeUpgradeFile(file);
        if (!r.ok() || r.image != image) std::abort();
    };
    // Plain zlib: one inflate of the same (deciphered) stream into a ready buffer.
    std::span<const std::uint8_t> stream = std::span<const std::uint8_t>(block).subspan(mub::kPackedHeaderSize);
    mub::Bytes out(payload.size);
    auto inflateWork = [&] {
        z_stream zs{};
        inflateInit(&zs);
        zs.next_in = const_cast<Bytef*>(stream.data());
        zs.avail_in = static_cast<uInt>(stream.size());
        zs.next_out = out.data();
        zs.avail_out = static_cast<uInt>(out.size());
        if (inflate(&zs, Z_FINISH) != Z_STREAM_END) std::abort();
        inflateEnd(&zs);
    };

    // Decoding and the plain inflate run in turns (each going first every
    // other time), so that both meet the same load from other programs on
    // the machine; the ratio is taken within each pair.
    std::vector<double> decodeMs, inflateMs, wallRatios, cpuRatios;
    for (int r = 0; r < runs; ++r) {
        Elapsed d, i;
        if (r % 2) {
            i = timeOnce(inflateWork);
            d = timeOnce(decodeWork);
        } else {
            d = timeOnce(decodeWork);
            i = timeOnce(inflateWork);
        }
        decodeMs.push_back(d.wallMs);
        inflateMs.push_back(i.wallMs);
        wallRatios.push_back(d.wallMs / i.wallMs);
        cpuRatios.push_back(d.cpuMs / i.cpuMs);
    }
    Timing decode = summary(decodeMs);
    Timing inflateOnly = summary(inflateMs);

    Timing rc4 = timeIt(runs, [&] {
        mub::Bytes copy = file;
        mub::Rc4(key).apply(copy);
    });
    Timing unpack = timeIt(runs, [&] { mub::unpackBlock(block); });
    Timing md5 = timeIt(runs, [&] { mub::md5Hex(body); });
    Timing tags = timeIt(runs, [&] { mub::parseTagLines(body); });
    Timing hex = timeIt(runs, [&] { mub::hexToImage(values.data); });

    auto row = [&](const char* name, Timing t) {
        std::printf("%-20s %8.2f / %8.2f   %5.2f\n", name, t.median, t.fastest, t.median / inflateOnly.median);
    };
    std::printf("%-20s %8s   %8s   %s\n", "", "median", "fastest", "x inflate");
    row("decodeUpgradeFile", decode);
    row("  decipher (RC4)", rc4);
    row("  unpack (inflate)", unpack);
    row("  digest (MD5)", md5);
    row("  tag lines", tags);
    row("  hex image", hex);
    row("plain zlib inflate", inflateOnly);
    auto ratioLine = [&](const char* clock, const std::vector<double>& ratios) {
        std::printf("ratio decode / inflate, %s: %.2f (median of %d paired runs; middle half %.2f to %.2f)\n", clock,
                    medianOf(ratios), runs, quantileOf(ratios, 0.25), quantileOf(ratios, 0.75));
    };
    std::printf("\n");
    ratioLine("wall time", wallRatios);
    ratioLine("CPU time ", cpuRatios);
    std::printf("  decode:  the whole of decodeUpgradeFile on the file's bytes (RC4 over the file, inflate,\n"
                "           MD5 over the body, tag lines, hex image, every buffer it allocates)\n"
                "  inflate: inflateInit, one inflate and inflateEnd of the deciphered stream into a ready buffer\n"
                "  CPU time is the benchmark thread's own: time other programs held the processor is left out\n"
                "  RC4 and MD5 are work inflate does not do; alone they take %.2f x inflate (medians)\n\n",
                (rc4.median + md5.median) / inflateOnly.median);

    // Heap held at once during one decode, beyond what was live before it.
    long long before = liveBytes.load();
    peakBytes = before;
    { mub::DecodeResult r = mub::decodeUpgradeFile(file); }
    long long heapPeak = peakBytes.load() - before;
    std::printf("peak heap during decode: %.2f MiB (%.2f x the file, %.2f x the image; zlib's own ~40 KiB not counted)\n",
                static_cast<double>(heapPeak) / (1 << 20), static_cast<double>(heapPeak) / static_cast<double>(file.size()),
                static_cast<double>(heapPeak) / static_cast<double>(image.size()));

    // Peak resident memory of a fresh process that decodes the file once.
    char path[] = "/tmp/bench_decode_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return 1;
    bool written = write(fd, file.data(), file.size()) == static_cast<ssize_t>(file.size());
    close(fd);
    if (written) {
        std::fflush(stdout);
        std::string self = "/proc/self/exe", mode = "--child-decode";
        std::vector<char*> args = {self.data(), mode.data(), path, nullptr};
        pid_t pid;
        int status = 0;
        if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, args.data(), environ) == 0) waitpid(pid, &status, 0);
    }
    unlink(path);
    return 0;
}
