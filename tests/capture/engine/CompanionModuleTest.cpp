// The companion filter module as the engine meets it: the packed image carried by the program,
// its expansion with bounds, loading from a temporary copy, its six creators, and the custom clock.
#include "EngineFixtures.h"

#include "capture/engine/FK.h"
#include "capture/filters/CompanionFilters.h"
#include "platform/dshow/base/Guids.h"
#include "tests/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <dlfcn.h>

namespace kestrom::engine::test {

using com::ComPtr;
using namespace dshow;

namespace {

QByteArray Int32(int32_t v) {
  QByteArray b(4, '\0');
  const uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<char>(u >> (8 * i));
  return b;
}

QByteArray BuiltModule() {
  QFile file(kestrom::test::BinPath(QStringLiteral("tfcatch.so")));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class CompanionModule : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    EnableProcessLog();
  }
  static bool LogHas(const QString& text) { return ProcessLogLines().filter(text).size() > 0; }
};

}  // namespace

TEST_F(CompanionModule, TheCarriedImageExpandsToTheBuiltModule) {
  const std::optional<QByteArray> image = TFK::GetGrabberFilterImage();
  ASSERT_TRUE(image);
  const std::optional<QByteArray> module = TFK::ExpandFilterModule(*image);
  ASSERT_TRUE(module);
  const QByteArray built = BuiltModule();
  ASSERT_FALSE(built.isEmpty());
  EXPECT_EQ(module->size(), built.size());
  EXPECT_TRUE(*module == built);
  EXPECT_LT(image->size(), built.size());  // the runs of the module are packed
}

// Each row is a packed image; only the well-formed ones expand, and a refused one writes no file.
TEST_F(CompanionModule, DamagedImagesAreRefusedWritingNothing) {
  struct Row {
    const char* what;
    QByteArray image;
    QByteArray expanded;  // empty: refused
  };
  const std::vector<Row> rows = {
      {"literal then run", Int32(5) + Int32(2) + "ab" + Int32(-3) + "z", "abzzz"},
      {"count 0 writes nothing but takes its byte", Int32(2) + Int32(0) + "q" + Int32(2) + "xy", "xy"},
      {"short image leaves zeros", Int32(3) + Int32(1) + "a", QByteArray("a\0\0", 3)},
      {"literal past the declared size", Int32(2) + Int32(3) + "abc", {}},
      {"run past the declared size", Int32(2) + Int32(-3) + "a", {}},
      {"literal cut short", Int32(4) + Int32(4) + "ab", {}},
      {"run without its byte", Int32(4) + Int32(-4), {}},
      {"count cut short", Int32(4) + Int32(1) + "a" + QByteArray(2, '\1'), {}},
      {"declared size 0", Int32(0), {}},
      {"declared size negative", Int32(-5) + Int32(1) + "a", {}},
      {"declared size over 64 MB", Int32(64 * 1024 * 1024 + 1) + Int32(-1) + "a", {}},
      {"shorter than its size field", QByteArray(3, '\0'), {}},
      {"huge negative count", Int32(4) + Int32(INT32_MIN) + "a", {}},
  };
  const QDir temp(EngineTempFolder());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::optional<QByteArray> expanded = TFK::ExpandFilterModule(row.image);
    if (row.expanded.isEmpty()) {
      EXPECT_FALSE(expanded);
      const QStringList before = temp.entryList({"tfk*"}, QDir::Files);
      const QByteArray image = row.image;
      EXPECT_TRUE(TFK::UnpackFilterModule([image]() -> std::optional<QByteArray> { return image; }).isEmpty());
      EXPECT_EQ(temp.entryList({"tfk*"}, QDir::Files), before);
    } else {
      ASSERT_TRUE(expanded);
      EXPECT_EQ(*expanded, row.expanded);
    }
  }
}

// The module binds to the libraries the process already has: a copy far from the build tree loads,
// and every creator makes a filter of its own class.
TEST_F(CompanionModule, ACopyOutsideTheBuildTreeMakesAllSixFilters) {
  QTemporaryDir elsewhere(QDir::tempPath() + "/tfcatch-copy-XXXXXX");
  ASSERT_TRUE(elsewhere.isValid());
  const QString copy = elsewhere.filePath("module.bin");
  QFile file(copy);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(BuiltModule());
  file.close();
  struct Row {
    const char* name;
    const CLSID* clsid;
  };
  const Row rows[] = {{filters::kCreateGrabber, &filters::CLSID_TfcGrabber},
                      {filters::kCreateGrabberNoModify, &filters::CLSID_TfcGrabberNoModify},
                      {filters::kCreateTransform, &filters::CLSID_TfcTransform},
                      {filters::kCreatePushSource, &filters::CLSID_TfcPushSource},
                      {filters::kCreateCustomClock, &filters::CLSID_TfcCustomClock},
                      {filters::kCreateRawWriter, &filters::CLSID_TfcRawWriter}};
  TFK::TModuleHolder holder;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ComPtr<IBaseFilter> filter;
    ASSERT_TRUE(TFK::CreateFilterFromModule(copy, holder, row.name, filter));
    ASSERT_TRUE(filter);
    CLSID clsid{};
    EXPECT_EQ(filter->GetClassID(&clsid), com::S_OK);
    EXPECT_EQ(clsid, *row.clsid);
  }
  ComPtr<IBaseFilter> none;
  EXPECT_FALSE(TFK::CreateFilterFromModule(copy, holder, "CreateLocalNothing", none));
  EXPECT_FALSE(none);
}

}  // namespace kestrom::engine::test
