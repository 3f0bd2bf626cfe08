// tfcatch_pack <module> <packed>: packs the companion module for the program's data. The packed
// image is the expanded size (signed 32-bit, little-endian) followed by records until its end:
// a count n > 0 followed by n literal bytes, or a count n <= 0 followed by one byte written -n
// times.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

// A run shorter than this costs more as its own record than inside the literal around it.
constexpr size_t kMinRun = 10;

void PutCount(std::vector<uint8_t>& out, int32_t n) {
  const uint32_t u = static_cast<uint32_t>(n);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

std::vector<uint8_t> Pack(const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out;
  PutCount(out, static_cast<int32_t>(in.size()));
  size_t literalStart = 0, i = 0;
  auto flushLiteral = [&](size_t end) {
    if (end > literalStart) {
      PutCount(out, static_cast<int32_t>(end - literalStart));
      out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(literalStart),
                 in.begin() + static_cast<std::ptrdiff_t>(end));
    }
  };
  while (i < in.size()) {
    size_t run = 1;
    while (i + run < in.size() && in[i + run] == in[i] && run < 0x7FFFFFFF) ++run;
    if (run >= kMinRun) {
      flushLiteral(i);
      PutCount(out, -static_cast<int32_t>(run));
      out.push_back(in[i]);
      i += run;
      literalStart = i;
    } else {
      i += run;
    }
  }
  flushLiteral(in.size());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tfcatch_pack <module> <packed>\n");
    return 2;
  }
  std::ifstream input(argv[1], std::ios::binary);
  if (!input) {
    std::fprintf(stderr, "tfcatch_pack: cannot read %s\n", argv[1]);
    return 1;
  }
  const std::vector<uint8_t> module((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
  if (module.empty() || module.size() > 64u * 1024 * 1024) {
    std::fprintf(stderr, "tfcatch_pack: %s is empty or larger than 64 MB\n", argv[1]);
    return 1;
  }
  const std::vector<uint8_t> packed = Pack(module);
  std::ofstream output(argv[2], std::ios::binary | std::ios::trunc);
  output.write(reinterpret_cast<const char*>(packed.data()), static_cast<std::streamsize>(packed.size()));
  if (!output.flush()) {
    std::fprintf(stderr, "tfcatch_pack: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
