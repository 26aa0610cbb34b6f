// The installation check against a faked registry and file system.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "res/texts.h"

namespace kv::test {
namespace {

const std::string kDir = "C:\\Games\\Kelvaro\\";
const char* const kRelative[] = {"KvWin.exe",  "KvBc.exe",        "KvRace.exe",
                                 "KvVtr.exe", "Help\\body.html", "Help\\menu.html"};

class InstallationCheckTest : public ::testing::Test {
 public:
  void SetAllFresh() {
    for (const char* name : kRelative) fake.files[kDir + name].lastWrite = kFresh;
  }

 protected:
  // A complete installation at version 1.00, every file written before the cut-off.
  void SetUp() override {
    fake.registry[APP_PATHS_KEY][""] = StringValue(kDir + "KvWin.exe");
    fake.registry[VERSION_KEY][VERSION_VALUE] = StringValue("1.00");
    for (const char* name : kRelative) fake.files[kDir + name] = FakeFile{};
  }
  void TearDown() override { EXPECT_EQ(fake.OpenCount(), 0u) << "a handle was left open"; }

  std::vector<std::string> ProbedPaths() const {
    std::vector<std::string> paths;
    for (const auto& line : fake.log)
      if (line.rfind("FileCreate ", 0) == 0) paths.push_back(line.substr(11, line.find(' ', 11) - 11));
    return paths;
  }

  FakePlatform fake;
  TestLauncher launcher{fake};
};

// ---- LocateInstallation ----

TEST_F(InstallationCheckTest, DirectoryIsCutAfterTheLastBackslashByte) {
  struct Case {
    const char* what;
    std::string value;
    std::string dir;
  } cases[] = {
      {"several backslashes", "C:\\A\\B\\C\\KvWin.exe", "C:\\A\\B\\C\\"},
      {"ends in a backslash: used whole", "C:\\Games\\", "C:\\Games\\"},
      {"no backslash: kept whole", "KvWin.exe", "KvWin.exe"},
      {"empty value", "", ""},
      {"drive root", "C:\\KvWin.exe", "C:\\"},
      {"quotes and references are not touched", "\"%ProgramFiles%\\Kv\\KvWin.exe\"",
       "\"%ProgramFiles%\\Kv\\"},
      // 0x83 0x5C is one double-byte character, but the scan is over bytes.
      {"a trail byte 0x5C counts", "C:\\Kv\\\x83\x5C" "A.exe", "C:\\Kv\\\x83\x5C"},
  };
  for (const Case& c : cases) {
    fake.registry[APP_PATHS_KEY][""] = StringValue(c.value);
    EXPECT_TRUE(launcher.LocateInstallation()) << c.what;
    EXPECT_EQ(std::string(launcher.m_szInstallDir), c.dir) << c.what;
  }
}

TEST_F(InstallationCheckTest, LocateReadsTheDefaultValueWithKeyReadAndTheWholeField) {
  ASSERT_TRUE(launcher.LocateInstallation());
  EXPECT_EQ(fake.log[0], "RegistryOpen " + std::string(APP_PATHS_KEY) + " 0x20019");
  EXPECT_EQ(fake.log[1], "RegistryQuery " + std::string(APP_PATHS_KEY) + " [] 260");
  EXPECT_EQ(fake.log[2], "RegistryClose");
}

TEST_F(InstallationCheckTest, UnreadableOrOverlongAppPathsValueIsNotInstalled) {
  const std::string dir259 = "C:\\" + std::string(246, 'd') + "\\";  // with KvWin.exe: 259 characters
  const std::string path259 = dir259 + "KvWin.exe";
  ASSERT_EQ(path259.size(), 259u);

  struct Case {
    const char* what;
    std::function<void(FakePlatform&)> arrange;
    bool located;
  } cases[] = {
      {"259 characters and the zero fit", [&](FakePlatform& f) { f.registry[APP_PATHS_KEY][""] = StringValue(path259); }, true},
      {"260 characters do not", [&](FakePlatform& f) { f.registry[APP_PATHS_KEY][""] = StringValue(path259 + "x"); }, false},
      {"260 bytes without a terminating zero",
       [&](FakePlatform& f) {
         FakeValue v = StringValue(path259 + "x");
         v.data.pop_back();
         f.registry[APP_PATHS_KEY][""] = v;
       },
       false},
      {"key missing", [](FakePlatform& f) { f.registry.erase(APP_PATHS_KEY); }, false},
      {"key refused", [](FakePlatform& f) { f.keysDenied.insert(APP_PATHS_KEY); }, false},
      {"value missing", [](FakePlatform& f) { f.registry[APP_PATHS_KEY].clear(); }, false},
  };
  for (const Case& c : cases) {
    SetUp();
    fake.keysDenied.clear();
    c.arrange(fake);
    EXPECT_EQ(launcher.LocateInstallation(), c.located) << c.what;
    if (c.located) {
      EXPECT_EQ(std::string(launcher.m_szInstallDir), dir259) << c.what;
    }
  }
}

// ---- ReadInstalledVersion ----

TEST_F(InstallationCheckTest, VersionIsReadOrLeftEmpty) {
  struct Case {
    const char* what;
    std::function<void(FakePlatform&)> arrange;
    std::string version;
  } cases[] = {
      {"stored", [](FakePlatform&) {}, "1.00"},
      {"39 characters fit",
       [](FakePlatform& f) { f.registry[VERSION_KEY][VERSION_VALUE] = StringValue(std::string(39, '9')); },
       std::string(39, '9')},
      {"40 characters are too long",
       [](FakePlatform& f) { f.registry[VERSION_KEY][VERSION_VALUE] = StringValue(std::string(40, '9')); }, ""},
      {"40 bytes without a terminating zero",
       [](FakePlatform& f) {
         FakeValue v = StringValue(std::string(40, '9'));
         v.data.pop_back();
         f.registry[VERSION_KEY][VERSION_VALUE] = v;
       },
       ""},
      {"value missing", [](FakePlatform& f) { f.registry[VERSION_KEY].clear(); }, ""},
      {"key missing", [](FakePlatform& f) { f.registry.erase(VERSION_KEY); }, ""},
  };
  for (const Case& c : cases) {
    SetUp();
    std::fill(std::begin(launcher.m_szInstalledVersion), std::end(launcher.m_szInstalledVersion), 'Z');
    c.arrange(fake);
    launcher.ReadInstalledVersion();
    EXPECT_EQ(std::string(launcher.m_szInstalledVersion), c.version) << c.what;
  }
  EXPECT_NE(std::find(fake.log.begin(), fake.log.end(),
                      "RegistryQuery " + std::string(VERSION_KEY) + " [ExeVersion] 40"),
            fake.log.end());
}

// ---- the probes ----

TEST_F(InstallationCheckTest, ProbesOpenWithTheirShareModes) {
  const std::string path = kDir + "KvWin.exe";
  EXPECT_TRUE(launcher.ProbeFileExists(path.c_str()));
  EXPECT_EQ(fake.log[0], "FileCreate " + path + " 0x80000000 share=0 disp=3 attr=0x80");
  fake.log.clear();
  fake.files[path].lastWrite = kFresh;
  EXPECT_TRUE(launcher.ProbeFileFresh(path.c_str()));
  EXPECT_EQ(fake.log[0], "FileCreate " + path + " 0x80000000 share=1 disp=3 attr=0x80");
}

TEST_F(InstallationCheckTest, FileHeldByAnotherProgram) {
  const std::string path = kDir + "KvBc.exe";
  struct Case {
    const char* what;
    std::uint32_t access, share;
    bool exists, fresh;
  } cases[] = {
      {"read, sharing reading", win::kGenericRead, win::kShareRead, false, true},
      {"read, sharing reading and writing", win::kGenericRead, win::kShareRead | win::kShareWrite, false, true},
      {"write, sharing reading", win::kGenericWrite, win::kShareRead, false, false},
      {"read, sharing nothing", win::kGenericRead, win::kShareNone, false, false},
  };
  for (const Case& c : cases) {
    FakeFile& f = fake.files[path];
    f.lastWrite = kFresh;
    f.heldByOther = true;
    f.otherAccess = c.access;
    f.otherShare = c.share;
    EXPECT_EQ(launcher.ProbeFileExists(path.c_str()), c.exists) << c.what;
    EXPECT_EQ(launcher.ProbeFileFresh(path.c_str()), c.fresh) << c.what;
  }
}

TEST_F(InstallationCheckTest, FreshMeansAtOrAfterTheCutOff) {
  const std::string path = kDir + "KvWin.exe";
  struct Case {
    std::uint64_t ticks;
    bool fresh;
  } cases[] = {
      {kThresholdTicks, true},
      {kThresholdTicks - 1, false},  // 100 ns before
      {kThresholdTicks + 1, true},
      {kThresholdTicks - (std::uint64_t{1} << 32), false},  // differs in the high word only
      {0, false},
  };
  for (const Case& c : cases) {
    fake.files[path].lastWrite = FromTicks(c.ticks);
    EXPECT_EQ(launcher.ProbeFileFresh(path.c_str()), c.fresh) << c.ticks;
  }
  EXPECT_FALSE(launcher.ProbeFileFresh((kDir + "missing.exe").c_str()));
}

TEST_F(InstallationCheckTest, ProbeRunWalksTheFilesInOrderAndStopsAtTheFirstFailure) {
  ASSERT_TRUE(launcher.LocateInstallation());
  fake.log.clear();
  EXPECT_TRUE(launcher.ProbeInstalledFiles(&InstallationCheck::ProbeFileExists));
  std::vector<std::string> all;
  for (const char* name : kRelative) all.push_back(kDir + name);
  EXPECT_EQ(ProbedPaths(), all);

  fake.log.clear();
  fake.files.erase(kDir + "KvBc.exe");
  EXPECT_FALSE(launcher.ProbeInstalledFiles(&InstallationCheck::ProbeFileExists));
  EXPECT_EQ(ProbedPaths(), (std::vector<std::string>{kDir + "KvWin.exe", kDir + "KvBc.exe"}));
}

TEST_F(InstallationCheckTest, PathThatDoesNotFitTheWorkingTextFailsInsteadOfBeingShortened) {
  // 243 + "KvRace.exe" fits in 255 characters; 243 + "Help\body.html" does not.
  const std::string dir = "C:\\" + std::string(239, 'd') + "\\";
  ASSERT_EQ(dir.size(), 243u);
  fake.registry[APP_PATHS_KEY][""] = StringValue(dir + "KvWin.exe");
  for (const char* name : kRelative) fake.files[dir + name] = FakeFile{};
  ASSERT_TRUE(launcher.LocateInstallation());
  fake.log.clear();
  EXPECT_FALSE(launcher.ProbeInstalledFiles(&InstallationCheck::ProbeFileExists));
  EXPECT_EQ(ProbedPaths(), (std::vector<std::string>{dir + "KvWin.exe", dir + "KvBc.exe",
                                                     dir + "KvRace.exe", dir + "KvVtr.exe"}));
}

// ---- the check and its four outcomes ----

struct Outcome {
  const char* what;
  std::function<void(InstallationCheckTest*, FakePlatform&)> arrange;
  bool offered;             // the dialog is shown
  const char* message;      // the one box, or nullptr
  std::uint32_t style;
  const char* status;       // IDC_INSTALL_INFO, or nullptr when never set
};

class OutcomeTest : public InstallationCheckTest {
 public:
  void Run(const Outcome& c) {
    c.arrange(this, fake);
    bool offered = launcher.CheckInstallation();
    EXPECT_EQ(offered, c.offered) << c.what;
    EXPECT_EQ(launcher.cancelled, c.offered ? 0 : 1) << c.what;
    if (c.message == nullptr) {
      EXPECT_TRUE(fake.boxes.empty()) << c.what;
    } else {
      ASSERT_EQ(fake.boxes.size(), 1u) << c.what;
      EXPECT_EQ(fake.boxes[0].text, c.message) << c.what;
      EXPECT_EQ(fake.boxes[0].caption, text::kUpdateCaption) << c.what;
      EXPECT_EQ(fake.boxes[0].style, c.style) << c.what;
      EXPECT_TRUE(fake.boxes[0].owned) << c.what;
    }
    EXPECT_EQ(launcher.installInfoSet, c.status != nullptr) << c.what;
    if (c.status != nullptr) {
      EXPECT_EQ(launcher.installInfo, c.status) << c.what;
    }
    // The cancel comes after the box, the status text before it.
    auto at = [&](const std::string& prefix) {
      return std::find_if(fake.log.begin(), fake.log.end(),
                          [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }) -
             fake.log.begin();
    };
    if (!c.offered) {
      EXPECT_LT(at("ShowMessage"), at("CancelDialog")) << c.what;
    }
    if (!c.offered && c.status != nullptr) {
      EXPECT_LT(at("ShowInstallInfo"), at("ShowMessage")) << c.what;
    }
  }
};

const Outcome kOutcomes[] = {
    {"not installed", [](InstallationCheckTest*, FakePlatform& f) { f.registry.erase(APP_PATHS_KEY); }, false,
     text::kNotInstalled, 0x30, nullptr},
    {"second file missing",
     [](InstallationCheckTest*, FakePlatform& f) { f.files.erase(kDir + "KvBc.exe"); }, false,
     text::kInstalledIncorrectly, 0x30, nullptr},
    {"a file held open for reading by another program",
     [](InstallationCheckTest*, FakePlatform& f) {
       FakeFile& h = f.files[kDir + "Help\\menu.html"];
       h.heldByOther = true;
       h.otherAccess = win::kGenericRead;
       h.otherShare = win::kShareRead;
     },
     false, text::kInstalledIncorrectly, 0x30, nullptr},
    {"already current",
     [](InstallationCheckTest* t, FakePlatform& f) {
       f.registry[VERSION_KEY][VERSION_VALUE] = StringValue("1.01");
       t->SetAllFresh();
     },
     false, text::kAlreadyCurrent, 0x40, "C:\\Games\\Kelvaro\\\n\n\tVersion:1.01 -> 1.01"},
    {"version 1.00", [](InstallationCheckTest*, FakePlatform&) {}, true, nullptr, 0,
     "C:\\Games\\Kelvaro\\\n\n\tVersion:1.00 -> 1.01"},
    {"1.01 with one help page stale",
     [](InstallationCheckTest* t, FakePlatform& f) {
       f.registry[VERSION_KEY][VERSION_VALUE] = StringValue("1.01");
       t->SetAllFresh();
       f.files[kDir + "Help\\body.html"].lastWrite = kStale;
     },
     true, nullptr, 0, "C:\\Games\\Kelvaro\\\n\n\tVersion:1.01 -> 1.01"},
    {"a trailing blank is another version",
     [](InstallationCheckTest* t, FakePlatform& f) {
       f.registry[VERSION_KEY][VERSION_VALUE] = StringValue("1.01 ");
       t->SetAllFresh();
     },
     true, nullptr, 0, "C:\\Games\\Kelvaro\\\n\n\tVersion:1.01  -> 1.01"},
    {"a later version is offered too",
     [](InstallationCheckTest* t, FakePlatform& f) {
       f.registry[VERSION_KEY][VERSION_VALUE] = StringValue("1.02");
       t->SetAllFresh();
     },
     true, nullptr, 0, "C:\\Games\\Kelvaro\\\n\n\tVersion:1.02 -> 1.01"},
    {"no version record",
     [](InstallationCheckTest* t, FakePlatform& f) {
       f.registry.erase(VERSION_KEY);
       t->SetAllFresh();
     },
     true, nullptr, 0, "C:\\Games\\Kelvaro\\\n\n\tVersion: -> 1.01"},
    {"an overlong version counts as none",
     [](InstallationCheckTest*, FakePlatform& f) {
       f.registry[VERSION_KEY][VERSION_VALUE] = StringValue(std::string(40, '1'));
     },
     true, nullptr, 0, "C:\\Games\\Kelvaro\\\n\n\tVersion: -> 1.01"},
};

TEST_F(OutcomeTest, EachOutcomeShowsItsMessageOrTheDialog) {
  for (const Outcome& c : kOutcomes) {
    fake = FakePlatform{};
    launcher.cancelled = 0;
    launcher.installInfoSet = false;
    SetUp();
    Run(c);
  }
}

TEST_F(OutcomeTest, EarlyOutcomesNeverReadTheVersion) {
  fake.files.erase(kDir + "KvVtr.exe");
  EXPECT_FALSE(launcher.CheckInstallation());
  for (const auto& line : fake.log) EXPECT_EQ(line.find(VERSION_KEY), std::string::npos) << line;
}

TEST(StatusText, LongDirectoryIsCutToTheWorkingTextWithoutSplittingACharacter) {
  // A 259-byte directory of double-byte characters: the status text is cut to
  // at most 255 bytes and never ends in half a character.
  std::string dir = "C:\\";
  while (dir.size() < 257) dir += "\x83\x5C";  // each a two-byte character
  dir += "\\";
  ASSERT_LE(dir.size(), 259u);
  char out[WORKING_TEXT_SIZE + 8];
  std::fill(std::begin(out), std::end(out), '#');
  FormatStatusText(out, WORKING_TEXT_SIZE, dir.c_str(), "1.00");
  std::string text(out);
  EXPECT_LE(text.size(), WORKING_TEXT_SIZE - 1);
  EXPECT_EQ(text.substr(0, 3), "C:\\");
  EXPECT_EQ((text.size() - 3) % 2, 0u) << "a double-byte character was split";
  for (std::size_t i = WORKING_TEXT_SIZE; i < sizeof out; ++i) EXPECT_EQ(out[i], '#') << "written past the buffer";

  FormatStatusText(out, WORKING_TEXT_SIZE, "C:\\Kv\\", "1.00");
  EXPECT_STREQ(out, "C:\\Kv\\\n\n\tVersion:1.00 -> 1.01");
}

}  // namespace
}  // namespace kv::test
