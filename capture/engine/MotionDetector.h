#pragma once
// Motion detection between two video frames: a grid of cells over the picture, each with a
// sensitivity digit (0 switches the cell off), and a level between 0 and 1, the share of the
// sampled pixels that changed. Grey scale and noise reduction work on the detector's own copies,
// so the frames handed in (saved pictures, event data) are never touched.

#include "platform/core/FrameBits.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace kestrom::engine {

class TImplMotionDetector {
 public:
  TImplMotionDetector();

  bool Enabled = false;
  /** @brief Digit every cell gets when the grid is resized. */
  int DefaultDigit = 5;
  bool CompareBlue = true, CompareGreen = true, CompareRed = true;
  bool GreyScale = false;
  bool ReduceVideoNoise = false;
  /** @brief Sampling step in pixels for both directions; 0 picks one from the frame size. */
  int RequestedStep = 1;

  /** @brief Resizes the grid (both positive, else false), resets every cell to the default
   *  digit and makes the next comparison report nothing. */
  bool SetGridSize(int columns, int rows);
  /** @brief Every cell to the digit (0 to 9), through a grid text. */
  void SetAllCells(int digit);
  /**
   * @brief Applies a grid text: one group of digits per row, top row first, left column first,
   * groups separated by single blanks (a trailing blank is tolerated). An invalid text keeps the
   * previous grid and clears GridValid().
   */
  void SetGrid(const QString& text);
  /** @brief One cell's digit (0 to 9) and threshold; anything out of range is ignored. */
  void SetCell(int column, int row, int digit);

  /**
   * @brief Compares the current frame with the previous one. True when a level was computed
   * (then Level() holds it); false when disabled, on the first frame of a new size, pixel layout
   * or stride, on the first comparison after a grid change, for layouts other than 24 and
   * 32 bits, and when nothing changed.
   */
  bool Detect(const core::FrameBits* previous, const core::FrameBits* current, int mark1, int mark2);

  double Level() const { return level_; }
  int Step() const { return step_; }
  int Columns() const { return columns_; }
  int Rows() const { return rows_; }
  const QString& GridText() const { return gridText_; }
  bool GridValid() const { return gridValid_; }
  int CellDigit(int column, int row) const;
  int CellThreshold(int column, int row) const;
  /** @brief Pixels sampled and found changed by the last comparison, per cell. */
  int64_t SampledCount(int column, int row) const;
  int64_t ChangedCount(int column, int row) const;
  int Mark1() const { return mark1_; }
  int Mark2() const { return mark2_; }

 private:
  struct Layout {
    int width = 0, height = 0;  // height signed: the row order matters
    core::FramePixels format = core::FramePixels::Rgb24;
    qsizetype stride = 0;
    bool operator==(const Layout&) const = default;
  };
  static Layout LayoutOf(const core::FrameBits& frame);
  int Index(int column, int row) const { return row * columns_ + column; }
  static QString UniformGridText(int columns, int rows, int digit);
  void ComputeBoundaries();
  int AutoStep(int width, int height) const;
  // Rows addressed from the picture's top, whatever their order in memory.
  struct RowWalk {
    const uchar* top = nullptr;
    qsizetype step = 0;
    const uchar* Row(int y) const { return top + step * y; }
  };
  struct Settings {
    bool grey = false, noise = false;
    int step = 0;
    bool operator==(const Settings&) const = default;
  };
  static RowWalk WalkOf(const core::FrameBits& frame);
  bool ProcessingOn() const;
  void Process(const core::FrameBits& frame, std::vector<uchar>& out);
  void ProcessCurrent(const core::FrameBits& current);
  void ProcessPrevious(const core::FrameBits& previous);
  void Count(const RowWalk& before, const RowWalk& after);

  int columns_ = 10, rows_ = 10;
  QString gridText_;
  bool gridValid_ = true;
  std::vector<uint8_t> digit_;
  std::vector<int> threshold_;
  std::vector<int64_t> sampled_, changed_;
  std::vector<int> columnBoundary_, rowBoundary_;
  int bytesPerPixel_ = 0;
  int step_ = 1;
  bool skipNext_ = true;
  double level_ = 0;
  int mark1_ = -1, mark2_ = -1;
  // The layout the boundaries were computed for; a frame of another layout starts over.
  Layout layout_;
  bool layoutKnown_ = false;
  // Processed copies (packed rows). The current frame's raw bytes are kept too, so the next
  // comparison reuses its processed copy when it comes back as the previous frame.
  std::vector<uchar> processedPrevious_, processedCurrent_, rawCurrent_;
  bool rawCurrentValid_ = false;
  Settings processedWith_;
  std::vector<uchar> scratch_;
};

}  // namespace kestrom::engine
