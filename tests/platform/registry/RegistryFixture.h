#pragma once
// Every registry test runs on its own hives in a temporary folder and records damage reports.

#include "platform/registry/Registry.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

namespace kestrom::registry {

class RegistryTest : public testing::Test {
 protected:
  struct Damage {
    QString file;
    QString setAsideAs;
    QStringList problems;
  };

  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    SetRegistryDirectory(dir_.path());
    SetDamageHandler([this](const QString& file, const QString& aside, const QStringList& problems) {
      damage_.push_back({file, aside, problems});
    });
  }
  void TearDown() override {
    SetDamageHandler(nullptr);
    SetRegistryDirectory({});
  }

  /** @brief Makes this process forget what it loaded, so the next call reads the files again. */
  void ForgetLoadedHives() {
    QTemporaryDir elsewhere;
    SetRegistryDirectory(elsewhere.path());
    TRegistry probe;
    probe.KeyExists("x");
    SetRegistryDirectory(dir_.path());
  }

  QByteArray HiveText(HKEY root) {
    QFile file(HiveFilePath(root));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  QTemporaryDir dir_;
  std::vector<Damage> damage_;
};

}  // namespace kestrom::registry
