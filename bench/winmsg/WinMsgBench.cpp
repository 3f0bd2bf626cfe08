// Cost of messages between programs, against a bare Unix-socket round trip between two threads
// (the least any message to another program can cost). Needs the winmsg-peer test program in the
// build's program folder.
#include "platform/winmsg/WinMsg.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace kestrom::winmsg;

namespace {

HWND peerWindow = 0;

void BM_RawSocketRoundTrip(benchmark::State& state) {
  int fds[2];
  socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
  std::thread echo([fd = fds[1]] {
    char buffer[56];
    while (read(fd, buffer, sizeof buffer) == sizeof buffer) (void)!write(fd, buffer, 24);
  });
  char request[56] = {}, reply[24];
  for (auto _ : state) {
    (void)!write(fds[0], request, sizeof request);
    (void)!read(fds[0], reply, sizeof reply);
  }
  shutdown(fds[0], SHUT_RDWR);
  echo.join();
  close(fds[0]);
  close(fds[1]);
}
BENCHMARK(BM_RawSocketRoundTrip);

void BM_SendMessageToOtherProgram(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(SendMessageTimeout(peerWindow, WM_USER + 3, 1, 2, 5000).result);
}
BENCHMARK(BM_SendMessageToOtherProgram);

void BM_SendCopyData(benchmark::State& state) {
  const QByteArray bytes(static_cast<int>(state.range(0)), 'x');
  for (auto _ : state) benchmark::DoNotOptimize(SendCopyData(peerWindow, 0, 0, bytes, 5000).result);
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SendCopyData)->Arg(101)->Arg(64 << 10)->Arg(1 << 20);

void BM_FindWindowByTitle(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(FindWindow("", "Bench Hidden"));
}
BENCHMARK(BM_FindWindowByTitle);

// Collects each run's time to print ratios against the baseline at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) times[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  QTemporaryDir runtime;
  qputenv("KESTROM_RUNTIME_DIR", runtime.filePath("run").toLocal8Bit());

  // Its output is not read during the runs, so it goes nowhere rather than filling a pipe.
  QProcess peer;
  peer.setStandardOutputFile(QProcess::nullDevice());
  peer.start(QDir(QCoreApplication::applicationDirPath()).filePath("../bin/winmsg-peer"),
             {"--title", "Bench Visible", "--class", "TBench", "--hidden-title", "Bench Hidden", "--hidden-class", "TBench"});
  for (int i = 0; i < 1000 && !peerWindow && peer.state() != QProcess::NotRunning; ++i) {
    peerWindow = FindWindow("TBench", "Bench Visible");
    if (!peerWindow) QThread::msleep(10);
  }
  if (!peerWindow) {
    std::fprintf(stderr, "winmsg-peer did not start\n");
    return 1;
  }

  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double base = reporter.times["BM_RawSocketRoundTrip"];
  if (base > 0) {
    for (const auto& [name, time] : reporter.times)
      std::printf("%-40s %8.1f x raw socket round trip\n", name.c_str(), time / base);
  }
  peer.kill();
  peer.waitForFinished(5000);
  return 0;
}
