#pragma once
// Joins the exported frame files into an AVI video: the frame source, the "MPEG-4 V2" compressor,
// the AVI mux and the file writer in one filter graph, run without a clock so that frames go as
// fast as the encoder takes them. The video is written to a temporary file beside the target and
// renamed over it only when every frame is in; a failure or a cancel removes it, so the target is
// either the whole new video or untouched.

#include "analysis/exportavi/ExportProtocol.h"

#include <QString>
#include <memory>

namespace kestrom::exportavi {

enum class JoinState { Idle, Running, Finished, Failed, Cancelled };

class FrameJoiner {
 public:
  /** @brief A join of the frames in frameFolder as the arguments say. */
  FrameJoiner(ExportArguments arguments, QString frameFolder);
  /** @brief A join still running is cancelled. */
  ~FrameJoiner();
  FrameJoiner(const FrameJoiner&) = delete;
  FrameJoiner& operator=(const FrameJoiner&) = delete;

  /** @brief Checks the frames and the target folder, builds the graph and runs it; false: Error() says why. */
  bool Start();
  /**
   * @brief Handles what the graph reported, waiting up to waitMs for news; at the end the file is
   * put in place (Finished) or removed (Failed). Returns the state.
   */
  JoinState Poll(int waitMs = 0);
  /** @brief Stops the graph and removes the partial file (Cancelled). */
  void Cancel();

  JoinState State() const { return state_; }
  QString Error() const { return error_; }
  int FramesDone() const;
  int FrameCount() const { return arguments_.count; }
  const ExportArguments& Arguments() const { return arguments_; }

 private:
  class Graph;
  void Fail(const QString& error);
  void TearDown();

  ExportArguments arguments_;
  QString frameFolder_;
  QString partFile_;
  JoinState state_ = JoinState::Idle;
  QString error_;
  std::unique_ptr<Graph> graph_;
};

}  // namespace kestrom::exportavi
