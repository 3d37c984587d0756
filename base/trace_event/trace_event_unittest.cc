#include "base/trace_event/trace_event.h"

#include <windows.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/stringprintf.h"
#include "base/json/json_reader.h"
#include "base/trace_event/trace_log.h"
#include "base/trace_event/traced_value.h"
#include "base/values.h"

namespace base {
namespace trace_event {
namespace {

uint64_t Text(const char* text) { return reinterpret_cast<uintptr_t>(text); }

// Registered before any test runs: another test fills the process's category table.
const char kOddCategory[] = "cat\"\\\x01";
const uint8_t* const g_odd_category = TraceLog::GetCategoryGroupEnabled(kOddCategory);

struct Args {
  int count = 0;
  const char* names[3] = {};
  uint8_t types[3] = {};
  uint64_t values[3] = {};
  Args& Add(const char* name, uint8_t type, uint64_t value) {
    names[count] = name;
    types[count] = type;
    values[count] = value;
    ++count;
    return *this;
  }
};

// What Python's json module reads from |json|, written back by json.dumps; an error
// text when it cannot read it.
std::string AsReadByPython(const std::string& json) {
  ScratchDir scratch;
  const std::string dir = UnixPath(scratch.path());
  if (dir.empty()) return "no host path for the scratch folder";
  const char kScript[] =
      "import json, os, sys\n"
      "try:\n"
      "    result = json.dumps(json.load(open(sys.argv[1], encoding='utf-8')))\n"
      "except Exception as error:\n"
      "    result = 'unreadable: %s' % error\n"
      "open(sys.argv[2] + '.tmp', 'w').write(result)\n"
      "os.replace(sys.argv[2] + '.tmp', sys.argv[2])\n";
  if (!WriteTextFile(scratch.path().Append(L"read.py"), kScript) ||
      !WriteTextFile(scratch.path().Append(L"trace.json"), json))
    return "cannot write the scratch files";
  const char* python = getenv("VELUM_PYTHON3");
  const std::string command = StringPrintf(
      "\"%s\" \"%s/read.py\" \"%s/trace.json\" \"%s/read.txt\"",
      python && *python ? python : VELUM_PYTHON3_PATH, dir.c_str(), dir.c_str(), dir.c_str());
  const FilePath result_path = scratch.path().Append(L"read.txt");
  std::string result;
  if (!StartHostCommand(command) || !WaitForPathExistence(result_path, true, 60000) ||
      !ReadFileToString(result_path, &result))
    return "python did not answer: " + command;
  return result;
}

std::string Json(const TraceEvent& event, const ArgumentFilterPredicate& predicate = nullptr) {
  std::string json;
  AppendEventAsJson(event, &json, predicate);
  return json;
}

// The beginning every event of this process shares, up to the phase.
std::string Head(int tid, long long ts, char phase) {
  return StringPrintf("{\"pid\":%d,\"tid\":%d,\"ts\":%lld,\"ph\":\"%c\",\"cat\":\"toplevel\",",
                      static_cast<int>(GetCurrentProcessId()), tid, ts, phase);
}

class TraceEventTest : public testing::Test {
 protected:
  void Init(TraceEvent* event, char phase, unsigned flags, const Args& args = Args(),
            const char* scope = nullptr, uint64_t id = 0, uint64_t bind_id = 0,
            int thread_id = 7, int64_t thread_timestamp = 0) {
    event->Initialize(thread_id, 100, thread_timestamp, phase, category_, "Run", scope, id,
                      bind_id, args.count, args.names, args.types, args.values, nullptr, flags);
  }

  const uint8_t* category_ = TraceLog::GetCategoryGroupEnabled("toplevel");
};

TEST_F(TraceEventTest, GoldenJsonOfEachKindOfEvent) {
  struct Case {
    const char* name;
    char phase;
    unsigned flags;
    const char* scope;
    uint64_t id;
    int thread_id;
    std::string tail;  // after the head and the name
  };
  const Case cases[] = {
      {"instant, global scope", 'I', 0, nullptr, 0, 7, "\"args\":{},\"s\":\"g\"}"},
      {"instant, process scope", 'I', TRACE_EVENT_FLAG_SCOPE_PROCESS, nullptr, 0, 7,
       "\"args\":{},\"s\":\"p\"}"},
      {"instant, thread scope", 'I', TRACE_EVENT_FLAG_SCOPE_THREAD, nullptr, 0, 7,
       "\"args\":{},\"s\":\"t\"}"},
      {"instant, both scope bits", 'I', TRACE_EVENT_FLAG_SCOPE_MASK, nullptr, 0, 7,
       "\"args\":{},\"s\":\"?\"}"},
      {"flow out", 'X', TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_FLOW_OUT, nullptr, 0x2a, 7,
       "\"args\":{},\"id\":\"0x2a\",\"bind_id\":\"0x2a\",\"flow_out\":true}"},
      {"flow in, bound to enclosing", 'X',
       TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_FLOW_IN | TRACE_EVENT_FLAG_BIND_TO_ENCLOSING,
       nullptr, 0x2a, 7,
       "\"args\":{},\"id\":\"0x2a\",\"bp\":\"e\",\"bind_id\":\"0x2a\",\"flow_in\":true}"},
      {"local id2 with scope", 'b', TRACE_EVENT_FLAG_HAS_LOCAL_ID, "sc", 5, 7,
       "\"args\":{},\"scope\":\"sc\",\"id2\":{\"local\":\"0x5\"}}"},
      {"global id2", 'e', TRACE_EVENT_FLAG_HAS_GLOBAL_ID, nullptr, 0xabc, 7,
       "\"args\":{},\"id2\":{\"global\":\"0xabc\"}}"},
      {"two id kinds: no id", 'n', TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_HAS_GLOBAL_ID,
       "sc", 5, 7, "\"args\":{},\"scope\":\"sc\"}"},
      {"scope without id is not written", 'n', 0, "sc", 5, 7, "\"args\":{}}"},
      {"async thread timestamps", 'S', TRACE_EVENT_FLAG_ASYNC_TTS, nullptr, 0, 7,
       "\"args\":{}, \"use_async_tts\":1}"},
  };
  for (const Case& c : cases) {
    TraceEvent event;
    Init(&event, c.phase, c.flags, Args(), c.scope, c.id, c.id, c.thread_id);
    EXPECT_EQ(Head(7, 100, c.phase) + "\"name\":\"Run\"," + c.tail, Json(event)) << c.name;
  }
}

TEST_F(TraceEventTest, CompleteEventDurationsAndArguments) {
  TraceEvent event;
  Args args;
  args.Add("src_file", TRACE_VALUE_TYPE_STRING, Text("a\"b.cc"))
      .Add("count", TRACE_VALUE_TYPE_INT, static_cast<uint64_t>(-3));
  Init(&event, 'X', 0, args);
  const std::string head = Head(7, 100, 'X') +
                           "\"name\":\"Run\",\"args\":{\"src_file\":\"a\\\"b.cc\",\"count\":-3}";
  EXPECT_EQ(head + "}", Json(event)) << "no duration before the update";
  event.UpdateDuration(150, 999);
  EXPECT_EQ(head + ",\"dur\":50}", Json(event)) << "no thread time: no tdur";

  TraceEvent threaded;
  Init(&threaded, 'X', 0, args, nullptr, 0, 0, 7, 20);
  threaded.UpdateDuration(150, 27);
  EXPECT_EQ(head + ",\"dur\":50,\"tdur\":7,\"tts\":20}", Json(threaded));

  std::string pretty;
  event.AppendPrettyPrinted(&pretty);
  EXPECT_EQ("Run[toplevel], {src_file:\"a\\\"b.cc\", count:-3}", pretty);
}

TEST_F(TraceEventTest, ARecycledSlotForgetsTheThreadDurationOfItsLastEvent) {
  TraceEvent slot;
  Init(&slot, 'X', 0, Args(), nullptr, 0, 0, 7, 20);
  slot.UpdateDuration(150, 27);
  slot.Reset();
  // Reused by a complete event that never ends (recording stopped meanwhile).
  Init(&slot, 'X', 0, Args(), nullptr, 0, 0, 7, 30);
  EXPECT_EQ(Head(7, 100, 'X') + "\"name\":\"Run\",\"args\":{},\"tts\":30}", Json(slot));

  std::unique_ptr<TraceEvent> fresh(new TraceEvent);
  Init(fresh.get(), 'X', 0, Args(), nullptr, 0, 0, 7, 40);
  TraceEvent reused;
  Init(&reused, 'X', 0, Args(), nullptr, 0, 0, 7, 20);
  reused.UpdateDuration(150, 27);
  reused.MoveFrom(std::move(fresh));
  EXPECT_EQ(std::string::npos, Json(reused).find("tdur")) << Json(reused);
}

// Category, argument names and scope are the callers' texts, as the values are; the
// output must stay JSON whatever they hold, and an argument without a value too.
TEST_F(TraceEventTest, OddNamesAndValuelessArgumentsStillGiveJson) {
  const uint8_t* odd_category = g_odd_category;
  ASSERT_STREQ(kOddCategory, TraceLog::GetCategoryGroupName(odd_category));
  Args named;
  named.Add("arg\"\\\x1f", TRACE_VALUE_TYPE_INT, 1);
  TraceEvent with_scope;
  with_scope.Initialize(7, 100, 0, 'b', odd_category, "Run", "scope\"\\\n", 5, 0, named.count,
                        named.names, named.types, named.values, nullptr,
                        TRACE_EVENT_FLAG_HAS_LOCAL_ID);
  Args valueless;
  valueless.Add("convertable", TRACE_VALUE_TYPE_CONVERTABLE, 0).Add("unknown", 99, 5);
  TraceEvent without_values;
  without_values.Initialize(7, 100, 0, 'I', odd_category, "Run", nullptr, 0, 0, valueless.count,
                            valueless.names, valueless.types, valueless.values, nullptr, 0);

  const std::string json = "[" + Json(with_scope) + "," + Json(without_values) + "]";
  EXPECT_TRUE(JsonReader::Read(json)) << json;
  // The strict reader of the trace format's consumers: the host's python3 under Wine.
  if (!RunningUnderWine()) return;
  const std::string read = AsReadByPython(json);
  const std::string cat = "\"cat\\\"\\\\\\u0001\"";
  EXPECT_NE(std::string::npos, read.find("\"cat\": " + cat + ", \"name\": \"Run\", "
                                         "\"args\": {\"arg\\\"\\\\\\u001f\": 1}, "
                                         "\"scope\": \"scope\\\"\\\\\\n\""))
      << read;
  EXPECT_NE(std::string::npos, read.find("\"cat\": " + cat + ", \"name\": \"Run\", "
                                         "\"args\": {\"convertable\": null, \"unknown\": null}"))
      << read;
}

TEST_F(TraceEventTest, ProcessIdOverride) {
  TraceEvent other_process;
  Init(&other_process, 'I', TRACE_EVENT_FLAG_HAS_PROCESS_ID, Args(), nullptr, 0, 0, 1234);
  EXPECT_EQ(0u, Json(other_process).find("{\"pid\":1234,\"tid\":-1,")) << Json(other_process);

  TraceEvent no_process;
  Init(&no_process, 'I', TRACE_EVENT_FLAG_HAS_PROCESS_ID, Args(), nullptr, 0, 0, 0);
  EXPECT_EQ(0u, Json(no_process).find(Head(0, 100, 'I'))) << Json(no_process);
}

TEST_F(TraceEventTest, ArgumentValues) {
  struct Case {
    uint8_t type;
    uint64_t bits;
    const char* json;
  };
  auto d = [](double value) {
    TraceValue v;
    v.as_double = value;
    return v.as_uint;
  };
  const Case cases[] = {
      {TRACE_VALUE_TYPE_DOUBLE, d(1), "1.0"},
      {TRACE_VALUE_TYPE_DOUBLE, d(0.5), "0.5"},
      {TRACE_VALUE_TYPE_DOUBLE, d(-0.25), "-0.25"},
      {TRACE_VALUE_TYPE_DOUBLE, d(0.001), "0.001"},
      {TRACE_VALUE_TYPE_DOUBLE, d(-0.001), "-0.001"},
      {TRACE_VALUE_TYPE_DOUBLE, d(1e21), "1e+21"},
      {TRACE_VALUE_TYPE_DOUBLE, d(-0.0), "-0.0"},
      {TRACE_VALUE_TYPE_DOUBLE, d(std::nan("")), "\"NaN\""},
      {TRACE_VALUE_TYPE_DOUBLE, d(std::numeric_limits<double>::infinity()), "\"Infinity\""},
      {TRACE_VALUE_TYPE_DOUBLE, d(-std::numeric_limits<double>::infinity()), "\"-Infinity\""},
      {TRACE_VALUE_TYPE_BOOL, 1, "true"},
      {TRACE_VALUE_TYPE_BOOL, 0, "false"},
      {TRACE_VALUE_TYPE_UINT, 18446744073709551615ull, "18446744073709551615"},
      {TRACE_VALUE_TYPE_INT, static_cast<uint64_t>(-9223372036854775807LL - 1),
       "-9223372036854775808"},
      {TRACE_VALUE_TYPE_POINTER, 0xbeef, "\"0xbeef\""},
      {TRACE_VALUE_TYPE_STRING, 0, "\"NULL\""},
      {TRACE_VALUE_TYPE_COPY_STRING, Text("line\nbreak"), "\"line\\nbreak\""},
      {99, 5, ""},
  };
  for (const Case& c : cases) {
    TraceValue value;
    value.as_uint = c.bits;
    std::string json;
    AppendArgValueAsJson(c.type, value, &json);
    EXPECT_EQ(c.json, json) << "type " << int(c.type);
  }
}

TEST_F(TraceEventTest, CopiesOnlyWhatItMustAndIgnoresAThirdArgument) {
  TraceEvent copied;
  TraceEvent uncopied;
  std::string scope = "scope";
  std::string value = "value";
  {
    std::string name = "Copied";
    std::string arg_name = "arg";
    Args args;
    args.Add(arg_name.c_str(), TRACE_VALUE_TYPE_STRING, Text(value.c_str()))
        .Add("second", TRACE_VALUE_TYPE_COPY_STRING, Text(value.c_str()))
        .Add("third", TRACE_VALUE_TYPE_INT, 3);
    copied.Initialize(1, 1, 0, 'n', category_, name.c_str(), scope.c_str(), 1, 0, args.count,
                      args.names, args.types, args.values, nullptr,
                      TRACE_EVENT_FLAG_COPY | TRACE_EVENT_FLAG_HAS_ID);
    uncopied.Initialize(1, 1, 0, 'n', category_, "Static", nullptr, 0, 0, args.count, args.names,
                        args.types, args.values, nullptr, 0);
    name.assign(name.size(), 'x');
    arg_name.assign(arg_name.size(), 'x');
    value.assign(value.size(), 'x');
  }
  EXPECT_STREQ("Copied", copied.name());
  EXPECT_STREQ("scope", copied.scope());
  EXPECT_NE(scope.c_str(), copied.scope());
  EXPECT_STREQ("arg", copied.arg_name(0));
  EXPECT_EQ(TRACE_VALUE_TYPE_COPY_STRING, copied.arg_type(0));
  EXPECT_STREQ("value", copied.arg_value(0).as_string);
  EXPECT_STREQ("value", copied.arg_value(1).as_string);

  // Without the copy flag only the type-7 text is private.
  EXPECT_EQ(TRACE_VALUE_TYPE_STRING, uncopied.arg_type(0));
  EXPECT_EQ(value.c_str(), uncopied.arg_value(0).as_string);
  EXPECT_STREQ("value", uncopied.arg_value(1).as_string);
  EXPECT_EQ(std::string::npos, Json(uncopied).find("third"));

  // Moving keeps the private texts valid.
  std::unique_ptr<TraceEvent> source(new TraceEvent);
  {
    std::string name = "Moved";
    source->Initialize(1, 1, 0, 'I', category_, name.c_str(), nullptr, 0, 0, 0, nullptr,
                       nullptr, nullptr, nullptr, TRACE_EVENT_FLAG_COPY);
  }
  TraceEvent target;
  target.MoveFrom(std::move(source));
  EXPECT_STREQ("Moved", target.name());
}

TEST_F(TraceEventTest, ArgumentFilterAndConvertables) {
  std::unique_ptr<ConvertableToTraceFormat> convertables[2];
  TracedValue* traced = new TracedValue;
  traced->SetInteger("n", 1);
  convertables[0].reset(traced);
  Args args;
  args.Add("value", TRACE_VALUE_TYPE_CONVERTABLE, 0).Add("secret", TRACE_VALUE_TYPE_INT, 2);
  TraceEvent event;
  event.Initialize(7, 100, 0, 'I', category_, "Run", nullptr, 0, 0, args.count, args.names,
                   args.types, args.values, convertables, 0);
  EXPECT_EQ(nullptr, convertables[0]);
  const std::string head = Head(7, 100, 'I') + "\"name\":\"Run\",\"args\":";
  EXPECT_EQ(head + "{\"value\":{\"n\":1},\"secret\":2},\"s\":\"g\"}", Json(event));

  ArgumentFilterPredicate reject_all = [](const char*, const char*,
                                          ArgumentNameFilterPredicate*) { return false; };
  EXPECT_EQ(head + "\"__stripped__\",\"s\":\"g\"}", Json(event, reject_all));

  ArgumentFilterPredicate strip_secret = [](const char* category, const char* name,
                                            ArgumentNameFilterPredicate* name_filter) {
    EXPECT_STREQ("toplevel", category);
    EXPECT_STREQ("Run", name);
    *name_filter = [](const char* arg) { return std::string(arg) != "secret"; };
    return true;
  };
  EXPECT_EQ(head + "{\"value\":{\"n\":1},\"secret\":\"__stripped__\"},\"s\":\"g\"}",
            Json(event, strip_secret));
}

}  // namespace
}  // namespace trace_event
}  // namespace base
