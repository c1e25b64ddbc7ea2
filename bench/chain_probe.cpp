// bench_chain_probe FILE...: what the packer's compressor would gain with a shorter hash chain. The
// packer stores incompressible stretches and deflates the rest at zlib's level 9, whose chain is
// 4096; this deflates the given files (the compressible part of a payload: program code and text)
// the same way with chains of 4096, 1024 and 256 and prints the CPU time (best of three) and the
// output size.
#include <zlib.h>

#include <cstdio>
#include <ctime>
#include <exception>
#include <stdexcept>
#include <vector>

#include "bench/bench_files.h"

namespace {

double CpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The packer's settings (level 9, raw deflate, memLevel 8, good 32, lazy 258, nice 258) but `chain`.
size_t DeflateWithChain(const std::vector<uint8_t>& data, int chain, double& seconds) {
  z_stream stream{};
  if (deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  deflateTune(&stream, 32, 258, 258, chain);
  std::vector<uint8_t> out(deflateBound(&stream, static_cast<uLong>(data.size())));
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const double start = CpuSeconds();
  if (deflate(&stream, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  seconds = CpuSeconds() - start;
  const size_t size = stream.total_out;
  deflateEnd(&stream);
  return size;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: bench_chain_probe FILE...\n");
    return 2;
  }
  try {
    std::vector<uint8_t> data;
    for (int i = 1; i < argc; ++i) {
      const std::vector<uint8_t> file = ReadWholeFile(argv[i]);
      data.insert(data.end(), file.begin(), file.end());
    }
    printf("%zu bytes of compressible content\n", data.size());
    for (int chain : {4096, 1024, 256}) {
      double best = 1e9;
      size_t size = 0;
      for (int round = 0; round < 3; ++round) {
        double seconds = 0;
        size = DeflateWithChain(data, chain, seconds);
        if (seconds < best) best = seconds;
      }
      printf("chain %4d: %zu bytes, %.3f s CPU\n", chain, size, best);
    }
  } catch (const std::exception& error) {
    fprintf(stderr, "bench_chain_probe: %s\n", error.what());
    return 1;
  }
  return 0;
}
