#include "capture/engine/MotionDetector.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace kestrom::engine {

namespace {

constexpr int kMaxDigit = 9;

int ThresholdOf(int digit) { return 256 - (digit * 56) / 2; }

// The mean of a byte and its neighbours inside the row or column; at an edge the one neighbour
// there is still divided by 3, which darkens the border a little.
void BlurLine(const uchar* src, uchar* dst, qsizetype count, qsizetype distance) {
  if (count < distance * 2) {
    std::memcpy(dst, src, size_t(count));
    return;
  }
  for (qsizetype i = 0; i < distance; ++i) dst[i] = uchar((src[i] + src[i + distance]) / 3);
  for (qsizetype i = distance; i < count - distance; ++i)
    dst[i] = uchar((src[i - distance] + src[i] + src[i + distance]) / 3);
  for (qsizetype i = count - distance; i < count; ++i) dst[i] = uchar((src[i - distance] + src[i]) / 3);
}

struct Thresholds {
  int blue, green, red;
};

// Changed pixels among x = begin, begin + step, ... below end.
template <int BytesPerPixel>
int64_t CountSpan(const uchar* a, const uchar* b, int begin, int end, int step, const Thresholds& t) {
  int64_t hits = 0;
  for (int x = begin; x < end; x += step) {
    const uchar* p = a + qsizetype(x) * BytesPerPixel;
    const uchar* q = b + qsizetype(x) * BytesPerPixel;
    hits += (std::abs(p[0] - q[0]) > t.blue) | (std::abs(p[1] - q[1]) > t.green) | (std::abs(p[2] - q[2]) > t.red);
  }
  return hits;
}

}  // namespace

TImplMotionDetector::TImplMotionDetector() {
  const int cells = columns_ * rows_;
  digit_.assign(size_t(cells), uint8_t(DefaultDigit));
  threshold_.assign(size_t(cells), ThresholdOf(DefaultDigit));
  sampled_.assign(size_t(cells), 0);
  changed_.assign(size_t(cells), 0);
  gridText_ = UniformGridText(columns_, rows_, DefaultDigit);
}

QString TImplMotionDetector::UniformGridText(int columns, int rows, int digit) {
  const QString group(columns, QChar('0' + digit));
  QStringList groups;
  for (int r = 0; r < rows; ++r) groups << group;
  return groups.join(QChar(' '));
}

bool TImplMotionDetector::SetGridSize(int columns, int rows) {
  if (columns <= 0 || rows <= 0) return false;
  if (columns == columns_ && rows == rows_) return true;
  const int digit = std::clamp(DefaultDigit, 0, kMaxDigit);
  columns_ = columns;
  rows_ = rows;
  const size_t cells = size_t(columns) * size_t(rows);
  digit_.assign(cells, uint8_t(digit));
  threshold_.assign(cells, ThresholdOf(digit));
  sampled_.assign(cells, 0);
  changed_.assign(cells, 0);
  gridText_ = UniformGridText(columns, rows, digit);
  // Boundaries of the old grid would send the cell index past the new arrays.
  if (layoutKnown_) ComputeBoundaries();
  skipNext_ = true;
  return true;
}

void TImplMotionDetector::SetAllCells(int digit) {
  if (digit < 0 || digit > kMaxDigit) return;
  SetGrid(UniformGridText(columns_, rows_, digit));
}

void TImplMotionDetector::SetGrid(const QString& text) {
  const qsizetype length = qsizetype(rows_) * (columns_ + 1) - 1;
  const QString given = text.left(length).trimmed();
  bool valid = given.size() == length;
  for (qsizetype i = 0; valid && i < length; ++i) {
    const QChar c = given[i];
    valid = (i + 1) % (columns_ + 1) == 0 ? c == QChar(' ') : (c >= QChar('0') && c <= QChar('9'));
  }
  gridValid_ = valid;
  if (!valid || given == gridText_) return;
  for (int r = 0; r < rows_; ++r)
    for (int c = 0; c < columns_; ++c) SetCell(c, r, given[qsizetype(r) * (columns_ + 1) + c].unicode() - '0');
  gridText_ = given;
}

void TImplMotionDetector::SetCell(int column, int row, int digit) {
  if (column < 0 || column >= columns_ || row < 0 || row >= rows_ || digit < 0 || digit > kMaxDigit) return;
  digit_[size_t(Index(column, row))] = uint8_t(digit);
  threshold_[size_t(Index(column, row))] = ThresholdOf(digit);
  // Keep the text in step, so that giving the old text again restores the old digits.
  gridText_[qsizetype(row) * (columns_ + 1) + column] = QChar('0' + digit);
}

int TImplMotionDetector::CellDigit(int column, int row) const {
  if (column < 0 || column >= columns_ || row < 0 || row >= rows_) return -1;
  return digit_[size_t(Index(column, row))];
}

int TImplMotionDetector::CellThreshold(int column, int row) const {
  if (column < 0 || column >= columns_ || row < 0 || row >= rows_) return -1;
  return threshold_[size_t(Index(column, row))];
}

int64_t TImplMotionDetector::SampledCount(int column, int row) const {
  if (column < 0 || column >= columns_ || row < 0 || row >= rows_) return 0;
  return sampled_[size_t(Index(column, row))];
}

int64_t TImplMotionDetector::ChangedCount(int column, int row) const {
  if (column < 0 || column >= columns_ || row < 0 || row >= rows_) return 0;
  return changed_[size_t(Index(column, row))];
}

TImplMotionDetector::RowWalk TImplMotionDetector::WalkOf(const core::FrameBits& frame) {
  return {frame.Row(0), frame.Height > 0 ? -frame.RowBytes() : frame.RowBytes()};
}

TImplMotionDetector::Layout TImplMotionDetector::LayoutOf(const core::FrameBits& frame) {
  return {frame.Width, frame.Height, frame.Format, frame.RowBytes()};
}

int TImplMotionDetector::AutoStep(int width, int height) const {
  if (width >= 640 || height >= 480) return 8;
  if (width >= 420 || height >= 250) return 6;
  if (width >= 160 || height >= 120) return 4;
  return 2;
}

void TImplMotionDetector::ComputeBoundaries() {
  auto fill = [](std::vector<int>& boundary, int cells, int pixels) {
    boundary.assign(size_t(cells), INT_MAX);
    const double size = double(pixels) / cells;
    for (int i = 0; i + 1 < cells; ++i) boundary[size_t(i)] = int(std::lround((i + 1) * size));
  };
  fill(columnBoundary_, columns_, layout_.width);
  fill(rowBoundary_, rows_, std::abs(layout_.height));
}

void TImplMotionDetector::Process(const core::FrameBits& frame, std::vector<uchar>& out) {
  const int width = frame.Width, height = frame.AbsHeight(), bpp = bytesPerPixel_;
  const qsizetype rowBytes = qsizetype(width) * bpp;
  out.resize(size_t(rowBytes * height));
  for (int y = 0; y < height; ++y) std::memcpy(out.data() + rowBytes * y, frame.Row(y), size_t(rowBytes));
  if (GreyScale) {
    for (int y = 0; y < height; y += step_) {
      uchar* row = out.data() + rowBytes * y;
      for (int x = 0; x < width; x += step_) {
        uchar* p = row + qsizetype(x) * bpp;
        p[0] = p[1] = p[2] = uchar((p[0] + p[1] + p[2]) / 3);
      }
    }
  }
  if (ReduceVideoNoise && width >= 3 && height >= 3) {
    // Horizontally into the scratch buffer, then vertically back. The unused fourth byte of
    // 32-bit pixels is blurred too; it is never compared.
    scratch_.resize(out.size());
    for (int y = 0; y < height; ++y)
      BlurLine(out.data() + rowBytes * y, scratch_.data() + rowBytes * y, rowBytes, bpp);
    const uchar* s = scratch_.data();
    uchar* d = out.data();
    for (qsizetype i = 0; i < rowBytes; ++i) d[i] = uchar((s[i] + s[i + rowBytes]) / 3);
    for (int y = 1; y + 1 < height; ++y) {
      const uchar* above = s + rowBytes * (y - 1);
      const uchar* here = above + rowBytes;
      const uchar* below = here + rowBytes;
      uchar* row = d + rowBytes * y;
      for (qsizetype i = 0; i < rowBytes; ++i) row[i] = uchar((above[i] + here[i] + below[i]) / 3);
    }
    const uchar* last = s + rowBytes * (height - 1);
    uchar* lastOut = d + rowBytes * (height - 1);
    for (qsizetype i = 0; i < rowBytes; ++i) lastOut[i] = uchar((last[i - rowBytes] + last[i]) / 3);
  }
}

bool TImplMotionDetector::ProcessingOn() const { return GreyScale || ReduceVideoNoise; }

void TImplMotionDetector::ProcessCurrent(const core::FrameBits& current) {
  Process(current, processedCurrent_);
  const qsizetype rowBytes = qsizetype(current.Width) * bytesPerPixel_;
  rawCurrent_.resize(size_t(rowBytes * current.AbsHeight()));
  for (int y = 0; y < current.AbsHeight(); ++y)
    std::memcpy(rawCurrent_.data() + rowBytes * y, current.Row(y), size_t(rowBytes));
  processedWith_ = {GreyScale, ReduceVideoNoise, step_};
  rawCurrentValid_ = true;
}

void TImplMotionDetector::ProcessPrevious(const core::FrameBits& previous) {
  // The previous frame is normally the one processed as current last time: reuse that copy
  // when its bytes and the settings are the same, else process it afresh.
  const qsizetype rowBytes = qsizetype(previous.Width) * bytesPerPixel_;
  bool same = rawCurrentValid_ && processedWith_ == Settings{GreyScale, ReduceVideoNoise, step_} &&
              rawCurrent_.size() == size_t(rowBytes * previous.AbsHeight());
  for (int y = 0; same && y < previous.AbsHeight(); ++y)
    same = std::memcmp(rawCurrent_.data() + rowBytes * y, previous.Row(y), size_t(rowBytes)) == 0;
  if (same) {
    std::swap(processedPrevious_, processedCurrent_);
  } else {
    Process(previous, processedPrevious_);
  }
}

bool TImplMotionDetector::Detect(const core::FrameBits* previous, const core::FrameBits* current, int mark1,
                                 int mark2) {
  level_ = 0;
  if (!Enabled || !current || !current->Valid()) return false;
  const Layout now = LayoutOf(*current);
  // Any change of size, pixel layout, row order or stride starts over: the byte offsets of
  // the old layout would read the wrong bytes, or past the frame.
  if (!previous || !previous->Valid() || LayoutOf(*previous) != now || !layoutKnown_ || layout_ != now) {
    mark1_ = mark2_ = -1;
    layoutKnown_ = false;
    rawCurrentValid_ = false;
    if (current->Format == core::FramePixels::Rgb24) {
      bytesPerPixel_ = 3;
    } else if (current->Format == core::FramePixels::Rgb32) {
      bytesPerPixel_ = 4;
    } else {
      return false;
    }
    layout_ = now;
    layoutKnown_ = true;
    step_ = RequestedStep > 0 ? RequestedStep : AutoStep(current->Width, current->AbsHeight());
    if (ProcessingOn()) ProcessCurrent(*current);
    ComputeBoundaries();
    return false;
  }
  mark1_ = mark1;
  mark2_ = mark2;
  RowWalk before = WalkOf(*previous), after = WalkOf(*current);
  if (ProcessingOn()) {
    ProcessPrevious(*previous);
    ProcessCurrent(*current);
    const qsizetype rowBytes = qsizetype(current->Width) * bytesPerPixel_;
    before = {processedPrevious_.data(), rowBytes};
    after = {processedCurrent_.data(), rowBytes};
  } else {
    rawCurrentValid_ = false;
  }
  std::fill(sampled_.begin(), sampled_.end(), 0);
  std::fill(changed_.begin(), changed_.end(), 0);
  Count(before, after);

  int64_t sampled = 0, changed = 0;
  for (size_t i = 0; i < sampled_.size(); ++i) {
    sampled += sampled_[i];
    changed += changed_[i];
  }
  if (skipNext_) {
    skipNext_ = false;
    return false;
  }
  if (changed == 0) return false;
  level_ = double(changed) / double(sampled);
  return true;
}

void TImplMotionDetector::Count(const RowWalk& before, const RowWalk& after) {
  const int width = layout_.width, height = std::abs(layout_.height), bpp = bytesPerPixel_, step = step_;
  const bool grey = GreyScale;
  const bool blue = grey || CompareBlue, green = !grey && CompareGreen, red = !grey && CompareRed;
  // The sampled columns of each cell column: x from begin to end (excluded) in steps.
  std::vector<std::pair<int, int>> spans(static_cast<size_t>(columns_));
  for (int c = 0, x = 0; c < columns_; ++c) {
    const int end = std::min(columnBoundary_[size_t(c)], width);
    const int begin = x;
    while (x < end) x += step;
    spans[size_t(c)] = {begin, x};
  }
  int cellRow = 0;
  for (int y = 0; y < height; y += step) {
    while (cellRow + 1 < rows_ && y >= rowBoundary_[size_t(cellRow)]) ++cellRow;
    const uchar* a = before.Row(y);
    const uchar* b = after.Row(y);
    for (int c = 0; c < columns_; ++c) {
      const size_t cell = size_t(Index(c, cellRow));
      if (digit_[cell] == 0) continue;
      const auto [begin, end] = spans[size_t(c)];
      if (begin >= end) continue;
      // A channel left out gets a threshold no difference exceeds.
      const int threshold = threshold_[cell];
      const Thresholds t{blue ? threshold : 255, green ? threshold : 255, red ? threshold : 255};
      int64_t hits;
      if (step == 1) {
        hits = bpp == 3 ? CountSpan<3>(a, b, begin, end, 1, t) : CountSpan<4>(a, b, begin, end, 1, t);
      } else {
        hits = bpp == 3 ? CountSpan<3>(a, b, begin, end, step, t) : CountSpan<4>(a, b, begin, end, step, t);
      }
      sampled_[cell] += (end - begin + step - 1) / step;
      changed_[cell] += hits;
    }
  }
}

}  // namespace kestrom::engine
