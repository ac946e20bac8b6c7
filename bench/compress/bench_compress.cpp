// Throughput of the EFI 1.1 codec beside gzip -6 and gunzip on the same files: MiB/s of
// original data for compression and decompression (best of N runs), and the compressed
// sizes. gzip and gunzip run as processes on files in the build folder, so their times
// include process start-up (about a millisecond).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compress/efi_codec.h"
#include "fuzz_pool.h"
#include "runtime/memory.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

template <class F> double best_of(int runs, F f) {
    double best = 1e30;
    for (int i = 0; i < runs; i++) {
        auto start = Clock::now();
        f();
        double t = seconds_since(start);
        if (t < best) best = t;
    }
    return best;
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

long file_size(const std::string& path) {
    std::ifstream f(path, std::ios::binary | std::ios::ate);
    return f ? static_cast<long>(f.tellg()) : -1;
}

double mib_per_s(size_t bytes, double t) { return bytes / (1024.0 * 1024.0) / t; }

}  // namespace

int main(int argc, char** argv) {
    fuzz::install_pool();
    int runs = 5;
    std::vector<std::string> files;
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--runs") && i + 1 < argc) runs = atoi(argv[++i]);
        else files.push_back(argv[i]);
    }
    std::string tmp = "/tmp/tarn-compress-bench-" + std::to_string(getpid());
    printf("%-22s %10s | %10s %9s %9s | %10s %9s %9s\n", "file", "size", "efi size", "comp MiB/s",
           "dec MiB/s", "gzip size", "gzip -6", "gunzip");
    int failures = 0;
    for (const std::string& path : files) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            fprintf(stderr, "cannot read %s\n", path.c_str());
            return 2;
        }
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        uint8_t* image = nullptr;
        uint64_t image_size = 0;
        double tc = best_of(runs, [&] {
            tarn::release(image);
            if (!tarn::efi_compress(data.data(), data.size(), &image, &image_size)) abort();
        });
        uint8_t* out = nullptr;
        uint64_t out_size = 0;
        double td = best_of(runs, [&] {
            tarn::release(out);
            if (tarn::efi_decompress(image, image_size, &out, &out_size) != 0) abort();
        });
        if (out_size != data.size() || memcmp(out, data.data(), data.size()) != 0) {
            fprintf(stderr, "%s: round trip differs\n", path.c_str());
            failures++;
        }
        tarn::release(out);
        tarn::release(image);

        const std::string gz = tmp + ".gz";
        double tg = best_of(runs, [&] {
            if (std::system(("gzip -6 -c " + quoted(path) + " > " + quoted(gz)).c_str()) != 0) abort();
        });
        double tu = best_of(runs, [&] {
            if (std::system(("gunzip -c " + quoted(gz) + " > /dev/null").c_str()) != 0) abort();
        });
        long gz_size = file_size(gz);
        std::remove(gz.c_str());

        const char* name = strrchr(path.c_str(), '/');
        name = name ? name + 1 : path.c_str();
        printf("%-22s %10zu | %10llu %9.1f %9.1f | %10ld %9.1f %9.1f\n", name, data.size(),
               static_cast<unsigned long long>(image_size), mib_per_s(data.size(), tc),
               mib_per_s(data.size(), td), gz_size, mib_per_s(data.size(), tg), mib_per_s(data.size(), tu));
    }
    return failures ? 1 : 0;
}
