#pragma once
// A graph in a temporary registry with the graph library's classes, for the tests of its
// filters and of the capture graph builder.

#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/graph/GraphClasses.h"
#include "platform/registry/Registry.h"
#include "tests/platform/dshow/support/StreamFilters.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrom::dshow::test {

inline std::vector<int> Range(int first, int last) {
  std::vector<int> v;
  for (int i = first; i <= last; ++i) v.push_back(i);
  return v;
}

class GraphFixture : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registryDir_.isValid());
    registry::SetRegistryDirectory(registryDir_.path());
    graph::EnsureGraphClassesRegistered();
    ASSERT_EQ(com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph_.PutVoid()),
              com::S_OK);
    ASSERT_EQ(graph_.As(IID_IMediaControl, &control_), com::S_OK);
    ASSERT_EQ(graph_.As(IID_IMediaEventEx, &events_), com::S_OK);
    com::ComPtr<IMediaFilter> filter;
    ASSERT_EQ(graph_.As(IID_IMediaFilter, &filter), com::S_OK);
    // Samples go through as fast as they come: the tests check which frames, not when.
    ASSERT_EQ(filter->SetSyncSource(nullptr), com::S_OK);
  }
  void TearDown() override {
    if (control_) control_->Stop();
    control_.Reset();
    events_.Reset();
    graph_.Reset();
    registry::SetRegistryDirectory({});
  }

  template <typename T = IBaseFilter>
  com::ComPtr<T> Create(REFCLSID clsid, REFIID iid = IID_IBaseFilter) {
    com::ComPtr<T> made;
    EXPECT_EQ(com::CoCreateInstance(clsid, nullptr, com::CLSCTX_INPROC_SERVER, iid, made.PutVoid()), com::S_OK);
    return made;
  }

  com::ComPtr<IPin> Pin(IBaseFilter* filter, const char16_t* name) {
    com::ComPtr<IPin> pin;
    EXPECT_EQ(filter->FindPin(name, pin.Put()), com::S_OK) << std::string(name, name + std::char_traits<char16_t>::length(name));
    return pin;
  }

  /** @brief Events until one with this code arrives (5 s at most each); false when it never comes. */
  bool AwaitEvent(LONG wanted, LONG_PTR* param2 = nullptr) {
    for (;;) {
      LONG code = 0;
      LONG_PTR a = 0, b = 0;
      if (events_->GetEvent(&code, &a, &b, 5000) != com::S_OK) return false;
      if (code == wanted) {
        if (param2) *param2 = b;
        return true;
      }
    }
  }

  QTemporaryDir registryDir_;
  com::ComPtr<IGraphBuilder> graph_;
  com::ComPtr<IMediaControl> control_;
  com::ComPtr<IMediaEventEx> events_;
};

}  // namespace kestrom::dshow::test
