// The update run behind Yes, against a faked platform and update program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "res/texts.h"
#include "update/lzss.h"
#include "update/payload_digest.h"

namespace kv::test {
namespace {

const std::string kDir = "C:\\Games\\Kelvaro\\";
const char* const kRelative[] = {"KvWin.exe",  "KvBc.exe",        "KvRace.exe",
                                 "KvVtr.exe", "Help\\body.html", "Help\\menu.html"};

// A container whose stream holds the bytes as literals only.
std::vector<std::uint8_t> LiteralContainer(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint8_t> stream;
  for (std::size_t i = 0; i < bytes.size(); i += 8) {
    std::size_t n = std::min<std::size_t>(8, bytes.size() - i);
    stream.push_back(static_cast<std::uint8_t>((1u << n) - 1));
    stream.insert(stream.end(), bytes.begin() + static_cast<long>(i), bytes.begin() + static_cast<long>(i + n));
  }
  std::uint32_t l = static_cast<std::uint32_t>(stream.size());
  std::vector<std::uint8_t> container;
  container.push_back(PAYLOAD_MARKER);
  for (int shift = 0; shift < 32; shift += 8) container.push_back(static_cast<std::uint8_t>(l >> shift));
  for (std::uint8_t b : stream) container.push_back(b);
  return container;
}

std::vector<std::uint8_t> DigestOf(const std::vector<std::uint8_t>& program) {
  std::uint8_t record[PAYLOAD_DIGEST_SIZE];
  WritePayloadDigest(program.data(), static_cast<std::uint32_t>(program.size()), record);
  return std::vector<std::uint8_t>(std::begin(record), std::end(record));
}

const std::vector<std::uint8_t> kProgram = {'M', 'Z', 0x90, 0, 3, 0, 0, 0, 4, 0, 0, 0, 0xFF, 0xFF, 0, 0, 'u', 'p'};

// An update program that brings every installed file up to date.
std::uint32_t UpdatesAll(FakePlatform& f, const std::string& dir) {
  for (const char* name : kRelative) {
    auto it = f.files.find(dir + name);
    if (it != f.files.end()) it->second.lastWrite = kFresh;
  }
  return 0;
}

class UpdateRunTest : public ::testing::Test {
 protected:
  void SetUp() override { Install(kDir); }
  void TearDown() override { EXPECT_EQ(fake.OpenCount(), 0u) << "a handle was left open"; }

  // A complete installation at version 1.00 with stale files, a payload, and
  // an update program that freshens every file.
  void Install(const std::string& dir) {
    dir_ = dir;
    fake.registry[APP_PATHS_KEY][""] = StringValue(dir + "KvWin.exe");
    fake.registry[VERSION_KEY][VERSION_VALUE] = StringValue("1.00");
    for (const char* name : kRelative) fake.files[dir + name] = FakeFile{};
    fake.payload = LiteralContainer(kProgram);
    fake.payloadDigest = DigestOf(kProgram);
    fake.updateProgram = [dir](FakePlatform& f) { return UpdatesAll(f, dir); };
    ASSERT_TRUE(launcher.CheckInstallation());
    fake.log.clear();
    fake.boxes.clear();
  }

  std::string Path() const { return dir_ + "update.exe"; }
  bool Started() const { return !fake.Opened("ProcessCreate").empty(); }
  std::string Version() const {
    const auto& data = fake.registry.at(VERSION_KEY).at(VERSION_VALUE).data;
    return std::string(data.begin(), data.end());
  }
  std::ptrdiff_t IndexOf(const std::string& prefix) const {
    auto it = std::find_if(fake.log.begin(), fake.log.end(),
                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    return it == fake.log.end() ? -1 : it - fake.log.begin();
  }

  FakePlatform fake;
  TestLauncher launcher{fake};
  std::string dir_;
};

TEST_F(UpdateRunTest, SuccessRunsEveryStepInOrder) {
  launcher.RunUpdate();

  const std::string p = Path();
  std::vector<std::string> expected = {
      "ResourceLock LZT UPEXE",
      "ResourceLock LZT UPSUM",
      "MemoryAlloc 0x42 400000",
      "MemoryLock",
      // written sharing reading, then held read-only through a bridge
      "FileCreate " + p + " 0x40000000 share=1 disp=2 attr=0x80",
      "FileWrite " + p + " " + std::to_string(kProgram.size()),
      "FileCreate " + p + " 0x80000000 share=3 disp=3 attr=0x80",
      "FileClose " + p,
      "FileCreate " + p + " 0x80000000 share=1 disp=3 attr=0x80",
      "FileClose " + p,
      "FileRead " + p,
      "FileRead " + p,
      "MemoryUnlock",
      "MemoryFree",
      "SetCurrentDir " + kDir,
      "ProcessCreate " + p + " | " + p + " 0x4000220",
      "ThreadClose",
      "ProcessWait 0xFFFFFFFF",
      "ProcessExitCode",
      "ProcessClose",
      "FileClose " + p,
      "FileDelete " + p,
  };
  ASSERT_GE(fake.log.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(fake.log.begin(), fake.log.begin() + static_cast<long>(expected.size())),
            expected);

  // What was run is the decoded program, and it is gone afterwards.
  EXPECT_EQ(fake.writtenWhenStarted[p], kProgram);
  EXPECT_EQ(fake.files.count(p), 0u);
  EXPECT_EQ(fake.startedWith.flags, 1u);
  EXPECT_EQ(fake.startedWith.showWindow, 10);

  // The success box is dismissed before the version is recorded, as five bytes.
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].text, text::kUpdateCompleted);
  EXPECT_EQ(fake.boxes[0].caption, text::kUpdateCaption);
  EXPECT_EQ(fake.boxes[0].style, 0x40u);
  EXPECT_TRUE(fake.boxes[0].owned);
  EXPECT_LT(IndexOf("ShowMessage"), IndexOf("RegistryOpen " + std::string(VERSION_KEY) + " 0x2"));
  EXPECT_LT(IndexOf("RegistrySet"), IndexOf("AcceptDialog"));
  EXPECT_EQ(Version(), std::string("1.01\0", 5));
  EXPECT_EQ(fake.registry.at(VERSION_KEY).at(VERSION_VALUE).type, win::kRegSz);
  EXPECT_EQ(launcher.accepted, 1);
  EXPECT_EQ(launcher.cancelled, 0);
}

struct RunCase {
  const char* what;
  std::function<void(FakePlatform&, const std::string& dir)> arrange;
  bool started;
  bool succeeded;
};

const RunCase kRunCases[] = {
    {"a failing exit code with all files fresh still succeeds",
     [](FakePlatform& f, const std::string& dir) {
       f.updateProgram = [dir](FakePlatform& g) { return UpdatesAll(g, dir) + 3; };
     },
     true, true},
    {"exit code 0 with one file left stale fails",
     [](FakePlatform& f, const std::string& dir) {
       f.updateProgram = [dir](FakePlatform& g) {
         UpdatesAll(g, dir);
         g.files[dir + "KvRace.exe"].lastWrite = kStale;
         return 0u;
       };
     },
     true, false},
    {"an update program that deletes a file fails",
     [](FakePlatform& f, const std::string& dir) {
       f.updateProgram = [dir](FakePlatform& g) {
         UpdatesAll(g, dir);
         g.files.erase(dir + "Help\\menu.html");
         return 0u;
       };
     },
     true, false},
    {"payload resource missing: nothing written or started",
     [](FakePlatform& f, const std::string&) { f.payloadMissing = true; }, false, false},
    {"payload without its marker", [](FakePlatform& f, const std::string&) { f.payload[0] = 0x00; }, false, false},
    {"integrity record missing", [](FakePlatform& f, const std::string&) { f.digestMissing = true; }, false, false},
    {"integrity record of the wrong length",
     [](FakePlatform& f, const std::string&) { f.payloadDigest.pop_back(); }, false, false},
    {"one byte of the stream flipped",
     [](FakePlatform& f, const std::string&) { f.payload[10] ^= 0x01; }, false, false},
    {"stream cut short (with its length)",
     [](FakePlatform& f, const std::string&) {
       for (int i = 0; i < 3; ++i) f.payload.pop_back();
       f.payload[1] = static_cast<std::uint8_t>(f.payload.size() - 5);
     },
     false, false},
    {"another program writes update.exe while the writer hands over",
     [](FakePlatform& f, const std::string&) {
       f.onHandOver = [](FakePlatform& g, const std::string& path) { g.files[path].content.back() ^= 0xFF; };
     },
     false, false},
    {"another program opens update.exe for writing while the writer hands over",
     [](FakePlatform& f, const std::string&) {
       f.onHandOver = [](FakePlatform& g, const std::string& path) {
         FakeFile& file = g.files[path];
         file.heldByOther = true;
         file.otherAccess = win::kGenericWrite;
         file.otherShare = win::kShareRead | win::kShareWrite;
         g.onHandOver = nullptr;
       };
     },
     false, false},
    {"stream length beyond the resource",
     [](FakePlatform& f, const std::string&) { f.payload.pop_back(); }, false, false},
    {"a program that decodes beyond the payload area",
     [](FakePlatform& f, const std::string&) {
       f.payload = LiteralContainer(std::vector<std::uint8_t>(PAYLOAD_BUFFER_SIZE + 1, 'x'));
     },
     false, false},
    {"payload area not available", [](FakePlatform& f, const std::string&) { f.allocFails = true; }, false, false},
    {"a read-only update.exe already there is never run",
     [](FakePlatform& f, const std::string& dir) {
       FakeFile planted;
       planted.readOnly = true;
       planted.content = {'e', 'v', 'i', 'l'};
       f.files[dir + "update.exe"] = planted;
     },
     false, false},
    {"a short write is not run", [](FakePlatform& f, const std::string&) { f.writeLimit = 4; }, false, false},
    {"a failed write is not run", [](FakePlatform& f, const std::string&) { f.writeFails = true; }, false, false},
    {"start fails", [](FakePlatform& f, const std::string&) { f.processCreateFails = true; }, true, false},
    {"exit code unreadable: the process handle is closed all the same",
     [](FakePlatform& f, const std::string&) { f.exitCodeFails = true; }, true, true},
};

TEST_F(UpdateRunTest, FailuresAndTheVerdictOfTheFiles) {
  for (const RunCase& c : kRunCases) {
    fake = FakePlatform{};
    launcher.accepted = launcher.cancelled = 0;
    Install(kDir);
    c.arrange(fake, kDir);
    bool plantedBefore = fake.files.count(Path()) != 0;
    launcher.RunUpdate();

    bool ran = !fake.writtenWhenStarted.empty();
    EXPECT_EQ(Started(), c.started) << c.what;
    if (ran) {
      EXPECT_EQ(fake.writtenWhenStarted[Path()], kProgram) << c.what;
    }
    if (!c.started) {
      EXPECT_FALSE(ran) << c.what;
    }
    // The delete comes after any start, also a failed one; a file this run
    // wrote never stays behind unless another program holds it.
    EXPECT_GE(IndexOf("FileDelete " + Path()), 0) << c.what;
    auto left = fake.files.find(Path());
    bool heldByOther = left != fake.files.end() && left->second.heldByOther;
    if (!plantedBefore && !heldByOther) {
      EXPECT_EQ(fake.files.count(Path()), 0u) << c.what;
    }

    ASSERT_EQ(fake.boxes.size(), 1u) << c.what;
    EXPECT_EQ(fake.boxes[0].text, c.succeeded ? text::kUpdateCompleted : text::kUpdateFailed) << c.what;
    EXPECT_EQ(fake.boxes[0].style, c.succeeded ? 0x40u : 0x30u) << c.what;
    EXPECT_EQ(Version(), c.succeeded ? std::string("1.01\0", 5) : std::string("1.00\0", 5)) << c.what;
    EXPECT_EQ(launcher.accepted, c.succeeded ? 1 : 0) << c.what;
    EXPECT_EQ(launcher.cancelled, c.succeeded ? 0 : 1) << c.what;
    EXPECT_EQ(fake.OpenCount(), 0u) << c.what;
    EXPECT_EQ(IndexOf("!FreedWhileLocked"), -1) << c.what;
  }
}

TEST_F(UpdateRunTest, TheProgramCannotBeReplacedOrDeletedWhileItRuns) {
  bool replaced = true;
  bool deleted = true;
  fake.updateProgram = [&](FakePlatform& f) {
    File other{};
    replaced = f.FileCreate(Path().c_str(), win::kGenericWrite, win::kShareRead | win::kShareWrite,
                            win::kOpenExisting, win::kFileAttributeNormal, &other);
    if (replaced) f.FileClose(other);
    deleted = f.FileDelete(Path().c_str());
    return UpdatesAll(f, kDir);
  };
  launcher.RunUpdate();
  EXPECT_FALSE(replaced);
  EXPECT_FALSE(deleted);
  EXPECT_EQ(fake.files.count(Path()), 0u) << "deleted once the program has ended";
  EXPECT_EQ(launcher.accepted, 1);
}

TEST_F(UpdateRunTest, DeleteIsRetriedWhileTheFileIsBrieflyInUse) {
  struct Case {
    int busyPauses;  // pauses until the other program lets go; -1 for never
    int deletes;
    bool gone;
  } cases[] = {{0, 1, true}, {3, 4, true}, {-1, DELETE_TRIES, false}};
  for (const Case& c : cases) {
    fake = FakePlatform{};
    launcher.accepted = launcher.cancelled = 0;
    Install(kDir);
    int pauses = 0;
    fake.updateProgram = [&](FakePlatform& f) {
      if (c.busyPauses != 0) {
        FakeFile& file = f.files[Path()];
        file.heldByOther = true;
        file.otherAccess = win::kGenericRead;
        file.otherShare = win::kShareRead | win::kShareDelete;
      }
      return UpdatesAll(f, kDir);
    };
    fake.onPause = [&](FakePlatform& f) {
      if (++pauses == c.busyPauses) f.files[Path()].heldByOther = false;
    };
    launcher.RunUpdate();
    EXPECT_EQ(static_cast<int>(fake.Opened("FileDelete").size()), c.deletes) << c.busyPauses;
    EXPECT_EQ(static_cast<int>(fake.Opened("Pause 100").size()), c.deletes - 1) << c.busyPauses;
    EXPECT_EQ(fake.files.count(Path()) == 0, c.gone) << c.busyPauses;
    EXPECT_EQ(launcher.accepted, 1) << "the verification still decides";
  }
}

TEST_F(UpdateRunTest, VerificationStopsAtTheFirstStaleFile) {
  fake.updateProgram = [](FakePlatform& g) {
    UpdatesAll(g, kDir);
    g.files[kDir + "KvBc.exe"].lastWrite = kStale;
    return 0u;
  };
  launcher.RunUpdate();
  for (const char* later : {"KvRace.exe", "KvVtr.exe", "Help\\body.html", "Help\\menu.html"}) {
    EXPECT_EQ(IndexOf("FileCreate " + kDir + later), -1) << later;
  }
  EXPECT_EQ(launcher.cancelled, 1);
}

TEST_F(UpdateRunTest, AlreadyFreshFilesPassEvenWhenNothingCouldBeRun) {
  fake.payloadMissing = true;
  for (const char* name : kRelative) fake.files[kDir + name].lastWrite = kFresh;
  launcher.RunUpdate();
  EXPECT_FALSE(Started());
  EXPECT_EQ(launcher.accepted, 1);
}

TEST_F(UpdateRunTest, AnEarlierUpdateProgramIsReplacedAndGoneAfterwards) {
  FakeFile earlier;
  earlier.content = {'o', 'l', 'd'};
  fake.files[Path()] = earlier;
  launcher.RunUpdate();
  EXPECT_EQ(fake.writtenWhenStarted[Path()], kProgram);
  EXPECT_EQ(fake.files.count(Path()), 0u);
  EXPECT_EQ(launcher.accepted, 1);
}

TEST_F(UpdateRunTest, WaitFailureShowsTheErrorBoxWithoutOwnerAndGoesOn) {
  fake.waitResult = win::kWaitFailed;
  launcher.RunUpdate();
  ASSERT_EQ(fake.boxes.size(), 2u);
  EXPECT_EQ(fake.boxes[0].text, "WaitForSingleObject");
  EXPECT_EQ(fake.boxes[0].caption, "CreateProcess Error");
  EXPECT_EQ(fake.boxes[0].style, 0x10u);
  EXPECT_FALSE(fake.boxes[0].owned);
  EXPECT_LT(IndexOf("MessageBoxUnowned"), IndexOf("ProcessExitCode"));
  EXPECT_GE(IndexOf("FileDelete"), 0);
  EXPECT_EQ(fake.boxes[1].text, text::kUpdateCompleted);  // the fake program did its work
}

TEST_F(UpdateRunTest, MissingVersionKeyStillEndsWithSuccessAndNoRecord) {
  fake.registry.erase(VERSION_KEY);
  launcher.RunUpdate();
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].text, text::kUpdateCompleted);
  EXPECT_EQ(fake.registry.count(VERSION_KEY), 0u) << "the key is opened, never created";
  EXPECT_EQ(IndexOf("RegistrySet"), -1);
  EXPECT_EQ(launcher.accepted, 1);
}

TEST_F(UpdateRunTest, DirectoryWithSpacesIsStartedByItsPathNotAtASplitPoint) {
  fake = FakePlatform{};
  const std::string dir = "C:\\Program Files\\Kelvaro for Win\\";
  Install(dir);
  fake.files["C:\\Program.exe"] = FakeFile{};  // a decoy at the first space
  launcher.RunUpdate();
  EXPECT_EQ(fake.startedApplication, dir + "update.exe");
  EXPECT_EQ(fake.startedCommandLine, dir + "update.exe") << "the bare path, without quotes";
  EXPECT_EQ(launcher.accepted, 1);
}

TEST_F(UpdateRunTest, UpdateProgramPathThatDoesNotFitIsAFailedStart) {
  // The check never offers such a directory (its own paths would not fit the
  // working text), so the run is given one directly: 250 + "update.exe" needs 261 bytes.
  const std::string dir = "C:\\" + std::string(246, 'd') + "\\";
  ASSERT_EQ(dir.size(), 250u);
  std::snprintf(launcher.m_szInstallDir, sizeof launcher.m_szInstallDir, "%s", dir.c_str());
  launcher.RunUpdate();
  EXPECT_EQ(IndexOf("ResourceLock"), 0);
  EXPECT_EQ(IndexOf("FileCreate C:\\ddd"), -1) << "nothing written, not even a shortened path";
  EXPECT_FALSE(Started());
  EXPECT_EQ(IndexOf("FileDelete"), -1);
  EXPECT_EQ(launcher.cancelled, 1);
}

}  // namespace
}  // namespace kv::test
