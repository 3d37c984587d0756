#include "base/trace_event/trace_event_etw_export_win.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/test/test_helper_process.h"
#include "base/trace_event/trace_event.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace trace_event {
namespace {

// What the fake ETW entry points saw.
struct FakeEtw {
  int registrations = 0;
  int unregistrations = 0;
  PENABLECALLBACK callback = nullptr;
  void* context = nullptr;
  std::vector<std::vector<std::string>> writes;
};
FakeEtw* g_fake = nullptr;

ULONG WINAPI FakeRegister(LPCGUID provider, PENABLECALLBACK callback, PVOID context,
                          PREGHANDLE handle) {
  EXPECT_EQ(0, memcmp(provider, &TraceEventEtwExport::kProviderGuid, sizeof(GUID)));
  ++g_fake->registrations;
  g_fake->callback = callback;
  g_fake->context = context;
  *handle = 42;
  return ERROR_SUCCESS;
}

ULONG WINAPI FakeWrite(REGHANDLE handle, PCEVENT_DESCRIPTOR descriptor, ULONG count,
                       PEVENT_DATA_DESCRIPTOR data) {
  EXPECT_EQ(42u, handle);
  EXPECT_EQ(1, descriptor->Id);
  EXPECT_EQ(8, descriptor->Channel);
  EXPECT_EQ(4, descriptor->Level);
  EXPECT_EQ(0x8000000000000000ull, descriptor->Keyword);
  std::vector<std::string> fields;
  for (ULONG i = 0; i < count; ++i) {
    const char* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(data[i].Ptr));
    EXPECT_EQ(strlen(text) + 1, data[i].Size) << "sizes include the terminator";
    fields.push_back(text);
  }
  g_fake->writes.push_back(fields);
  return ERROR_SUCCESS;
}

ULONG WINAPI FakeUnregister(REGHANDLE handle) {
  EXPECT_EQ(42u, handle);
  ++g_fake->unregistrations;
  return ERROR_SUCCESS;
}

const TraceEventEtwExport::Functions kFakeFunctions = {&FakeRegister, &FakeWrite,
                                                       &FakeUnregister};

class EtwExportTest : public testing::Test {
 protected:
  void SetUp() override { g_fake = &fake_; }
  void TearDown() override { g_fake = nullptr; }

  void Enable(ULONG code, UCHAR level, ULONGLONG any, ULONGLONG all) {
    fake_.callback(nullptr, code, level, any, all, nullptr, fake_.context);
  }

  FakeEtw fake_;
};

TEST_F(EtwExportTest, EnableCallbackLevelAndKeywordRules) {
  TraceEventEtwExport exporter(kFakeFunctions);
  ASSERT_EQ(1, fake_.registrations);
  ASSERT_TRUE(exporter.is_registered());
  struct Case {
    ULONG code;
    UCHAR level;
    ULONGLONG any;
    ULONGLONG all;
    uint32_t bit;
  };
  const Case cases[] = {
      {1, 5, ~0ull, 0, 1},
      {1, 3, ~0ull, 0, 0},  // below the event's level
      {1, 4, ~0ull, 0, 1},
      {1, 0, ~0ull, 0, 1},  // level 0: any level
      {1, 5, 0x1, 0, 0},    // keyword not among match-any
      {1, 5, ~0ull, 0x8000000000000000ull, 1},
      {1, 5, ~0ull, 0x8000000000000001ull, 0},  // match-all wants a bit the event lacks
      {2, 5, 0, 0, 0},      // other codes change nothing (the bit stays as it was)
      {0, 5, ~0ull, 0, 0},  // disable
  };
  uint32_t previous = 0;
  for (const Case& c : cases) {
    Enable(c.code, c.level, c.any, c.all);
    uint32_t bit = exporter.enable_context().event_enable_bits.load();
    EXPECT_EQ(c.code == 2 ? previous : c.bit, bit)
        << "code " << c.code << " level " << int(c.level);
    previous = bit;
  }
  EXPECT_EQ(0u, exporter.enable_context().is_enabled);
  EXPECT_EQ(0u, exporter.enable_context().match_any_keyword);
}

TEST_F(EtwExportTest, WritesEightTextFields) {
  {
    TraceEventEtwExport exporter(kFakeFunctions);
    const char* names[3] = {"src_file", "count", "value"};
    const uint8_t types[3] = {TRACE_VALUE_TYPE_STRING, TRACE_VALUE_TYPE_INT,
                              TRACE_VALUE_TYPE_CONVERTABLE};
    const uint64_t values[3] = {reinterpret_cast<uintptr_t>("a.cc"), 3, 0};

    exporter.AddEvent('X', "Run", 3, names, types, values);
    exporter.SetExportEnabledForTesting(true);
    exporter.AddEvent('X', "Run", 3, names, types, values);
    EXPECT_TRUE(fake_.writes.empty()) << "export on, but no session enabled the provider";

    Enable(1, 5, ~0ull, 0);
    exporter.AddEvent('X', "Run", 3, names, types, values);
    exporter.AddEvent('Z', nullptr, 1, names, types, values);
    exporter.AddEvent('b', "Async", 0, nullptr, nullptr, nullptr);
    exporter.AddCompleteEndEvent("Run");
    Enable(0, 0, 0, 0);
    exporter.AddCompleteEndEvent("Run");
    exporter.AddEvent('X', "Run", 0, nullptr, nullptr, nullptr);
  }
  const std::vector<std::vector<std::string>> expected = {
      {"Run", "Complete", "src_file", "\"a.cc\"", "count", "3", "value", ""},
      {"NULL", "Z", "src_file", "\"a.cc\"", "", "", "", ""},
      {"Async", "Nestable Async Begin", "", "", "", "", "", ""},
      {"Run", "Complete End", "", "", "", "", "", ""},
  };
  EXPECT_EQ(expected, fake_.writes);
  EXPECT_EQ(1, fake_.unregistrations) << "destruction unregisters";
}

TEST_F(EtwExportTest, CategoryDecision) {
  TraceEventEtwExport exporter(kFakeFunctions);
  exporter.SetCategoryEnabledForTesting("__DISABLED_OTHER_EVENTS", true);
  EXPECT_FALSE(exporter.IsGroupEnabled("disabled-by-default-memory-infra")) << "export off";
  exporter.SetExportEnabledForTesting(true);
  struct Case {
    const char* group;
    bool enabled;
  };
  const Case cases[] = {
      {"disabled-by-default-memory-infra", true},
      {"disabled-by-default-toplevel.flow", false},  // in the map, off
      {"mine", false},
      {"mine,disabled-by-default-x", true},
      {"toplevel", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.enabled, exporter.IsGroupEnabled(c.group)) << c.group;
  exporter.SetCategoryEnabledForTesting("__OTHER_EVENTS", true);
  EXPECT_TRUE(exporter.IsGroupEnabled("mine"));
}

TEST_F(EtwExportTest, MissingFunctionsLeaveItSilent) {
  TraceEventEtwExport::Functions none = {};
  TraceEventEtwExport exporter(none);
  EXPECT_FALSE(exporter.is_registered());
  exporter.SetExportEnabledForTesting(true);
  exporter.AddCompleteEndEvent("Run");
}

TEST(EtwExportProcessTest, RegistersAgainstTheSystemAndExportsNothing) {
  // The first category lookup created the exporter and registered the provider.
  TraceLog::GetCategoryGroupEnabled("toplevel");
  TraceEventEtwExport* exporter = TraceEventEtwExport::GetInstance();
  ASSERT_NE(nullptr, exporter);
  EXPECT_EQ(exporter, TraceEventEtwExport::GetInstance());
  EXPECT_TRUE(exporter->is_registered());
  EXPECT_FALSE(TraceEventEtwExport::IsCategoryGroupEnabled("toplevel"));
  EXPECT_EQ(0, *TraceLog::GetCategoryGroupEnabled("disabled-by-default-etw.test") &
                   TraceLog::ENABLED_FOR_ETW_EXPORT);
}

TEST(EtwExportProcessTest, ProcessExitTearsItDownForGood) {
  EXPECT_EQ(0, RunTestHelper(L"trace_event_etw_export_test_helper.exe", L""));
}

TEST(EtwExportProcessTest, ExporterOutlivesTeardownForACategoryRegisteredMeanwhile) {
  // The helper poisons freed memory: a freed exporter would crash it.
  EXPECT_EQ(0, RunTestHelper(L"trace_event_etw_export_test_helper.exe",
                             L"category-during-teardown"));
}

}  // namespace
}  // namespace trace_event
}  // namespace base
