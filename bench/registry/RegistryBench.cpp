// What a registry call costs against the least it could cost:
// - a query of an unchanged hive against one stat() of the hive file (the check every call makes);
// - a change against writing the same bytes atomically (temporary file, fdatasync, rename).
// The hive holds 500 values, about what the capture engine keeps for its devices and formats.
#include "platform/registry/Registry.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <functional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestrom::registry;

namespace {

constexpr int kValues = 500;

struct Setup {
  QTemporaryDir dir;
  HKEY key = nullptr;
  Setup() {
    SetRegistryDirectory(dir.path());
    RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\TFramecatcher\\Devices\\Cam", 0, nullptr, 0, KEY_ALL_ACCESS,
                   nullptr, &key, nullptr);
    for (int i = 0; i < kValues; ++i) {
      const DWORD v = static_cast<DWORD>(i);
      RegSetValueEx(key, QString("Setting%1").arg(i), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
    }
  }
};

Setup& TheSetup() {
  static Setup setup;
  return setup;
}

double SecondsPerOp(int n, const std::function<void()>& op) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) op();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / n;
}

double StatBaseline() {
  static const double seconds = [] {
    const QByteArray path = QFile::encodeName(HiveFilePath(HKEY_CURRENT_USER));
    return SecondsPerOp(20000, [&] {
      struct stat st {};
      benchmark::DoNotOptimize(stat(path.constData(), &st));
    });
  }();
  return seconds;
}

double AtomicWriteBaseline() {
  static const double seconds = [] {
    QFile hive(HiveFilePath(HKEY_CURRENT_USER));
    hive.open(QIODevice::ReadOnly);
    const QByteArray bytes = hive.readAll();
    const QByteArray target = QFile::encodeName(TheSetup().dir.filePath("baseline.reg"));
    return SecondsPerOp(200, [&] {
      QByteArray temp = target + ".XXXXXX";
      const int fd = mkstemp(temp.data());
      benchmark::DoNotOptimize(write(fd, bytes.constData(), static_cast<size_t>(bytes.size())));
      fdatasync(fd);
      close(fd);
      rename(temp.constData(), target.constData());
    });
  }();
  return seconds;
}

void Ratio(benchmark::State& state, double seconds, double baseline) {
  state.counters["x_baseline"] = seconds / baseline;
}

void BM_QueryUnchangedHive(benchmark::State& state) {
  HKEY key = TheSetup().key;
  const double baseline = StatBaseline();
  DWORD value = 0, size = 4;
  const auto start = std::chrono::steady_clock::now();
  int64_t n = 0;
  for (auto _ : state) {
    size = 4;
    benchmark::DoNotOptimize(RegQueryValueEx(key, "Setting250", nullptr, nullptr,
                                             reinterpret_cast<BYTE*>(&value), &size));
    ++n;
  }
  Ratio(state, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / n, baseline);
}
BENCHMARK(BM_QueryUnchangedHive);

void BM_SetValueInto500(benchmark::State& state) {
  HKEY key = TheSetup().key;
  const double baseline = AtomicWriteBaseline();
  DWORD value = 0;
  const auto start = std::chrono::steady_clock::now();
  int64_t n = 0;
  for (auto _ : state) {
    ++value;
    benchmark::DoNotOptimize(RegSetValueEx(key, "Setting250", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4));
    ++n;
  }
  Ratio(state, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / n, baseline);
}
BENCHMARK(BM_SetValueInto500);

}  // namespace

BENCHMARK_MAIN();
