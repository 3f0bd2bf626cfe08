#include "platform/core/Resources.h"
#include "tests/TestSupport.h"
#include "tests/platform/core/QtPrint.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace kestrom::core;

namespace {

QByteArray FileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(Resources, FoundByNameWithTheirExactBytes) {
  const QByteArray want = FileBytes(kestrom::test::FixturesDir() + QStringLiteral("/core/embedded-sample.bin"));
  ASSERT_EQ(want.size(), 256 + 10);
  const std::optional<QByteArray> got = FindResource(QStringLiteral("SAMPLE_BYTES"));
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(*got, want);
  EXPECT_EQ(FindResource(QStringLiteral("sample_bytes")), got) << "names ignore letter case, as on Windows";
  EXPECT_FALSE(FindResource(QStringLiteral("MYFILTER")).has_value());
  EXPECT_FALSE(FindResource(QString()).has_value());
  EXPECT_EQ(ResourceNames(), QStringList({QStringLiteral("PAYLOAD_PROGRAM"), QStringLiteral("SAMPLE_BYTES")}));
}

TEST(Resources, CarriesAProgramBuiltByAnotherTarget) {
  const QByteArray want = FileBytes(kestrom::test::BinPath(QStringLiteral("resource_payload")));
  ASSERT_FALSE(want.isEmpty());
  const std::optional<QByteArray> got = FindResource(QStringLiteral("PAYLOAD_PROGRAM"));
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->size(), want.size());
  EXPECT_TRUE(*got == want);
}
