// What one process-log line costs once the log is long, against the least it could cost: opening
// the file, appending the same bytes and closing it. The file must always hold the whole log, so
// the cost must not grow with the log's length (rewriting it whole would).
#include "capture/engine/EngineLog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>

using namespace kestrom::engine;

namespace {

double AppendBaseline(const QString& path) {
  const QByteArray line = "0.000 46 ERROR: no video device selected\r\n";
  const int n = 2000;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) {
    QFile f(path);
    f.open(QIODevice::Append);
    f.write(line);
    f.flush();
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / n;
}

void LogLineOnALongLog(benchmark::State& state) {
  QTemporaryDir dir;
  const QString previous = QDir::currentPath();
  QDir::setCurrent(dir.path());
  ResetProcessLog();
  EnableProcessLog();
  for (int64_t i = 0; i < state.range(0); ++i) WriteLog(QStringLiteral("46 ERROR: no video device selected"));
  const double baseline = AppendBaseline(dir.filePath("baseline.txt"));
  int64_t lines = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    WriteLog(QStringLiteral("46 ERROR: no video device selected"));
    ++lines;
  }
  const double perLine = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / lines;
  state.counters["us_per_line"] = perLine * 1e6;
  state.counters["ratio_to_append"] = perLine / baseline;
  ResetProcessLog();
  QDir::setCurrent(previous);
}

}  // namespace

BENCHMARK(LogLineOnALongLog)->Arg(1000)->Arg(20000)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
