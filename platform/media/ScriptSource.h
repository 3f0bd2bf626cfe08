#pragma once
// Frame-server scripts (".avs"): the capture program writes them to trim a recording and split it
// into fields before re-encoding, and a coach may write them by hand in the same style.
//
// Understood: DirectShowSource(path), AVISource(path), Trim(first, last), SeparateFields,
// SelectOdd, SelectEven, Bob; variables ("x = AVISource(...)"), the implicit clip "last",
// method chains (clip.Trim(0, 9).Bob) and nested calls, "return", '#' comments. Names are not
// case-sensitive; strings are double-quoted without escapes; one statement a line. Anything else
// fails with a message naming the line and what was not understood.

#include "platform/media/FrameSource.h"

#include <memory>

struct AVFrame;

namespace kestrom::media {

class ScriptSource final : public FrameSource {
 public:
  /** @brief Runs the script; nullptr with a message naming the line on any fault. */
  static std::unique_ptr<ScriptSource> Open(const QString& path, QString* error, int depth = 0);
  /** @brief Runs script text as if read from path (relative sources resolve beside path). */
  static std::unique_ptr<ScriptSource> FromText(const QString& text, const QString& path, QString* error,
                                                int depth = 0);

  const ClipInfo& Info() const override { return clip_->Info(); }
  QImage Frame(int64_t n, QSize size = {}) override { return clip_->Frame(n, size); }
  bool ReadAudio(int64_t first, int64_t count, std::vector<int16_t>& out) override {
    return clip_->ReadAudio(first, count, out);
  }
  bool IsTopField(int64_t n) const override { return clip_->IsTopField(n); }
  ReaderStats Stats() const override { return clip_->Stats(); }
  void SetCacheBudget(size_t bytes) override { clip_->SetCacheBudget(bytes); }

  /**
   * @brief Frame n of any source as planar 4:2:0 (YUV420P) at its natural size, a counted
   * reference put in picture: a file's decoded picture as it is, a script's run through its
   * filters without a colour conversion (fields are views of their frame's lines). False when n
   * is out of range or a source does not decode to planar 4:2:0; Frame() serves those. Whatever
   * picture held before is released.
   */
  static bool PlanarFrame(FrameSource& source, int64_t n, AVFrame* picture);

 private:
  explicit ScriptSource(std::shared_ptr<FrameSource> clip) : clip_(std::move(clip)) {}
  std::shared_ptr<FrameSource> clip_;
};

}  // namespace kestrom::media
