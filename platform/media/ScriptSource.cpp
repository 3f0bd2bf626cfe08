#include "platform/media/ScriptSource.h"

#include "platform/media/FileSource.h"
#include "platform/media/VideoReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstring>
#include <map>
#include <variant>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace kestrom::media {
namespace {

using Clip = std::shared_ptr<FrameSource>;

struct AvFrameFree {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, AvFrameFree>;

// The row of a plane in rows of a planar 4:2:0 picture: plane 0 is the luma.
inline int PlaneRows(const AVFrame* picture, int plane) { return plane == 0 ? picture->height : picture->height / 2; }
inline int PlaneWidth(const AVFrame* picture, int plane) {
  return plane == 0 ? picture->width : (picture->width + 1) / 2;
}

// Rounded-up byte averages of two rows, eight bytes at a time: (a | b) - ((a ^ b) >> 1) per byte.
void AverageRows(uint8_t* out, const uint8_t* a, const uint8_t* b, int width) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  int x = 0;
  for (; x + 8 <= width; x += 8) {
    uint64_t u, v;
    std::memcpy(&u, a + x, 8);
    std::memcpy(&v, b + x, 8);
    const uint64_t r = (u | v) - (((u ^ v) >> 1) & kLow7);
    std::memcpy(out + x, &r, 8);
  }
  for (; x < width; ++x) out[x] = uint8_t((a[x] + b[x] + 1) / 2);
}

QImage Scaled(const QImage& image, QSize size) {
  if (image.isNull() || !size.isValid() || size.isEmpty() || size == image.size()) return image;
  return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// A filter over one clip; by default it passes everything through.
class Filter : public FrameSource {
 public:
  explicit Filter(Clip child) : child_(std::move(child)), info_(child_->Info()) {}
  const ClipInfo& Info() const override { return info_; }
  bool ReadAudio(int64_t first, int64_t count, std::vector<int16_t>& out) override {
    return child_->ReadAudio(first, count, out);
  }
  bool IsTopField(int64_t n) const override { return child_->IsTopField(n); }
  ReaderStats Stats() const override { return child_->Stats(); }
  void SetCacheBudget(size_t bytes) override { child_->SetCacheBudget(bytes); }
  /** @brief Frame n as planar 4:2:0 into picture (see ScriptSource::PlanarFrame). */
  virtual bool Planar(int64_t /*n*/, AVFrame* /*picture*/) { return false; }

 protected:
  QImage ChildFrame(int64_t n) {
    if (n != lastNumber_ || lastFrame_.isNull()) {
      lastFrame_ = child_->Frame(n);
      lastNumber_ = n;
    }
    return lastFrame_;
  }
  /** @brief The child's planar frame n, kept for the next request (a frame gives two fields). */
  const AVFrame* ChildPlanar(int64_t n) {
    if (n != lastPlanarNumber_) {
      lastPlanarNumber_ = -1;
      if (!lastPlanar_ && !(lastPlanar_ = FramePtr(av_frame_alloc()))) return nullptr;
      av_frame_unref(lastPlanar_.get());
      if (!ScriptSource::PlanarFrame(*child_, n, lastPlanar_.get())) return nullptr;
      lastPlanarNumber_ = n;
    }
    return lastPlanar_.get();
  }
  Clip child_;
  ClipInfo info_;

 private:
  int64_t lastNumber_ = -1;
  QImage lastFrame_;
  int64_t lastPlanarNumber_ = -1;
  FramePtr lastPlanar_;
};

// Frames first..last of the child; the sound is cut to the same span.
class TrimFilter final : public Filter {
 public:
  TrimFilter(Clip child, int64_t first, int64_t count) : Filter(std::move(child)), first_(first) {
    info_.frameCount = count;
  }
  QImage Frame(int64_t n, QSize size) override {
    if (n < 0 || n >= info_.frameCount) return QImage();
    return Scaled(ChildFrame(first_ + n), size);
  }
  bool Planar(int64_t n, AVFrame* picture) override {
    return n >= 0 && n < info_.frameCount && ScriptSource::PlanarFrame(*child_, first_ + n, picture);
  }
  bool ReadAudio(int64_t first, int64_t count, std::vector<int16_t>& out) override {
    out.clear();
    if (!info_.hasAudio) return false;
    const auto sampleOf = [&](int64_t frame) {
      return int64_t(std::llround(double(frame) * info_.audioRate * info_.rateDen / info_.rateNum));
    };
    const int64_t offset = sampleOf(first_);
    const int64_t end = sampleOf(first_ + info_.frameCount) - offset;
    count = std::min(count, end - first);
    if (count <= 0) return true;
    return child_->ReadAudio(offset + first, count, out);
  }
  bool IsTopField(int64_t n) const override { return child_->IsTopField(first_ + n); }

 private:
  int64_t first_;
};

// Each frame becomes its two fields, the bottom field first as the sources give them.
class SeparateFieldsFilter final : public Filter {
 public:
  explicit SeparateFieldsFilter(Clip child) : Filter(std::move(child)) {
    info_.frameCount *= 2;
    info_.size.setHeight(info_.size.height() / 2);
    info_.fieldBased = true;
    if (info_.rateDen % 2 == 0) info_.rateDen /= 2;
    else info_.rateNum *= 2;
  }
  QImage Frame(int64_t n, QSize size) override {
    if (n < 0 || n >= info_.frameCount) return QImage();
    const QImage frame = ChildFrame(n / 2);
    if (frame.isNull()) return frame;
    const int parity = IsTopField(n) ? 0 : 1;
    QImage field(info_.size, QImage::Format_RGB32);
    for (int y = 0; y < field.height(); ++y)
      std::memcpy(field.scanLine(y), frame.constScanLine(2 * y + parity), size_t(field.bytesPerLine()));
    return Scaled(field, size);
  }
  // A field is a view of every second line of each plane of its frame: no line is copied.
  bool Planar(int64_t n, AVFrame* picture) override {
    if (n < 0 || n >= info_.frameCount || info_.size.height() % 2) return false;
    const AVFrame* frame = ChildPlanar(n / 2);
    // The chroma lines of a field are every second one of its frame's as well.
    if (!frame || frame->height % 4 || av_frame_ref(picture, frame) < 0) return false;
    const int parity = IsTopField(n) ? 0 : 1;
    for (int plane = 0; plane < 3; ++plane) {
      picture->data[plane] += ptrdiff_t(parity) * picture->linesize[plane];
      picture->linesize[plane] *= 2;
    }
    picture->height = frame->height / 2;
    return true;
  }
  bool IsTopField(int64_t n) const override { return n % 2 == 1; }
};

// Every second frame: the even-numbered ones or the odd-numbered ones.
class SelectFilter final : public Filter {
 public:
  SelectFilter(Clip child, int offset) : Filter(std::move(child)), offset_(offset) {
    info_.frameCount = (info_.frameCount - offset + 1) / 2;
    if (info_.rateNum % 2 == 0) info_.rateNum /= 2;
    else info_.rateDen *= 2;
  }
  QImage Frame(int64_t n, QSize size) override {
    if (n < 0 || n >= info_.frameCount) return QImage();
    return Scaled(child_->Frame(2 * n + offset_), size);
  }
  bool Planar(int64_t n, AVFrame* picture) override {
    return n >= 0 && n < info_.frameCount && ScriptSource::PlanarFrame(*child_, 2 * n + offset_, picture);
  }
  bool IsTopField(int64_t n) const override { return child_->IsTopField(2 * n + offset_); }

 private:
  int offset_;
};

// Each field brought to full height: its own lines stay in their true rows, the rows between
// them are interpolated from their neighbours.
class BobFilter final : public Filter {
 public:
  explicit BobFilter(Clip fields) : Filter(std::move(fields)) {
    info_.size.setHeight(info_.size.height() * 2);
    info_.fieldBased = false;
  }
  QImage Frame(int64_t n, QSize size) override {
    if (n < 0 || n >= info_.frameCount) return QImage();
    const QImage field = child_->Frame(n);
    if (field.isNull()) return field;
    const int own = child_->IsTopField(n) ? 0 : 1;
    const int w = field.width(), h = info_.size.height();
    QImage frame(info_.size, QImage::Format_RGB32);
    for (int y = own; y < h; y += 2)
      std::memcpy(frame.scanLine(y), field.constScanLine(y / 2), size_t(w) * 4);
    for (int y = 1 - own; y < h; y += 2) {
      const int above = y - 1, below = y + 1;
      auto* out = reinterpret_cast<QRgb*>(frame.scanLine(y));
      if (above < 0 || below >= h) {
        std::memcpy(out, frame.constScanLine(above < 0 ? below : above), size_t(w) * 4);
        continue;
      }
      const auto* a = reinterpret_cast<const QRgb*>(frame.constScanLine(above));
      const auto* b = reinterpret_cast<const QRgb*>(frame.constScanLine(below));
      for (int x = 0; x < w; ++x)
        out[x] = qRgb((qRed(a[x]) + qRed(b[x]) + 1) / 2, (qGreen(a[x]) + qGreen(b[x]) + 1) / 2,
                      (qBlue(a[x]) + qBlue(b[x]) + 1) / 2);
    }
    return Scaled(frame, size);
  }
  // The same on each plane of a planar 4:2:0 field: its lines in their true rows, the rows
  // between them the rounded average of their neighbours.
  bool Planar(int64_t n, AVFrame* picture) override {
    if (n < 0 || n >= info_.frameCount) return false;
    if (!field_ && !(field_ = FramePtr(av_frame_alloc()))) return false;
    av_frame_unref(field_.get());
    const int w = info_.size.width(), h = info_.size.height();
    if (h % 4 || !ScriptSource::PlanarFrame(*child_, n, field_.get()) || field_->width != w || field_->height * 2 != h)
      return false;
    const int own = child_->IsTopField(n) ? 0 : 1;
    const int strides[3] = {(w + 63) & ~63, ((w + 1) / 2 + 63) & ~63, ((w + 1) / 2 + 63) & ~63};
    const size_t sizes[3] = {size_t(strides[0]) * h, size_t(strides[1]) * (h / 2), size_t(strides[2]) * (h / 2)};
    const size_t total = sizes[0] + sizes[1] + sizes[2] + 64;
    if (!pool_ || poolSize_ != total) {
      av_buffer_pool_uninit(&pool_);  // its buffers still in use are freed when released
      pool_ = av_buffer_pool_init(total, nullptr);
      poolSize_ = total;
    }
    AVBufferRef* buffer = pool_ ? av_buffer_pool_get(pool_) : nullptr;
    if (!buffer) return false;
    picture->buf[0] = buffer;
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = w;
    picture->height = h;
    size_t offset = 0;
    for (int plane = 0; plane < 3; ++plane) {
      picture->data[plane] = buffer->data + offset;
      picture->linesize[plane] = strides[plane];
      offset += sizes[plane];
    }
    picture->extended_data = picture->data;
    for (int plane = 0; plane < 3; ++plane) {
      const int rows = PlaneRows(picture, plane), width = PlaneWidth(picture, plane);
      uint8_t* const out = picture->data[plane];
      const ptrdiff_t stride = picture->linesize[plane];
      for (int y = own; y < rows; y += 2)
        std::memcpy(out + y * stride, field_->data[plane] + ptrdiff_t(y / 2) * field_->linesize[plane], size_t(width));
      for (int y = 1 - own; y < rows; y += 2) {
        const int above = y - 1, below = y + 1;
        if (above < 0 || below >= rows)
          std::memcpy(out + y * stride, out + (above < 0 ? below : above) * stride, size_t(width));
        else
          AverageRows(out + y * stride, out + above * stride, out + below * stride, width);
      }
    }
    return true;
  }
  ~BobFilter() override { av_buffer_pool_uninit(&pool_); }

 private:
  FramePtr field_;
  AVBufferPool* pool_ = nullptr;
  size_t poolSize_ = 0;
};

// ---- the interpreter ----

using Value = std::variant<std::monostate, Clip, int64_t, QString>;

struct Token {
  enum Kind { Name, Number, String, Symbol, End } kind;
  QString text;
  int64_t number = 0;
};

struct ScriptError {
  QString message;
};

// Scripts being opened on this thread, so that one which opens itself fails instead of looping.
thread_local QStringList openScripts;

class Interpreter {
 public:
  Interpreter(QString path, int depth) : path_(std::move(path)), depth_(depth) {}

  Clip Run(const QString& text) {
    const QStringList lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
      line_ = i + 1;
      tokens_ = Tokenize(lines[i]);
      at_ = 0;
      if (Peek().kind == Token::End) continue;
      if (Peek().kind == Token::Name && Peek().text.compare("return", Qt::CaseInsensitive) == 0) {
        ++at_;
        const Value v = Expression();
        ExpectEnd();
        if (!std::holds_alternative<Clip>(v)) Fail("\"return\" needs a clip");
        return std::get<Clip>(v);
      }
      if (Peek().kind == Token::Name && Peek(1).kind == Token::Symbol && Peek(1).text == "=") {
        const QString name = Next().text.toLower();
        ++at_;
        variables_[name] = Expression();
        ExpectEnd();
        continue;
      }
      const Value v = Expression();
      ExpectEnd();
      if (std::holds_alternative<Clip>(v)) variables_["last"] = v;
    }
    auto last = variables_.find("last");
    if (last == variables_.end() || !std::holds_alternative<Clip>(last->second))
      throw ScriptError{QString("\"%1\": the script gives no clip").arg(path_)};
    return std::get<Clip>(last->second);
  }

 private:
  [[noreturn]] void Fail(const QString& what) const {
    throw ScriptError{QString("\"%1\", line %2: %3").arg(path_).arg(line_).arg(what)};
  }

  std::vector<Token> Tokenize(const QString& line) const {
    std::vector<Token> out;
    int i = 0;
    const int n = line.size();
    while (i < n) {
      const QChar c = line[i];
      if (c.isSpace()) {
        ++i;
      } else if (c == '#') {
        break;
      } else if (c == '"') {
        const int close = line.indexOf('"', i + 1);
        if (close < 0) Fail("the string that starts at column " + QString::number(i + 1) + " has no closing quote");
        out.push_back({Token::String, line.mid(i + 1, close - i - 1)});
        i = close + 1;
      } else if (c.isLetter() || c == '_') {
        int j = i;
        while (j < n && (line[j].isLetterOrNumber() || line[j] == '_')) ++j;
        out.push_back({Token::Name, line.mid(i, j - i)});
        i = j;
      } else if (c.isDigit() || (c == '-' && i + 1 < n && line[i + 1].isDigit())) {
        int j = i + 1;
        while (j < n && line[j].isDigit()) ++j;
        bool ok = false;
        const int64_t value = line.mid(i, j - i).toLongLong(&ok);
        if (!ok) Fail("the number \"" + line.mid(i, j - i) + "\" is too large");
        if (j < n && (line[j] == '.' && j + 1 < n && line[j + 1].isDigit()))
          Fail("only whole numbers are understood");
        out.push_back({Token::Number, line.mid(i, j - i), value});
        i = j;
      } else if (QString("(),.=").contains(c)) {
        out.push_back({Token::Symbol, QString(c)});
        ++i;
      } else {
        Fail(QString("\"%1\" is not understood").arg(c));
      }
    }
    out.push_back({Token::End, {}});
    return out;
  }

  const Token& Peek(int ahead = 0) const {
    return tokens_[std::min<size_t>(at_ + ahead, tokens_.size() - 1)];
  }
  const Token& Next() { return tokens_[std::min(at_++, tokens_.size() - 1)]; }
  bool Accept(const char* symbol) {
    if (Peek().kind == Token::Symbol && Peek().text == symbol) {
      ++at_;
      return true;
    }
    return false;
  }
  void ExpectEnd() {
    if (Peek().kind != Token::End) Fail(QString("\"%1\" is not understood after the statement").arg(Peek().text));
  }

  Value Expression() {
    Value v = Primary();
    while (Accept(".")) {
      if (Peek().kind != Token::Name) Fail("a function name must follow \".\"");
      const QString name = Next().text;
      std::vector<Value> args{v};
      Arguments(args);
      v = Call(name, args, true);
    }
    return v;
  }

  void Arguments(std::vector<Value>& args) {
    if (!Accept("(")) return;
    if (Accept(")")) return;
    for (;;) {
      args.push_back(Expression());
      if (Accept(")")) return;
      if (!Accept(",")) {
        if (Peek().kind == Token::End) Fail("a closing parenthesis is missing");
        Fail(QString("\"%1\" is not understood in the argument list").arg(Peek().text));
      }
    }
  }

  Value Primary() {
    const Token t = Next();
    switch (t.kind) {
      case Token::Number: return t.number;
      case Token::String: return t.text;
      case Token::Symbol:
        if (t.text == "(") {
          Value v = Expression();
          if (!Accept(")")) Fail("a closing parenthesis is missing");
          return v;
        }
        Fail(QString("\"%1\" is not understood here").arg(t.text));
      case Token::End: Fail("the statement is incomplete");
      case Token::Name: break;
    }
    const QString lower = t.text.toLower();
    if (!(Peek().kind == Token::Symbol && Peek().text == "(")) {
      if (auto var = variables_.find(lower); var != variables_.end()) return var->second;
    }
    std::vector<Value> args;
    Arguments(args);
    return Call(t.text, args, false);
  }

  Clip ClipArgument(std::vector<Value>& args, const QString& name) {
    if (args.empty() || !std::holds_alternative<Clip>(args.front())) {
      auto last = variables_.find("last");
      if (last == variables_.end() || !std::holds_alternative<Clip>(last->second))
        Fail(QString("%1 has no clip to work on").arg(name));
      args.insert(args.begin(), last->second);
    }
    return std::get<Clip>(args.front());
  }

  void ArgumentCount(const std::vector<Value>& args, size_t count, const QString& name) {
    if (args.size() != count)
      Fail(QString("%1 takes %2 argument%3").arg(name).arg(count - 1).arg(count == 2 ? "" : "s"));
  }

  Value Call(const QString& name, std::vector<Value>& args, bool method) {
    const QString f = name.toLower();
    if (f == "directshowsource" || f == "avisource") {
      if (method || args.size() != 1 || !std::holds_alternative<QString>(args[0]))
        Fail(QString("%1 takes one file name in double quotes").arg(name));
      return OpenSourceFile(std::get<QString>(args[0]), name);
    }
    if (f == "trim") {
      Clip clip = ClipArgument(args, name);
      ArgumentCount(args, 3, name);
      if (!std::holds_alternative<int64_t>(args[1]) || !std::holds_alternative<int64_t>(args[2]))
        Fail("Trim takes two frame numbers");
      const int64_t total = clip->Info().frameCount;
      const int64_t first = std::max<int64_t>(0, std::get<int64_t>(args[1]));
      int64_t last = std::get<int64_t>(args[2]);
      if (last == 0) last = total - 1;               // 0: to the end
      else if (last < 0) last = first - last - 1;    // -n: n frames
      last = std::min(last, total - 1);
      if (first > last) Fail(QString("Trim(%1, %2) leaves no frame of %3").arg(std::get<int64_t>(args[1]))
                                 .arg(std::get<int64_t>(args[2])).arg(total));
      return Clip(std::make_shared<TrimFilter>(clip, first, last - first + 1));
    }
    if (f == "separatefields") {
      Clip clip = ClipArgument(args, name);
      ArgumentCount(args, 1, name);
      if (clip->Info().fieldBased) Fail("SeparateFields needs whole frames, the clip holds fields already");
      if (clip->Info().size.height() % 2) Fail("SeparateFields needs an even picture height");
      return Clip(std::make_shared<SeparateFieldsFilter>(clip));
    }
    if (f == "selecteven" || f == "selectodd") {
      Clip clip = ClipArgument(args, name);
      ArgumentCount(args, 1, name);
      if (clip->Info().frameCount < (f == "selectodd" ? 2 : 1)) Fail(QString("%1 leaves no frame").arg(name));
      return Clip(std::make_shared<SelectFilter>(clip, f == "selectodd" ? 1 : 0));
    }
    if (f == "bob") {
      Clip clip = ClipArgument(args, name);
      ArgumentCount(args, 1, name);
      if (!clip->Info().fieldBased) {
        if (clip->Info().size.height() % 2) Fail("Bob needs an even picture height");
        clip = std::make_shared<SeparateFieldsFilter>(clip);
      }
      return Clip(std::make_shared<BobFilter>(clip));
    }
    Fail(QString("unknown function \"%1\"").arg(name));
  }

  Clip OpenSourceFile(QString file, const QString& function) {
    QFileInfo info(file);
    if (info.isRelative()) info = QFileInfo(QFileInfo(path_).dir(), file);
    if (!info.exists() && file.contains('\\')) {
      file.replace('\\', '/');
      info = QFileInfo(file);
      if (info.isRelative()) info = QFileInfo(QFileInfo(path_).dir(), file);
    }
    QString error;
    if (depth_ >= 16) Fail(QString("%1: scripts are nested too deeply").arg(function));
    std::unique_ptr<FrameSource> source = VideoReader::OpenSource(info.absoluteFilePath(), &error, depth_ + 1);
    if (!source) Fail(QString("%1 cannot open \"%2\": %3").arg(function, file, error));
    return Clip(std::move(source));
  }

  QString path_;
  int depth_;
  int line_ = 0;
  std::vector<Token> tokens_;
  size_t at_ = 0;
  std::map<QString, Value> variables_;
};

}  // namespace

std::unique_ptr<ScriptSource> ScriptSource::FromText(const QString& text, const QString& path, QString* error,
                                                     int depth) {
  const QString key = QFileInfo(path).absoluteFilePath();
  if (openScripts.contains(key)) {
    if (error) *error = QString("the script \"%1\" opens itself").arg(path);
    return nullptr;
  }
  openScripts.append(key);
  std::unique_ptr<ScriptSource> result;
  try {
    Interpreter interpreter(path, depth);
    Clip clip = interpreter.Run(text);
    if (clip->Info().frameCount <= 0) throw ScriptError{QString("\"%1\": the script gives no frame").arg(path)};
    result.reset(new ScriptSource(std::move(clip)));
  } catch (const ScriptError& e) {
    if (error) *error = e.message;
  }
  openScripts.removeOne(key);
  return result;
}

bool ScriptSource::PlanarFrame(FrameSource& source, int64_t n, AVFrame* picture) {
  av_frame_unref(picture);
  if (n < 0 || n >= source.Info().frameCount) return false;
  if (auto* script = dynamic_cast<ScriptSource*>(&source)) return PlanarFrame(*script->clip_, n, picture);
  if (auto* filter = dynamic_cast<Filter*>(&source)) return filter->Planar(n, picture);
  auto* file = dynamic_cast<FileSource*>(&source);
  const AVFrame* decoded = file ? file->DecodedFrame(n) : nullptr;
  // Full-range (JPEG) planes and pictures of another size than the clip's go through Frame().
  return decoded && decoded->format == AV_PIX_FMT_YUV420P && decoded->width == source.Info().size.width() &&
         decoded->height == source.Info().size.height() && av_frame_ref(picture, decoded) >= 0;
}

std::unique_ptr<ScriptSource> ScriptSource::Open(const QString& path, QString* error, int depth) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    if (error) *error = QString("The script \"%1\" cannot be read.").arg(path);
    return nullptr;
  }
  const QByteArray bytes = file.readAll();
  QString text = QString::fromUtf8(bytes);
  if (text.contains(QChar::ReplacementCharacter)) text = QString::fromLatin1(bytes);
  text.remove('\r');
  return FromText(text, path, error, depth);
}

}  // namespace kestrom::media
