// base_bench: throughput of the hot paths of base/ and the third-party decoders. Run by
// hand (see bench/README.md); figures depend on the machine, so nothing here asserts on time.
#include <windows.h>

#include <psapi.h>

#include <openssl/sha.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/allocator/allocator_shim.h"
#include "base/bind.h"
#include "base/debug/activity_tracker.h"
#include "base/debug/heap_usage_tracker.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/important_file_writer.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/location.h"
#include "base/message_loop/message_loop.h"
#include "base/metrics/histogram.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/metrics/sparse_histogram.h"
#include "base/run_loop.h"
#include "base/strings/double_conversion.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/lock.h"
#include "base/trace_event/trace_event.h"
#include "base/trace_event/trace_log.h"
#include "base/values.h"
#include "base/win/message_window.h"
#include "base/win/scoped_generic.h"
#include "desktop/windows/installer/package_fetcher/file_checksum.h"
#include "desktop/windows/installer/package_fetcher/lzma_util.h"

namespace {

// Keeps results alive so the optimizer cannot drop the measured work.
volatile size_t g_sink;
// The window of the UI pump bench, for its own handler.
HWND g_bench_window;

double Seconds(const std::function<void()>& work, int times) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  for (int i = 0; i < times; ++i) work();
  QueryPerformanceCounter(&end);
  return static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
}

// Runs |work| (which handles |amount| bytes or items) often enough that one repetition
// takes about 0.2 s, and prints the median of 5 repetitions.
void Measure(const char* name, double amount, bool bytes, const std::function<void()>& work) {
  double once = Seconds(work, 1);  // also warms caches and allocators
  int times = std::max(1, static_cast<int>(0.2 / std::max(once, 1e-9)));
  std::vector<double> rates;
  for (int rep = 0; rep < 5; ++rep) rates.push_back(amount * times / Seconds(work, times));
  std::sort(rates.begin(), rates.end());
  double median = rates[2];
  if (bytes)
    std::printf("%-40s %10.1f MB/s\n", name, median / 1e6);
  else
    std::printf("%-40s %10.2f M items/s\n", name, median / 1e6);
  std::fflush(stdout);
}

// ---------------------------------------------------------------- inputs

std::string AsciiText(size_t size) {
  std::string text;
  while (text.size() < size)
    text += "The quick brown fox jumps over the lazy dog; 0123456789 (ASCII only).\n";
  text.resize(size);
  return text;
}

// Latin accents, Greek, CJK and an astral emoji (a surrogate pair in UTF-16) among ASCII.
std::string MixedText(size_t size) {
  std::string text;
  while (text.size() < size)
    text += "Grüße aus Zürich, naïve café — Ελληνικά, 日本語のテキスト, 😀 emoji.\n";
  return text;
}

// A settings-like document: a list of records with nested dictionaries and lists,
// escaped strings, integers and doubles.
std::string JsonDocument(size_t size) {
  std::string json = "{\"version\": 3, \"records\": [";
  for (int i = 0; json.size() < size; ++i) {
    if (i) json += ",";
    base::StringAppendF(
        &json,
        "{\"id\": %d, \"name\": \"record \\\"%d\\\"\\tC:\\\\Program Files\\\\Velum\\n\", "
        "\"title\": \"caf\\u00e9 \\u65e5\\u672c %d\", \"score\": %.17g, \"ratio\": %g, "
        "\"enabled\": %s, \"parent\": null, \"tags\": [\"alpha\", \"beta\", %d, %.3f], "
        "\"window\": {\"x\": %d, \"y\": %d, \"size\": {\"w\": 1280, \"h\": 1024}, "
        "\"maximized\": false}}",
        i, i, i, i * 1.000001 / 7.0, i / 3.0, i % 2 ? "true" : "false", -i, i * 0.25,
        i % 1000, -(i % 700));
  }
  json += "]}";
  return json;
}

// ---------------------------------------------------------------- 7z extraction

// Extracts |archive| into |folder| through the installer's own extractor; returns the
// bytes written, or 0 on any failure.
uint64_t ExtractAll(const base::FilePath& archive, const base::FilePath& folder) {
  base::DeleteFileBestEffort(folder, true);
  installer::LzmaUtil extractor;
  if (!extractor.Open(archive).ok() || !extractor.ExtractArchiveTo(folder).ok())
    return 0;
  uint64_t total = 0;
  base::FileEnumerator files(folder, base::FileEnumerator::FILES);
  for (base::FilePath path = files.Next(); !path.empty(); path = files.Next()) {
    const WIN32_FIND_DATAW& data = files.GetInfo().find_data;
    total += (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  return total;
}

// ---------------------------------------------------------------- cases

void BenchUtf() {
  struct Case {
    const char* name;
    std::string utf8;
  } cases[] = {{"ascii", AsciiText(8 << 20)}, {"mixed", MixedText(8 << 20)}};
  for (const Case& c : cases) {
    std::wstring wide = base::UTF8ToWide(c.utf8);
    // Both directions are counted in UTF-8 bytes, so the figures compare.
    Measure(base::StringPrintf("UTF8ToWide %s (%d MB)", c.name, static_cast<int>(c.utf8.size() >> 20)).c_str(),
            c.utf8.size(), true, [&] { g_sink = base::UTF8ToWide(c.utf8).size(); });
    Measure(base::StringPrintf("WideToUTF8 %s (%d MB)", c.name, static_cast<int>(c.utf8.size() >> 20)).c_str(),
            c.utf8.size(), true, [&] { g_sink = base::WideToUTF8(wide).size(); });
  }
}

void BenchJson() {
  std::string json = JsonDocument(1 << 20);
  std::unique_ptr<base::Value> root = base::JsonReader::Read(json);
  if (!root) {
    std::printf("JSON: the generated document did not parse\n");
    return;
  }
  std::string written;
  if (!base::JsonWriter::Write(*root, &written)) {
    std::printf("JSON: the generated document did not write\n");
    return;
  }
  std::printf("JSON document: %zu bytes in, %zu bytes written\n", json.size(), written.size());
  Measure("JSON parse", json.size(), true, [&] { g_sink = !!base::JsonReader::Read(json); });
  Measure("JSON write", written.size(), true, [&] {
    std::string out;
    g_sink = base::JsonWriter::Write(*root, &out) ? out.size() : 0;
  });
}

void BenchDoubles() {
  const size_t kCount = 1000000;
  // Random bit patterns cover every exponent; non-finite values are skipped.
  std::mt19937_64 random(42);
  std::vector<double> values;
  while (values.size() < kCount) {
    uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof(value));
    if (std::isfinite(value)) values.push_back(value);
  }
  std::vector<std::string> texts;
  char buffer[base::kShortestDoubleBufferSize];
  for (double value : values) {
    base::FormatDoubleShortest(buffer, value);
    texts.push_back(buffer);
  }
  Measure("FormatDoubleShortest (1M doubles)", kCount, false, [&] {
    size_t length = 0;
    for (double value : values) {
      base::FormatDoubleShortest(buffer, value);
      length += std::strlen(buffer);
    }
    g_sink = length;
  });
  Measure("ParseDouble (1M doubles)", kCount, false, [&] {
    size_t same = 0;
    for (size_t i = 0; i < kCount; ++i)
      same += base::ParseDouble(texts[i].c_str(), nullptr) == values[i];
    g_sink = same;
  });
}

void BenchStringPrintf() {
  const int kCount = 10000;
  std::string long_text = AsciiText(2000);
  Measure("StringPrintf short (~40 B)", kCount, false, [&] {
    for (int i = 0; i < kCount; ++i)
      g_sink = base::StringPrintf("pid %d: %s at %.2f%%", i, "ready", i / 100.0).size();
  });
  Measure("StringPrintf long (~2 KB)", kCount, false, [&] {
    for (int i = 0; i < kCount; ++i)
      g_sink = base::StringPrintf("%d [%s] %08x", i, long_text.c_str(), i).size();
  });
}

void BenchSha256() {
  std::string data(64 << 20, '\0');
  std::mt19937 random(7);
  for (char& c : data) c = static_cast<char>(random());
  Measure("SHA-256 (64 MiB)", data.size(), true, [&] {
    uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const uint8_t*>(data.data()), data.size(), digest);
    g_sink = digest[0];
  });
}

// The installer's own package check on one file (bench/sha256_bench.sh compares it with
// sha256sum and openssl on the same file): the median of 3 runs of CheckFileChecksum.
int BenchChecksumOfFile(const char* path, const char* expected) {
  const base::FilePath file = base::FilePath::FromUTF8(path);
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  if (!GetFileAttributesExW(file.value().c_str(), GetFileExInfoStandard, &attributes)) {
    std::fprintf(stderr, "cannot read %s\n", path);
    return 1;
  }
  std::vector<double> rates;
  for (int run = 0; run < 3; ++run) {
    bool matched = false;
    const double seconds =
        Seconds([&] { matched = installer::CheckFileChecksum(file, expected, nullptr); }, 1);
    if (!matched) {
      std::fprintf(stderr, "checksum of %s does not match %s\n", path, expected);
      return 1;
    }
    const uint64_t size =
        (static_cast<uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
    rates.push_back(static_cast<double>(size) / seconds);
  }
  std::sort(rates.begin(), rates.end());
  std::printf("%-40s %10.1f MB/s\n", "CheckFileChecksum (SHA-256)", rates[1] / 1e6);
  return 0;
}

// One extraction of |archive| into the new folder |folder| (bench/unpack_bench.sh pairs it
// with `7zz x -mmt1`): prints the seconds, the files written and the process's peak
// working set and peak private bytes.
int BenchUnpackOnce(const char* archive, const char* folder) {
  uint64_t bytes = 0;
  const double seconds = Seconds(
      [&] { bytes = ExtractAll(base::FilePath::FromUTF8(archive), base::FilePath::FromUTF8(folder)); },
      1);
  if (bytes == 0) {
    std::fprintf(stderr, "extracting %s failed\n", archive);
    return 1;
  }
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof(memory);
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
  std::printf("seconds %.3f bytes %llu peak_working_set_mb %.1f peak_private_mb %.1f\n",
              seconds, static_cast<unsigned long long>(bytes),
              memory.PeakWorkingSetSize / 1048576.0, memory.PeakPagefileUsage / 1048576.0);
  return 0;
}

void Bench7z() {
  // The build tree keeps its archives in testdata/ beside bin/.
  std::string dir;
  if (const char* env = std::getenv("VELUM_TESTDATA")) {
    dir = env;
  } else {
    char exe[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    dir = std::string(exe, length);
    dir = dir.substr(0, dir.find_last_of('\\')) + "\\..\\testdata";
  }
  // Largest first. The largest is the stored (Copy) one, which mostly measures the CRC
  // checks, so the compressed archives follow to measure the LZMA decoders.
  std::vector<std::pair<uintmax_t, std::string>> archives;
  WIN32_FIND_DATAA found;
  base::ScopedFindHandle find(FindFirstFileA((dir + "\\*.7z").c_str(), &found));
  if (find.IsValid()) {
    do {
      uintmax_t size = (static_cast<uintmax_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
      archives.push_back({size, found.cFileName});
    } while (FindNextFileA(find.Get(), &found));
  }
  std::sort(archives.rbegin(), archives.rend());
  if (archives.empty()) std::printf("7z: no archive in %s\n", dir.c_str());
  base::FilePath out;
  if (!base::GetTempDir(&out)) {
    std::printf("7z: no temporary folder\n");
    return;
  }
  out = out.Append(L"velum_bench_7z");
  for (const auto& entry : archives) {
    const std::string& name = entry.second;
    const base::FilePath archive(base::UTF8ToWide(dir + "\\" + name));
    const uint64_t extracted = ExtractAll(archive, out);
    if (!extracted) {
      std::printf("7z: %s could not be extracted\n", name.c_str());
      continue;
    }
    std::printf("7z archive: %s, %llu bytes, %llu bytes extracted\n", name.c_str(),
                static_cast<unsigned long long>(entry.first),
                static_cast<unsigned long long>(extracted));
    Measure(base::StringPrintf("7z extract %s to disk (output)", name.c_str()).c_str(),
            extracted, true, [&] { g_sink = ExtractAll(archive, out); });
  }
  base::DeleteFileBestEffort(out, true);
}

// Whole-file rewrites through the important file writer: its one rename over the target
// against the system's replace call it used before, for a small and a larger file.
void BenchImportantFileWriter() {
  base::FilePath folder;
  if (!base::GetTempDir(&folder)) {
    std::printf("important file writer: no temporary folder\n");
    return;
  }
  folder = folder.Append(L"velum_bench_writer");
  base::DeleteFileBestEffort(folder, true);
  if (!base::CreateDirectory(folder)) {
    std::printf("important file writer: no folder\n");
    return;
  }
  const base::FilePath target = folder.Append(L"installer_prefs.json");
  for (size_t size : {size_t(4096), size_t(1 << 20)}) {
    const std::string data = AsciiText(size);
    for (bool system_replace : {false, true}) {
      base::ImportantFileWriter::SetReplaceFileFunctionForTesting(
          system_replace ? &base::ReplaceFile : nullptr);
      Measure(base::StringPrintf("ImportantFileWriter %d KB (%s)", static_cast<int>(size >> 10),
                                 system_replace ? "ReplaceFileW" : "rename").c_str(),
              static_cast<double>(size), true, [&] {
                g_sink = base::ImportantFileWriter::WriteFileAtomically(target, data);
              });
    }
  }
  base::ImportantFileWriter::SetReplaceFileFunctionForTesting(nullptr);
  base::DeleteFileBestEffort(folder, true);
}

void BenchMessageLoop() {
  const int kCount = 1000000;
  base::MessageLoop loop;
  int ran = 0;
  Measure("MessageLoop post+run (1M tasks)", kCount, false, [&] {
    base::RunLoop run_loop;
    for (int i = 0; i < kCount; ++i)
      loop.task_runner()->PostTask(FROM_HERE, base::Bind([](int* count) { ++*count; }, &ran));
    loop.task_runner()->PostTask(FROM_HERE, run_loop.QuitClosure());
    run_loop.Run();
  });
  if (ran % kCount) std::printf("MessageLoop: %d tasks ran, not a multiple of 1M\n", ran);
}

// Window messages through the UI pump, one in the queue at a time as input arrives: the
// handler of each posts the next. No task waits meanwhile. Prints the seconds taken.
int BenchUiPump(int count) {
  base::MessageLoop loop(base::MessageLoop::TYPE_UI);
  base::RunLoop run_loop;
  base::MessageWindow window;
  int handled = 0;
  if (!window.Create(base::Bind(
          [](int* handled, int count, base::RunLoop* run_loop, HWND* self, UINT message,
             WPARAM, LPARAM, LRESULT*) {
            if (message != WM_APP)
              return false;
            if (++*handled < count)
              PostMessageW(*self, WM_APP, 0, 0);
            else
              run_loop->Quit();
            return true;
          },
          &handled, count, &run_loop, &g_bench_window))) {
    return 1;
  }
  g_bench_window = window.hwnd();
  double seconds = Seconds(
      [&] {
        PostMessageW(window.hwnd(), WM_APP, 0, 0);
        run_loop.Run();
      },
      1);
  std::printf("%.4f s for %d window messages through the UI pump (%.0f per second)\n", seconds,
              handled, handled / seconds);
  return handled == count ? 0 : 1;
}

// A complete event with two arguments, as the task runtime's trace sites add them.
void AddCompleteEvent(base::trace_event::TraceLog* log, const uint8_t* category) {
  static const char* const kNames[] = {"src_file", "src_func"};
  static const uint8_t kTypes[] = {6, 6};
  static const uint64_t kValues[] = {reinterpret_cast<uintptr_t>("bench/base_bench.cc"),
                                     reinterpret_cast<uintptr_t>("BenchTracing")};
  if (!(*category & base::trace_event::TraceLog::kEnabledMask)) return;
  base::trace_event::TraceEventHandle handle = log->AddEvent(
      'X', category, "Bench", nullptr, 0, 0, static_cast<int>(GetCurrentThreadId()),
      base::TimeTicks::Now(), 2, kNames, kTypes, kValues, nullptr, 0);
  log->UpdateTraceEventDuration(category, "Bench", handle);
}

void BenchTracing() {
  using base::trace_event::TraceLog;
  const int kCount = 1000000;
  TraceLog* log = TraceLog::GetInstance();
  const uint8_t* category = TraceLog::GetCategoryGroupEnabled("toplevel");
  Measure("Trace site, category off (1M)", kCount, false, [&] {
    for (int i = 0; i < kCount; ++i) AddCompleteEvent(log, category);
  });

  // A ring buffer never fills, so recording goes on for every repetition.
  base::trace_event::TraceConfig config;
  config.category_filter.included_categories = {"toplevel"};
  log->SetEnabledForTesting(config, TraceLog::RECORDING_MODE, TraceLog::kRecordContinuously);
  const int kEvents = 100000;
  Measure("Trace complete event, shared chunk (100k)", kEvents, false, [&] {
    for (int i = 0; i < kEvents; ++i) AddCompleteEvent(log, category);
  });
  {
    base::MessageLoop loop;  // gives this thread its own chunk
    Measure("Trace complete event, own chunk (100k)", kEvents, false, [&] {
      for (int i = 0; i < kEvents; ++i) AddCompleteEvent(log, category);
    });
  }
  log->ResetForTesting();

  base::trace_event::TraceEvent event;
  const char* names[] = {"src_file", "count"};
  const uint8_t types[] = {6, 4};
  base::trace_event::TraceValue count;
  count.as_double = 0.25;
  const uint64_t values[] = {reinterpret_cast<uintptr_t>("bench/base_bench.cc"), count.as_uint};
  event.Initialize(1, 123456789, 0, 'X', category, "Bench", nullptr, 0, 0, 2, names, types,
                   values, nullptr, 0);
  event.UpdateDuration(123456999, 0);
  std::string json;
  Measure("Trace event to JSON (100k)", kEvents, false, [&] {
    json.clear();
    for (int i = 0; i < kEvents; ++i) base::trace_event::AppendEventAsJson(event, &json, nullptr);
    g_sink = json.size();
  });
}

void BenchHistograms() {
  const int kCount = 1000000;
  base::HistogramBase* histogram = base::Histogram::FactoryGet("Bench.Counts", 1, 1000000, 50, 1);
  Measure("Histogram::Add (1M, 50 buckets)", kCount, false, [&] {
    for (int i = 0; i < kCount; ++i) histogram->Add(i);
  });
  base::HistogramBase* sparse = base::SparseHistogram::FactoryGet("Bench.Sparse", 0);
  Measure("SparseHistogram::Add (1M, 100 values)", kCount, false, [&] {
    for (int i = 0; i < kCount; ++i) sparse->Add(i % 100);
  });

  // A fresh segment per run: the zeroing is part of the figure.
  const int kRecords = 100000;
  std::vector<uint64_t> segment(kRecords * 48 / 8 + 4096);
  Measure("Persistent Allocate+MakeIterable (100k)", kRecords, false, [&] {
    std::fill(segment.begin(), segment.end(), 0);
    base::PersistentMemoryAllocator allocator(segment.data(), segment.size() * 8, 4096, 0, false);
    for (int i = 0; i < kRecords; ++i) allocator.MakeIterable(allocator.Allocate(16, 1));
    g_sink = allocator.used();
  });
}

void BenchActivityAndHeapTracking() {
  const int kCount = 1000000;
  base::Lock lock;
  auto lock_and_release = [&] {
    for (int i = 0; i < kCount; ++i) {
      lock.Acquire();
      lock.Release();
    }
  };
  // Every lock of the program pays this: one read of the tracker pointer.
  Measure("Lock+Release, no activity tracker (1M)", kCount, false, lock_and_release);
  base::debug::GlobalActivityTracker::CreateWithLocalMemory(1 << 20, 0, 16);
  {
    // The thread gets its tracker from its first wait.
    base::debug::EventWaitActivityScope make_tracker(nullptr, GetCurrentProcess());
  }
  Measure("Lock+Release, activity tracker (1M)", kCount, false, lock_and_release);
  base::debug::GlobalActivityTracker::ReleaseForTesting();

  auto malloc_free = [&] {
    for (int i = 0; i < kCount; ++i) base::allocator::Free(base::allocator::Malloc(64));
  };
  Measure("Malloc+Free 64 B (1M)", kCount, false, malloc_free);
  base::debug::HeapUsageTracker::EnableHeapTracking();
  base::debug::HeapUsageTracker usage;
  usage.Start();
  Measure("Malloc+Free 64 B, heap usage hooks (1M)", kCount, false, malloc_free);
  usage.Stop(false);
  g_sink = usage.usage().alloc_ops;
  if (!base::debug::HeapUsageTracker::DisableHeapTrackingForTesting())
    std::printf("heap usage hooks stayed in the chain\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--checksum") == 0)
    return BenchChecksumOfFile(argv[2], argv[3]);
  if (argc == 4 && std::strcmp(argv[1], "--unpack") == 0) return BenchUnpackOnce(argv[2], argv[3]);
  if (argc == 3 && std::strcmp(argv[1], "--ui-pump") == 0) return BenchUiPump(std::atoi(argv[2]));
  BenchUtf();
  BenchJson();
  BenchDoubles();
  BenchStringPrintf();
  BenchSha256();
  Bench7z();
  BenchImportantFileWriter();
  BenchMessageLoop();
  BenchTracing();
  BenchHistograms();
  BenchActivityAndHeapTracking();
  return 0;
}
