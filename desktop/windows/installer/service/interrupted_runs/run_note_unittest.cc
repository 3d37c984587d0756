#include "desktop/windows/installer/service/interrupted_runs/run_note.h"

#include <objbase.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/important_file_writer.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/install_log_writer.h"

namespace installer {
namespace {

// A name of `size` characters below the install folder, in folders of 200 characters.
std::string LongName(size_t size) {
  std::string name;
  while (name.size() + 201 < size) name += std::string(200, 'a') + "\\";
  return name + std::string(size - name.size(), 'b');
}

class RunNoteTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    base::ScratchDirTest::SetUp();
    com_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    install_ = Path(L"Velum");
    ASSERT_TRUE(base::CreateDirectory(install_.Append(L"old_status")));
  }
  void TearDown() override {
    if (com_) CoUninitialize();
  }
  void Make(const std::wstring& name, const std::string& text = "x") {
    const base::FilePath path = install_.Append(name);
    ASSERT_TRUE(base::CreateDirectory(path.DirName()));
    ASSERT_TRUE(base::WriteTextFile(path, text));
  }
  bool Has(const std::wstring& name) { return base::PathExists(install_.Append(name)); }
  std::string Text(const std::wstring& name) { return Text(install_.Append(name)); }
  std::string Text(const base::FilePath& path) {
    std::string text;
    return base::ReadFileToString(path, &text) ? text : "<none>";
  }
  base::FilePath WriteNote(const std::string& lines) {
    const base::FilePath path = install_.Append(L"old_status\\run.1700000000.note");
    EXPECT_TRUE(base::CreateDirectory(path.DirName()));
    EXPECT_TRUE(base::WriteTextFile(path, "velum run note\n" + lines));
    return path;
  }

  bool com_ = false;
  base::FilePath install_;
};

// What a note may say: names below the install folder only, which with it fit in a path
// (32,767 characters), shortcuts the check allows, moves within one folder, and nothing
// it does not know. One bad line and nothing of the note counts.
TEST_F(RunNoteTest, ReadsOnlyWhatStaysInsideTheInstallFolder) {
  const ShortcutCheck desktop_only = [](const base::FilePath& path) {
    return path.DirName().value().compare(0, 10, L"C:\\Desktop") == 0 ||
           path.DirName().value() == L"C:\\Public";
  };
  // The longest name that fits beside the install folder.
  const size_t longest = 32767 - install_.value().size() - 1;
  const struct {
    std::string lines;
    bool readable;
  } cases[] = {
      {"operation upgrade\nstart 1\nsubfolder 2.0\nmake 2.0\\b.dat\nreplace launcher.exe\n"
       "remove 1.0\\velum.exe\ntemporary a.new\ncommitting\n"
       "move C:\\Desktop\\a.lnk|C:\\Desktop\\b.lnk\n", true},
      {"operation install\nstart 1\nremove ..\\x\n", false},
      {"operation install\nstart 1\nremove C:\\x\n", false},
      {"operation install\nstart 1\nremove a/../../x\n", false},
      {"operation install\nstart 1\nsubfolder ..\n", false},
      {"operation install\nstart 1\nshortcut-remove C:\\Desktop\\Velum Browser.lnk\n", true},
      {"operation install\nstart 1\nshortcut-remove C:\\Windows\\x.lnk\n", false},
      {"operation install\nstart 1\nmove C:\\Desktop\\a.lnk|C:\\Windows\\b.lnk\n", false},
      {"operation install\nstart 1\nmove C:\\Desktop\\a.lnk|C:\\Public\\a.lnk\n", false},
      {"operation install\nstart 1\nmove C:\\Public\\a.lnk|C:\\Public\\b.lnk\n", true},
      {"operation install\nstart 1\nrename a\n", false},
      {"operation install\nstart 1\nmake " + LongName(longest) + "\n", true},
      {"operation install\nstart 1\nmake " + LongName(longest + 1) + "\n", false},
      {"operation install\nstart 1\nmake " + LongName(40000) + "\n", false},
      {"operation install\nstart 1\nleft-remove " + LongName(longest + 1) + "\n", false},
      {"operation install\nstart 1\nleft-put-back " + LongName(longest + 1) + "|a.exe\n",
       false},
      // What a later run left: exact names, a shortcut put back only from its own folder.
      {"operation upgrade\nstart 1\nsubfolder 2.0\nleft-remove 2.0\\a.dat\n"
       "left-put-back old_status\\installation_status.xml.2|installation_status.xml\n"
       "shortcut-left-remove C:\\Desktop\\a.lnk.1700000001.old\n"
       "shortcut-left-put-back C:\\Desktop\\b.lnk|C:\\Desktop\\a.lnk\n", true},
      {"operation install\nstart 1\nleft-remove ..\\x\n", false},
      {"operation install\nstart 1\nleft-put-back launcher.exe\n", false},
      {"operation install\nstart 1\n"
       "shortcut-left-put-back C:\\Desktop2\\a.lnk|C:\\Desktop\\a.lnk\n", false},
      {"operation install\nstart 1\nshortcut-left-remove C:\\Windows\\x.lnk.1700000001.old\n",
       false},
      {"operation install\nstart 1\n"
       "shortcut-left-put-back C:\\Windows\\x.lnk.1700000001.old|C:\\Windows\\x.lnk\n", false},
      {"operation install\nstart 1\nmake a\nleft-remove b\n", false},
      {"operation reinstall\nstart 1\n", false},
      {"operation install\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines.substr(0, 100));
    EXPECT_EQ(c.readable, ParseRunNote("velum run note\n" + c.lines, install_, desktop_only).ok());
  }
  EXPECT_FALSE(ParseRunNote("velum note\noperation install\nstart 1\n", install_, nullptr).ok());
}

// A note counts only whole: cut anywhere, with a key twice, a line after its end, a byte
// that is no UTF-8 or a name with "/", it is refused. A note of the first format (no end
// line) is read when its last line is whole. A name written with "/" reads back; one that
// cannot be written as it reads fails the write.
TEST_F(RunNoteTest, ReadsANoteOnlyWhole) {
  const std::string whole = "velum run note 2\noperation upgrade\nstart 1\nsubfolder 2.0\n"
                            "make 2.0\\velum.exe\ncommitting\nend\n";
  ASSERT_TRUE(ParseRunNote(whole, install_, nullptr).ok());
  for (size_t cut = 0; cut < whole.size(); ++cut)
    EXPECT_FALSE(ParseRunNote(whole.substr(0, cut), install_, nullptr).ok()) << cut;
  const struct {
    const char* text;
    bool readable;
  } cases[] = {
      {"velum run note\noperation install\nstart 1\nmake a.exe\n", true},
      {"velum run note\noperation install\nstart 1\nmake a.e", false},
      {"velum run note 2\noperation install\noperation uninstall\nstart 1\nend\n", false},
      {"velum run note 2\noperation install\nstart 1\nstart 2\nend\n", false},
      {"velum run note\noperation install\nstart 1\nstart 2\n", false},
      {"velum run note 2\noperation install\nstart 1\ncommitting\ncommitting\nend\n", false},
      {"velum run note 2\noperation install\nstart 1\nend\nmake a.exe\nend\n", false},
      {"velum run note 2\noperation install\nstart 1\nmake a\xff.exe\nend\n", false},
      {"velum run note\noperation install\nstart 1\nmake a\xc3.exe\n", false},
      {"velum run note 2\noperation install\nstart 1\nmake 2.0/velum.exe\nend\n", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.readable, ParseRunNote(c.text, install_, nullptr).ok()) << c.text;

  RunNote note;
  note.entries = {{RunNote::Kind::kMake, install_.Append(L"2.0/velum.exe")}};
  const base::Result<base::FilePath> written = WriteRunNote(install_, note);
  ASSERT_TRUE(written.ok());
  const std::vector<FoundRunNote> found = FindRunNotes(install_, nullptr);
  ASSERT_EQ(1u, found.size());
  ASSERT_TRUE(found[0].note) << found[0].problem;
  EXPECT_EQ(install_.Append(L"2.0\\velum.exe").value(), found[0].note->entries[0].path.value());
  note.entries[0].path = install_.Append(std::wstring(L"a\xd800.exe"));
  EXPECT_FALSE(RewriteRunNote(written.value(), note));
  EXPECT_EQ(1u, FindRunNotes(install_, nullptr).size());
}

// A note reads back as it was written, every kind of name, from any install folder: a
// drive root's names keep their first letter.
TEST_F(RunNoteTest, ReadsBackWhatItWrote) {
  for (const wchar_t* folder : {L"R:\\", L"R:\\Velum", L"R:\\Velum\\"}) {
    SCOPED_TRACE(base::WideToUTF8(folder));
    const base::FilePath install(folder);
    RunNote note;
    note.operation = RunNote::Operation::kUpgrade;
    note.start = 1700000000;
    note.committing = true;
    note.subfolder = L"2.0.100.0_0";
    for (const RunNote::Kind kind : {RunNote::Kind::kMake, RunNote::Kind::kReplace,
                                     RunNote::Kind::kRemove, RunNote::Kind::kTemporary}) {
      note.entries.push_back({kind, install.Append(L"2.0.100.0_0\\velum.exe")});
      note.entries.push_back({kind, install.Append(L"launcher.exe")});
      note.shortcuts.push_back({kind, base::FilePath(L"C:\\Desktop\\Velum Browser.lnk")});
    }
    note.moves.push_back({base::FilePath(L"C:\\Desktop\\Velum Browser.lnk"),
                          base::FilePath(L"C:\\Desktop\\Velum Browser 2.0.lnk")});
    const base::Result<RunNote> read =
        ParseRunNote(SerializeRunNote(note, install), install, nullptr);
    ASSERT_TRUE(read.ok()) << read.failure().text;
    EXPECT_EQ(SerializeRunNote(note, install), SerializeRunNote(read.value(), install));
    ASSERT_EQ(note.entries.size(), read.value().entries.size());
    for (size_t i = 0; i < note.entries.size(); ++i)
      EXPECT_EQ(note.entries[i].path.AsUTF8(), read.value().entries[i].path.AsUTF8());
  }
}

// A run cut short is undone: what it made goes, what it set aside comes back (its later
// copies and its replacement go), a file the user added and a folder where a file was
// noted stay, and so do copies from before the run, names the note does not hold and
// a shortcut's folder its removal empties.
// Once it was committing (or its record names its version folder), it is finished
// instead: its copies go and what it made stays.
TEST_F(RunNoteTest, FinishesARunCutShortAsItsRollbackOrCommitWould) {
  const std::string note =
      "operation upgrade\nstart 1700000000\nsubfolder 2.0\n"
      "make 2.0\\velum.exe\nmake 2.0\\res\\a.dat\nmake user\\data\nreplace launcher.exe\n"
      "remove 1.0\\velum.exe\nremove 1.0\\velum.dll\ntemporary installation_status.xml.new\n"
      // Its folder gone: missing too, the note no reason to stay.
      "make 3.0\\res\\gone.dat\n"
      "shortcut-make " + Path(L"Desktop\\Velum Browser.lnk").AsUTF8() + "\n";
  const struct {
    const char* name;
    const char* more;
    bool record_names_new_version;
    bool undone;
  } cases[] = {
      {"cut short", "", false, true},
      {"cut while committing", "committing\n", false, false},
      {"cut once its record was in place", "", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(base::DeleteFile(install_, true));
    Make(L"2.0\\velum.exe");
    Make(L"2.0\\res\\a.dat");
    Make(L"2.0\\notes.txt", "the user's");
    ASSERT_TRUE(base::CreateDirectory(install_.Append(L"user\\data")));
    Make(L"launcher.exe", "new");
    Make(L"launcher.exe.1700000001.old", "original");
    Make(L"launcher.exe.1700000001.old.1700000002.old", "original");
    Make(L"launcher.exe.1690000000.old", "before the run");
    Make(L"1.0\\velum.exe.1700000003.old", "old version");
    Make(L"1.0\\other.exe.1700000003.old", "not noted");
    Make(L"1.0\\velum.dll", "not set aside yet");
    Make(L"installation_status.xml.new");
    ASSERT_TRUE(base::CreateDirectory(Path(L"Desktop")));
    ASSERT_TRUE(base::WriteTextFile(Path(L"Desktop\\Velum Browser.lnk"), "x"));
    // What its atomic write of that file, and another run's first write of its note, left
    // when cut short.
    Make(L"installation_status.xml.new.16666fa8-9260-4d97-8165-698142b505a0.tmp");
    Make(L"old_status\\run.1700000005.note.16666fa8-9260-4d97-8165-698142b505a0.tmp");
    InstallLog record(SOURCE_INSTALLER);
    record.subfolder = c.record_names_new_version ? L"2.0" : L"1.0";
    record.files = {L"velum.exe"};
    ASSERT_TRUE(InstallLogWriter().WriteFile(record, install_.Append(L"installation_status.xml")));
    const base::FilePath note_path = WriteNote(note + c.more);
    const base::Result<RunNote> parsed =
        ParseRunNote("velum run note\n" + note + c.more, install_, nullptr);
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(!c.undone, RunNoteRollsForward(install_, parsed.value()));
    ASSERT_TRUE(FinishInterruptedRuns(install_, nullptr).ok());
    EXPECT_FALSE(base::PathExists(note_path));
    EXPECT_EQ(!c.undone, Has(L"2.0\\velum.exe"));
    EXPECT_EQ(!c.undone, Has(L"2.0\\res"));
    EXPECT_EQ("the user's", Text(L"2.0\\notes.txt"));
    EXPECT_TRUE(base::DirectoryExists(install_.Append(L"user\\data")));
    EXPECT_EQ(c.undone ? "original" : "new", Text(L"launcher.exe"));
    EXPECT_FALSE(Has(L"launcher.exe.1700000001.old"));
    EXPECT_FALSE(Has(L"launcher.exe.1700000001.old.1700000002.old"));
    EXPECT_EQ("before the run", Text(L"launcher.exe.1690000000.old"));
    EXPECT_EQ(c.undone ? "old version" : "<none>", Text(L"1.0\\velum.exe"));
    EXPECT_FALSE(Has(L"1.0\\velum.exe.1700000003.old"));
    EXPECT_EQ(c.undone ? "not set aside yet" : "<none>", Text(L"1.0\\velum.dll"));
    EXPECT_EQ("not noted", Text(L"1.0\\other.exe.1700000003.old"));
    EXPECT_FALSE(Has(L"installation_status.xml.new"));
    EXPECT_EQ(!c.undone, base::PathExists(Path(L"Desktop\\Velum Browser.lnk")));
    EXPECT_TRUE(base::DirectoryExists(Path(L"Desktop")));
    EXPECT_FALSE(Has(L"installation_status.xml.new.16666fa8-9260-4d97-8165-698142b505a0.tmp"));
    EXPECT_FALSE(Has(L"old_status"));
  }
}

// An upgrade cut once it moved its predecessor's record into "old_status" gets that record
// back, not one an earlier upgrade kept there; a note whose run cannot be finished yet (a
// file of it in use) stays for a later run, which it tells what is left. An
// uninstallation cut while committing is finished: a file it could not set aside goes, and
// so does what it made (its clean-up batch).
TEST_F(RunNoteTest, FinishingTakesOnlyWhatItsRunDidAndKeepsTheNoteUntilDone) {
  Make(L"old_status\\installation_status.xml.1690000000", "kept before the run");
  Make(L"old_status\\installation_status.xml.1700000004", "moved by the run");
  Make(L"2.0\\velum.exe");
  const base::FilePath note = WriteNote(
      "operation upgrade\nstart 1700000000\nsubfolder 2.0\nmake 2.0\\velum.exe\n"
      "replace installation_status.xml\n");
  EXPECT_EQ(install_.Append(L"old_status\\installation_status.xml.1700000004"),
            FindInterruptedRunRecord(install_, false));
  base::ScopedHandle in_use(CreateFileW(install_.Append(L"2.0\\velum.exe").value().c_str(),
                                        GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        0, nullptr));
  ASSERT_TRUE(in_use.IsValid());
  // What is left must be noted before the run goes on: it stops when that cannot be.
  std::string before;
  ASSERT_TRUE(base::ReadFileToString(note, &before));
  base::ImportantFileWriter::SetReplaceFileFunctionForTesting(
      [](const base::FilePath&, const base::FilePath&) { return false; });
  EXPECT_FALSE(FinishInterruptedRuns(install_, nullptr).ok());
  base::ImportantFileWriter::SetReplaceFileFunctionForTesting(nullptr);
  EXPECT_EQ(before, Text(L"old_status\\run.1700000000.note"));
  base::Result<UnfinishedRuns> unfinished = FinishInterruptedRuns(install_, nullptr);
  ASSERT_TRUE(unfinished.ok());
  EXPECT_EQ("moved by the run", Text(L"installation_status.xml"));
  EXPECT_EQ("kept before the run", Text(L"old_status\\installation_status.xml.1690000000"));
  EXPECT_TRUE(base::PathExists(note));
  const base::FilePath held = install_.Append(L"2.0\\velum.exe");
  EXPECT_EQ(std::vector<base::FilePath>{held}, unfinished.value().held);
  EXPECT_EQ(std::vector<base::FilePath>{note}, unfinished.value().notes);
  ASSERT_EQ(1u, unfinished.value().left.size());
  EXPECT_EQ(held, unfinished.value().left[0].path);
  // Only a run that would make the name its own is in its way.
  RunNote later;
  later.entries = {{RunNote::Kind::kMake, install_.Append(L"2.0_0\\velum.exe")}};
  EXPECT_EQ(nullptr, FindStepInTheWay(unfinished.value().left, later));
  later.entries.push_back({RunNote::Kind::kReplace, held});
  EXPECT_EQ(&unfinished.value().left[0], FindStepInTheWay(unfinished.value().left, later));
  // An uninstallation is stopped by all that is left but its own running file, which its
  // own run names too.
  EXPECT_EQ(&unfinished.value().left[0],
            FindStepInTheWay(unfinished.value().left, RunNote(), true));
  EXPECT_EQ(nullptr, FindStepInTheWay(unfinished.value().left, later, true, {held}));
  // Nor is a file it runs from whose original a cut run set aside: the put-back too.
  const base::FilePath launcher = install_.Append(L"launcher.exe");
  const std::vector<RunNote::Step> launcher_left = {
      {launcher, base::FilePath()}, {launcher, install_.Append(L"launcher.exe.1700000001.old")}};
  EXPECT_EQ(nullptr, FindStepInTheWay(launcher_left, later, true, {held, launcher}));
  EXPECT_EQ(&launcher_left[0], FindStepInTheWay(launcher_left, later, true, {held}));
  in_use.Close();
  ASSERT_TRUE(FinishInterruptedRuns(install_, nullptr).ok());
  EXPECT_FALSE(base::PathExists(note));
  // A copy to put back that is gone since leaves nothing to do.
  WriteNote("operation upgrade\nstart 1700000000\nleft-put-back launcher.exe.1700000001.old|"
            "launcher.exe\n");
  ASSERT_TRUE(FinishInterruptedRuns(install_, nullptr).ok());
  EXPECT_FALSE(base::PathExists(note));
  // A record a kept note puts back is the installation's until then.
  ASSERT_TRUE(base::DeleteFile(install_.Append(L"installation_status.xml"), false));
  Make(L"old_status\\installation_status.xml.1700000004", "v1");
  WriteNote("operation upgrade\nstart 1700000000\nleft-put-back "
            "old_status\\installation_status.xml.1700000004|installation_status.xml\n");
  EXPECT_EQ(install_.Append(L"old_status\\installation_status.xml.1700000004"),
            FindInterruptedRunRecord(install_, false));
  EXPECT_TRUE(
      IsSetAsideByInterruptedRun(install_, install_.Append(L"installation_status.xml"), true));

  Make(L"k.bat");
  WriteNote("operation uninstall\nstart 1700000000\nremove 2.0\\velum.exe\nmake k.bat\n"
            "committing\n");
  ASSERT_TRUE(FinishInterruptedRuns(install_, nullptr).ok());
  EXPECT_FALSE(Has(L"2.0"));
  EXPECT_FALSE(Has(L"k.bat"));
}

// A run that cannot finish an earlier note whole (a file of the cut run held open) keeps
// it naming only what is left, each copy by its exact name: a run that completed after it
// keeps everything it made, moved or set aside when a later run finishes the note.
TEST_F(RunNoteTest, AKeptNoteLeavesWhatALaterRunMadeMovedOrSetAside) {
  const std::string shortcut = Path(L"Desktop\\Velum Browser.lnk").AsUTF8();
  const struct {
    const char* name;
    const wchar_t* held;
    // Below the scratch folder: what a later run made, moved or set aside.
    std::vector<std::pair<const wchar_t*, const char*>> later;
    const char* launcher;
    // A put-back never replaces a file at its name: the note stays naming it.
    bool note_stays = false;
  } cases[] = {
      {"a later installation or repair", L"2.0\\data.dat",
       {{L"Velum\\launcher.exe", "later"}, {L"Velum\\installation_status.xml", "later"},
        {L"Velum\\installer_prefs.json", "later"}, {L"Desktop\\Velum Browser.lnk", "later"}},
       "later"},
      {"the record moved by a later upgrade", L"2.0\\data.dat",
       {{L"Velum\\installation_status.xml", "later"},
        {L"Velum\\old_status\\installation_status.xml.1700000100", "moved later"}},
       "v1"},
      {"copies set aside by a later run", L"2.0\\data.dat",
       {{L"Velum\\launcher.exe", "later"}, {L"Velum\\launcher.exe.1700000100.old", "copy"},
        {L"Velum\\installation_status.xml.1700000100.old", "copy"}},
       "later"},
      {"the cut run's launcher held, a later copy", L"launcher.exe",
       {{L"Velum\\launcher.exe.1700000100.old", "copy"}}, "v1"},
      {"the copy to put back held", L"launcher.exe.1700000001.old", {}, "v1"},
      {"the copy to put back held, a later launcher in its place",
       L"launcher.exe.1700000001.old", {{L"Velum\\launcher.exe", "later"}}, "later", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(base::DeleteFile(install_, true));
    Make(L"installation_status.xml", "v1 record");
    Make(L"launcher.exe.1700000001.old", "v1");
    Make(L"launcher.exe", "cut");
    Make(L"2.0\\velum.exe");
    Make(L"2.0\\data.dat");
    const base::FilePath note = WriteNote(
        "operation upgrade\nstart 1700000000\nsubfolder 2.0\nmake 2.0\\velum.exe\n"
        "make 2.0\\data.dat\nreplace launcher.exe\nreplace installation_status.xml\n"
        "make installer_prefs.json\nshortcut-make " + shortcut + "\n");
    {
      base::ScopedHandle held(CreateFileW(install_.Append(c.held).value().c_str(), GENERIC_READ,
                                          FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(held.IsValid());
      ASSERT_TRUE(FinishInterruptedRuns(install_, nullptr).ok());
    }
    std::string kept;
    ASSERT_TRUE(base::ReadFileToString(note, &kept));
    EXPECT_EQ(std::string::npos, kept.find("velum.exe")) << kept;
    if (std::wstring(c.held).compare(0, 12, L"launcher.exe") == 0) {
      EXPECT_NE(std::string::npos, kept.find("launcher.exe.1700000001.old")) << kept;
    }
    for (const auto& file : c.later) {
      ASSERT_TRUE(base::CreateDirectory(Path(file.first).DirName()));
      ASSERT_TRUE(base::WriteTextFile(Path(file.first), file.second));
    }
    EXPECT_TRUE(FindInterruptedRunRecord(install_, false).empty());
    ASSERT_TRUE(FinishInterruptedRuns(install_, nullptr).ok());
    for (const auto& file : c.later) {
      std::string text;
      EXPECT_TRUE(base::ReadFileToString(Path(file.first), &text)) << file.first;
      EXPECT_EQ(file.second, text) << file.first;
    }
    EXPECT_EQ(c.launcher, Text(L"launcher.exe"));
    EXPECT_FALSE(Has(L"2.0"));
    EXPECT_EQ(c.note_stays, base::PathExists(note));
    if (c.note_stays) {
      EXPECT_EQ("v1", Text(L"launcher.exe.1700000001.old"));
    }
    ASSERT_TRUE(base::DeleteFile(Path(L"Desktop"), true));
  }
}

// A note read and found damaged (a name outside the install folder, a shortcut the check
// refuses, more than a note holds) keeps everything it may name, itself untouched, and the
// run goes on: a later note is finished. One that exists but cannot be read (held by its
// live run, or by another program without sharing) stops the run before it changes
// anything, naming the note: what it names may be a live run's.
TEST_F(RunNoteTest, ADamagedNoteIsKeptAndOneThatCannotBeReadStopsTheRun) {
  const base::FilePath outside = Path(L"outside.txt");
  ASSERT_TRUE(base::WriteTextFile(outside, "x"));
  const std::string names = "operation install\nstart 1700000000\nmake 1.0\\velum.exe\n";
  const DWORD kNotHeld = ~0u;
  const struct {
    const char* name;
    std::string lines;
    DWORD access;  // the note held open so by another, with no sharing but `share`
    DWORD share;
    bool run_goes_on;
  } cases[] = {
      {"a name outside", names + "make ..\\outside.txt\n", kNotHeld, 0, true},
      {"a shortcut the check refuses", names + "shortcut-make C:\\Windows\\x.lnk\n", kNotHeld,
       0, true},
      {"larger than a note", names + std::string(16 * 1024 * 1024, '#') + "\n", kNotHeld, 0,
       true},
      {"held by its live run", names, GENERIC_READ | DELETE, FILE_SHARE_DELETE, false},
      {"held by another program", names, GENERIC_READ, 0, false},
      {"held for writing by another program", names, GENERIC_WRITE, FILE_SHARE_READ, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Make(L"1.0\\velum.exe");
    const base::FilePath note = WriteNote(c.lines);
    const std::string text = Text(note);
    // A later note is finished only when the run goes on.
    Make(L"2.0\\velum.exe");
    const base::FilePath later = install_.Append(L"old_status\\run.1700000001.note");
    ASSERT_TRUE(base::WriteTextFile(
        later, "velum run note\noperation install\nstart 1700000001\nmake 2.0\\velum.exe\n"));
    base::Result<UnfinishedRuns> finished = base::Failure{};
    {
      base::ScopedHandle held;
      if (c.access != kNotHeld) {
        held.Set(CreateFileW(note.value().c_str(), c.access, c.share, nullptr, OPEN_EXISTING, 0,
                             nullptr));
        ASSERT_TRUE(held.IsValid());
      }
      finished = FinishInterruptedRuns(install_, [](const base::FilePath&) { return false; });
    }
    EXPECT_EQ(c.run_goes_on, finished.ok());
    if (!finished.ok()) {
      EXPECT_EQ(note, finished.failure().path);
    }
    EXPECT_TRUE(base::PathExists(outside));
    EXPECT_TRUE(Has(L"1.0\\velum.exe"));
    EXPECT_TRUE(text == Text(note)) << "the note was changed";
    EXPECT_EQ(c.run_goes_on, !Has(L"2.0"));
    EXPECT_EQ(c.run_goes_on, !base::PathExists(later));
    ASSERT_TRUE(base::DeleteFile(install_.Append(L"2.0"), true));
    ASSERT_TRUE(base::DeleteFile(later, false));
  }
}

// The install folder is held before its notes are read: swapped for a link to another
// program's folder that holds the same names after the reading (a shortcut's move undone
// first), nothing there is touched, and what the notes name goes from the folder they
// were read from.
TEST_F(RunNoteTest, AnInstallFolderSwappedAfterItsNotesWereReadChangesNothingElsewhere) {
  const base::FilePath outside = Path(L"outside");
  const wchar_t* const kNames[] = {L"sub\\app.exe", L"app.new",
                                   L"app.new.16666fa8-9260-4d97-8165-698142b505a0.tmp"};
  for (const base::FilePath& folder : {install_, outside}) {
    ASSERT_TRUE(base::CreateDirectory(folder.Append(L"sub")));
    ASSERT_TRUE(base::CreateDirectory(folder.Append(L"2.0\\empty")));
    for (const wchar_t* name : kNames) ASSERT_TRUE(base::WriteTextFile(folder.Append(name), "x"));
  }
  const base::FilePath desktop = Path(L"Desktop");
  ASSERT_TRUE(base::CreateDirectory(desktop));
  ASSERT_TRUE(base::WriteTextFile(desktop.Append(L"Velum Browser 2.0.lnk"), "x"));
  const base::FilePath note = WriteNote(
      "operation upgrade\nstart 1700000000\nsubfolder 2.0\nmake sub\\app.exe\n"
      "temporary app.new\nmove " + desktop.Append(L"Velum Browser.lnk").AsUTF8() + "|" +
      desktop.Append(L"Velum Browser 2.0.lnk").AsUTF8() + "\n");
  const base::FilePath moved = Path(L"Velum.moved");
  bool tried = false;
  bool swapped = false;
  internal::SetFinishingActHookForTesting([&](const base::FilePath&) {
    if (tried) return;
    tried = true;
    std::string error;
    swapped = MoveFileW(install_.value().c_str(), moved.value().c_str()) &&
              base::MakeDirectoryLink(install_, outside, &error);
  });
  const bool finished = FinishInterruptedRuns(install_, nullptr).ok();
  internal::SetFinishingActHookForTesting(nullptr);
  if (swapped) {
    EXPECT_TRUE(base::RemoveDirectoryLink(install_));
    EXPECT_TRUE(MoveFileW(moved.value().c_str(), install_.value().c_str()));
  }
  EXPECT_TRUE(finished);
  EXPECT_TRUE(tried);
  for (const wchar_t* name : kNames) EXPECT_TRUE(base::PathExists(outside.Append(name))) << name;
  EXPECT_TRUE(base::DirectoryExists(outside.Append(L"2.0\\empty")));
  for (const wchar_t* name : kNames) EXPECT_FALSE(Has(name)) << name;
  EXPECT_FALSE(Has(L"2.0"));
  EXPECT_FALSE(base::PathExists(note));
  EXPECT_TRUE(base::PathExists(desktop.Append(L"Velum Browser.lnk")));
}

// An "old_status" that is a link holds damaged notes: nothing they name is touched, the
// link's folder and its notes stay, and the run goes on; the run's own note is never
// written through it.
TEST_F(RunNoteTest, ALinkedNoteFolderHoldsOnlyDamagedNotes) {
  const base::FilePath outside = Path(L"outside");
  ASSERT_TRUE(base::CreateDirectory(outside));
  const base::FilePath planted = outside.Append(L"run.1700000000.note");
  ASSERT_TRUE(base::WriteTextFile(
      planted, "velum run note\noperation install\nstart 1700000000\nmake sub\\app.exe\n"));
  Make(L"sub\\app.exe", "ours");
  ASSERT_TRUE(base::DeleteFile(install_.Append(L"old_status"), true));
  std::string error;
  ASSERT_TRUE(base::MakeDirectoryLink(install_.Append(L"old_status"), outside, &error)) << error;
  EXPECT_TRUE(FinishInterruptedRuns(install_, nullptr).ok());
  EXPECT_EQ("ours", Text(L"sub\\app.exe"));
  EXPECT_TRUE(base::PathExists(planted));
  RunNote note;
  note.entries = {{RunNote::Kind::kMake, install_.Append(L"2.0\\velum.exe")}};
  EXPECT_FALSE(WriteRunNote(install_, note).ok());
  EXPECT_TRUE(base::DirectoryExists(outside));
  std::vector<std::wstring> names;
  base::FileEnumerator listed(outside, false, base::FileEnumerator::FILES, L"*");
  for (base::FilePath path = listed.Next(); !path.empty(); path = listed.Next())
    names.push_back(path.BaseName().value());
  EXPECT_EQ(std::vector<std::wstring>{L"run.1700000000.note"}, names);
  EXPECT_TRUE(base::RemoveDirectoryLink(install_.Append(L"old_status")));
}

// The version folder of an undone run goes whole however deep its empty folders lie, far
// past a path's usual 260 characters. (Under Wine each level costs more the deeper it lies,
// and the host's path limit stops a tree at about 2,000 levels: 400 there.)
TEST_F(RunNoteTest, AVersionFolderGoesWholeHoweverDeep) {
  std::wstring deep = L"\\\\?\\" + install_.Append(L"2.0").value();
  ASSERT_TRUE(base::CreateDirectory(install_.Append(L"2.0")));
  const int levels = base::RunningUnderWine() ? 400 : 3000;
  for (int level = 0; level < levels; ++level) {
    deep += L"\\d";
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr)) << level;
  }
  const base::FilePath note = WriteNote("operation install\nstart 1700000000\nsubfolder 2.0\n");
  ASSERT_TRUE(FinishInterruptedRuns(install_, nullptr).ok());
  EXPECT_FALSE(Has(L"2.0"));
  EXPECT_FALSE(base::PathExists(note));
}

// Finishing never acts through a link: with "sub" in the install folder a link to another
// program's folder, or a noted name itself a link, whatever a note of any kind names there
// stays, and the note with it; so does the other program's file when its folder's link
// is put in place between the check and the act.
TEST_F(RunNoteTest, FinishingNeverActsThroughALink) {
  const std::string start = "start 1700000000\n";
  const struct {
    const char* name;
    std::string lines;
    const wchar_t* link;    // made in the install folder, to "outside"
    const wchar_t* target;  // what the link names, below the scratch folder
    bool swap;              // "sub" made a link only between the check and the act
    // A line the kept note holds: what is left, exactly as the note's run would do it.
    const char* kept = nullptr;
  } cases[] = {
      {"make", "operation install\n" + start + "make sub\\app.exe\n", L"sub", L"outside",
       false, "left-remove sub\\app.exe\n"},
      {"temporary", "operation install\n" + start + "temporary sub\\app.exe\n", L"sub",
       L"outside", false},
      {"replace with its copy", "operation upgrade\n" + start + "replace sub\\app.exe\n",
       L"sub", L"outside", false, "left-put-back sub\\app.exe.1700000001.old|sub\\app.exe\n"},
      {"committing uninstallation",
       "operation uninstall\n" + start + "remove sub\\app.exe\ncommitting\n", L"sub",
       L"outside", false},
      {"subfolder", "operation install\n" + start + "subfolder sub\n", L"sub", L"outside",
       false},
      {"a subfolder's subfolder", "operation install\n" + start + "subfolder 2.0\n",
       L"2.0\\sub", L"outside", false},
      {"the name itself", "operation install\n" + start + "make app.exe\n", L"app.exe",
       L"outside\\app.exe", false},
      {"the shortcut itself",
       "operation install\n" + start + "shortcut-make " +
           Path(L"Desktop\\Velum Browser.lnk").AsUTF8() + "\n",
       nullptr, L"outside\\app.exe", false},
      {"put in place of its folder after the check",
       "operation install\n" + start + "make sub\\app.exe\n", L"sub", L"outside", true},
      {"put in place of the name after the check", "operation install\n" + start + "make app.exe\n",
       L"app.exe", L"outside\\app.exe", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Only Wine's host links can name a file; Windows' junctions are folders.
    if (!base::RunningUnderWine() && wcschr(c.target, L'\\')) continue;
    ASSERT_TRUE(base::DeleteFile(install_, true));
    ASSERT_TRUE(base::DeleteFile(Path(L"outside"), true));
    ASSERT_TRUE(base::CreateDirectory(Path(L"outside\\empty")));
    for (const wchar_t* name : {L"app.exe", L"app.exe.1700000001.old"})
      ASSERT_TRUE(base::WriteTextFile(Path(L"outside").Append(name), base::WideToUTF8(name)));
    Make(L"2.0\\velum.exe");
    ASSERT_TRUE(base::CreateDirectory(install_.Append(L"sub")));
    Make(L"sub\\app.exe", "ours");
    Make(L"app.exe", "ours");
    const base::FilePath link =
        c.link ? install_.Append(c.link) : Path(L"Desktop\\Velum Browser.lnk");
    std::string error;
    if (!c.swap) {
      ASSERT_TRUE(base::DeleteFile(link, true));
      ASSERT_TRUE(base::CreateDirectory(link.DirName()));
      ASSERT_TRUE(base::MakeDirectoryLink(link, Path(c.target), &error)) << error;
    }
    bool swapped = false;
    internal::SetFinishingActHookForTesting([&](const base::FilePath& path) {
      if (!c.swap || swapped || (path != link && !link.IsParent(path))) return;
      // Windows refuses to rename a held folder; so does Wine.
      swapped = MoveFileW(link.value().c_str(), (link.value() + L".old").c_str()) &&
                base::MakeDirectoryLink(link, Path(c.target), &error);
    });
    const base::FilePath note = WriteNote(c.lines);
    ASSERT_TRUE(FinishInterruptedRuns(install_, nullptr).ok());
    internal::SetFinishingActHookForTesting(nullptr);
    for (const wchar_t* name : {L"app.exe", L"app.exe.1700000001.old"})
      EXPECT_EQ(base::WideToUTF8(name), Text(Path(L"outside").Append(name)));
    EXPECT_TRUE(base::DirectoryExists(Path(L"outside\\empty")));
    const std::string kept = Text(note);
    if (c.kept) {
      EXPECT_NE(std::string::npos, kept.find(c.kept)) << kept;
    }
    // An original set aside is only ever put back, never named for removal.
    for (size_t at = kept.find("left-put-back "); at != std::string::npos;
         at = kept.find("left-put-back ", at + 1)) {
      const size_t copy = at + strlen("left-put-back ");
      const std::string removal = "left-remove " + kept.substr(copy, kept.find('|', at) - copy);
      EXPECT_EQ(std::string::npos, kept.find(removal + "\n")) << kept;
    }
    // A folder held cannot be swapped: the run's file in it goes.
    const bool folder_swap = c.swap && link.BaseName().value() == L"sub";
    EXPECT_EQ(!folder_swap, base::PathExists(note));
    if (folder_swap) {
      EXPECT_FALSE(Has(swapped ? L"sub.old\\app.exe" : L"sub\\app.exe"));
    }
    if (!c.swap || swapped) {
      EXPECT_TRUE(base::RemoveDirectoryLink(link));
    }
  }
}

}  // namespace
}  // namespace installer
