// Finishing a run note of many names beside a plain deletion of the same files, for
// bench/README.md. Run under Wine:
//   run_note_bench.exe <scratch folder> <names> <folders>
// Makes <names> files spread over <folders> version subfolders of an install folder in the
// scratch folder, and a note of a cut installation naming each ("make"), then times
// FinishInterruptedRuns (which undoes it: every file and folder goes); then makes the same
// files again and times DeleteFileW of each and RemoveDirectoryW of each folder.
// Prints "finish <seconds> plain <seconds> ratio <finish / plain>".
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "desktop/windows/installer/service/interrupted_runs/run_note.h"

namespace {

double Now() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::wstring Folder(int i, int folders) { return L"1.0." + std::to_wstring(i % folders); }
std::wstring Name(int i, int folders) {
  return Folder(i, folders) + L"\\file" + std::to_wstring(i) + L".dat";
}

bool MakeFiles(const base::FilePath& install, int names, int folders) {
  for (int i = 0; i < folders; ++i) {
    if (!base::CreateDirectory(install.Append(Folder(i, folders)))) return false;
  }
  for (int i = 0; i < names; ++i) {
    if (base::WriteFile(install.Append(Name(i, folders)), "x", 1) != 1) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: run_note_bench.exe <scratch folder> <names> <folders>\n");
    return 2;
  }
  const base::FilePath install = base::FilePath::FromUTF8(argv[1]).Append(L"Velum");
  const int names = atoi(argv[2]);
  const int folders = atoi(argv[3]);
  if (names <= 0 || folders <= 0 || !MakeFiles(install, names, folders) ||
      !base::CreateDirectory(install.Append(L"old_status"))) {
    fprintf(stderr, "cannot make the files\n");
    return 1;
  }
  // The first format: every version of the reader takes it.
  std::string note = "velum run note\noperation install\nstart 1700000000\n";
  for (int i = 0; i < names; ++i) {
    std::wstring name = Name(i, folders);
    note += "make " + std::string(name.begin(), name.end()) + "\n";
  }
  const int size = static_cast<int>(note.size());
  if (base::WriteFile(install.Append(L"old_status\\run.1700000000.note"), note.data(), size) != size)
    return 1;
  double start = Now();
  if (!installer::FinishInterruptedRuns(install, nullptr).ok()) return 1;
  const double finish = Now() - start;
  if (base::PathExists(install.Append(Name(0, folders)))) {
    fprintf(stderr, "the note was not finished\n");
    return 1;
  }
  if (!MakeFiles(install, names, folders)) return 1;
  start = Now();
  for (int i = 0; i < names; ++i) DeleteFileW(install.Append(Name(i, folders)).value().c_str());
  for (int i = 0; i < folders; ++i)
    RemoveDirectoryW(install.Append(Folder(i, folders)).value().c_str());
  const double plain = Now() - start;
  printf("finish %.3f plain %.3f ratio %.2f\n", finish, plain, finish / plain);
  return 0;
}
