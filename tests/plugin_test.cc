// The plug-in object: entry point, reference counting, interface queries.
#include <gtest/gtest.h>

#include "tests/support/harness.h"

namespace {

using testing_support::Harness;
using testing_support::Heap;

TEST(PluginTest, LastReleaseTellsTheHostBeforeAndAfterWithTheSameAddress) {
  hostkit::LoggingPluginHost pluginHost;
  FLM::Plugin* plugin = nullptr;
  EXPECT_EQ(_getPlugin(&pluginHost, &plugin), 0);
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(plugin->refCount(), 1);
  EXPECT_EQ(plugin->getReserved(), 0);
  EXPECT_EQ(plugin->getHost(), &pluginHost);
  EXPECT_TRUE(pluginHost.events.empty());

  EXPECT_EQ(plugin->retain(), 2);
  EXPECT_EQ(plugin->refCount(), 2);
  EXPECT_EQ(plugin->release(), 1);
  EXPECT_TRUE(pluginHost.events.empty());

  const void* address = plugin;
  EXPECT_EQ(plugin->release(), 0);
  ASSERT_EQ(pluginHost.events.size(), 2u);
  EXPECT_FALSE(pluginHost.events[0].released);
  EXPECT_TRUE(pluginHost.events[1].released);
  EXPECT_EQ(pluginHost.events[0].plugin, address);
  EXPECT_EQ(pluginHost.events[1].plugin, address);
}

TEST(PluginTest, ObjectIsAliveWhileTheHostIsToldItIsReleasing) {
  hostkit::LoggingPluginHost pluginHost;
  FLM::Plugin* plugin = nullptr;
  _getPlugin(&pluginHost, &plugin);
  std::int32_t seen = -1;
  pluginHost.onReleasing = [&] { seen = plugin->getReserved(); };
  plugin->release();
  EXPECT_EQ(seen, 0);
}

TEST(PluginTest, NullHostIsNeverCalled) {
  FLM::Plugin* plugin = nullptr;
  _getPlugin(nullptr, &plugin);
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(plugin->release(), 0);
}

TEST(PluginTest, OutOfMemoryGivesANullObjectAndStatusZero) {
  hostkit::LoggingPluginHost pluginHost;
  const std::int64_t before = Heap::live();
  for (int n = 0; n < 64; ++n) {
    FLM::Plugin* plugin = reinterpret_cast<FLM::Plugin*>(&pluginHost);
    Heap::failAfter(n);
    const std::int32_t status = _getPlugin(&pluginHost, &plugin);
    Heap::failAfter(-1);
    EXPECT_EQ(status, 0);
    if (plugin == nullptr) {
      EXPECT_EQ(Heap::live(), before) << "after failing allocation " << n;
      continue;
    }
    plugin->release();  // enough allocations: a whole object
    EXPECT_EQ(Heap::live(), before);
    return;
  }
  FAIL() << "construction never succeeded";
}

TEST(QueryInterfaceTest, AnswersTheThreeInterfacesAndRefusesTheRest) {
  Harness module;
  const struct {
    const FLM::String<char>& id;
    bool answered;
  } rows[] = {
      {FLM::IdInterfaceComponent, true},     {FLM::IdInterfaceTransform, true},
      {FLM::IdComponentTransform, true},     {FLM::IdComponentInput, false},
      {FLM::IdInterfaceInput, false},        {FLM::IdComponentOutput, false},
      {FLM::IdComponentOutputSingle, false}, {FLM::IdComponentOutputMultiple, false},
      {FLM::IdInterfaceOutput, false},
  };
  for (const auto& row : rows) {
    void* out = &module;
    const std::int32_t status = module.plugin->queryInterface(&row.id, &out);
    EXPECT_EQ(status, row.answered ? 0 : 3) << row.id.data;
    EXPECT_EQ(out != nullptr, row.answered) << row.id.data;
    void* again = nullptr;
    module.plugin->queryInterface(&row.id, &again);
    EXPECT_EQ(again, out) << "repeated queries give the same address";
  }
  EXPECT_EQ(module.plugin->refCount(), 1);
}

TEST(QueryInterfaceTest, ComparesTheTextExactly) {
  Harness module;
  auto query = [&](const char* text, std::int32_t length) {
    FLM::String<char> id(text, &FLM::sharedAllocator<char>());
    if (length >= 0) id.length = length;
    void* out = &module;
    const std::int32_t status = module.plugin->queryInterface(&id, &out);
    EXPECT_EQ(status == 0, out != nullptr) << (text ? text : "(null)");
    return status;
  };
  EXPECT_EQ(query("com.zelk.flowloom.interface.component", -1), 0);
  EXPECT_EQ(query("com.zelk.flowloom.interface.component", 5), 0);  // length not read
  EXPECT_EQ(query("com.zelk.flowloom.interface.Component", -1), 3);
  EXPECT_EQ(query("com.zelk.flowloom.interface.components", -1), 3);
  EXPECT_EQ(query("com.zelk.flowloom.interface.componen", -1), 3);
  EXPECT_EQ(query(nullptr, -1), 3);
  EXPECT_EQ(query("", -1), 3);
}

TEST(QueryInterfaceTest, InterfacePointersReachTheSameObject) {
  Harness module;
  void* transformComponent = nullptr;
  module.plugin->queryInterface(&FLM::IdComponentTransform, &transformComponent);
  ASSERT_NE(transformComponent, nullptr);
  auto* both = static_cast<FLM::TransformComponent*>(transformComponent);
  // Through the transform component's own bases, the same ports open.
  FLM::OutputInterface* output = both;
  FLM::InputInterface* input = both;
  EXPECT_EQ(static_cast<FLM::TransformInterface*>(both), module.transform);
  EXPECT_EQ(static_cast<FLM::ComponentInterface*>(both), module.component);
  FLM::PortInterface* in = output->connectUpstream(1, "SSA", 0);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(module.outputSide->connectUpstream(1, "SSA", 0), nullptr) << "already open";
  EXPECT_TRUE(module.outputSide->disconnectUpstream(in));
  FLM::PortInterface* out = input->connectDownstream(1, "UTF8", 0);
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(module.inputSide->disconnectDownstream(out));
}

}  // namespace
