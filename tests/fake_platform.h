// A recording fake of the platform: an in-memory registry, files with
// last-write times and share modes, a scripted update program, and a log of
// every call in order. It also tracks what is open, so a test can see that
// every handle was closed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "update/update_run.h"

namespace kv::test {

inline std::uint64_t Ticks(const FileTime& t) { return (std::uint64_t{t.high} << 32) | t.low; }
inline FileTime FromTicks(std::uint64_t ticks) {
  return FileTime{static_cast<std::uint32_t>(ticks), static_cast<std::uint32_t>(ticks >> 32)};
}
inline const std::uint64_t kThresholdTicks = Ticks(FRESHNESS_THRESHOLD);
inline const FileTime kStale = FromTicks(kThresholdTicks - 10'000'000ull * 86400);  // a day before
inline const FileTime kFresh = FromTicks(kThresholdTicks + 10'000'000ull * 86400);  // a day after

struct FakeFile {
  FileTime lastWrite = kStale;
  std::vector<std::uint8_t> content;
  bool readOnly = false;
  // Another program holds the file open with this access and sharing.
  bool heldByOther = false;
  std::uint32_t otherAccess = 0;
  std::uint32_t otherShare = 0;
};

struct FakeValue {
  std::uint32_t type = win::kRegSz;
  std::vector<std::uint8_t> data;
};

inline FakeValue StringValue(const std::string& text) {
  FakeValue v;
  v.data.assign(text.begin(), text.end());
  v.data.push_back(0);
  return v;
}

struct RecordedBox {
  std::string text;
  std::string caption;
  std::uint32_t style;
  bool owned;  // owned by the dialog, or a box with no owner
};

class FakePlatform : public Platform {
 public:
  // ---- the world ----
  std::map<std::string, std::map<std::string, FakeValue>> registry;
  std::set<std::string> keysDenied;          // keys that refuse to open
  std::map<std::string, FakeFile> files;
  std::vector<std::uint8_t> payload;          // the program's "LZT"/"UPEXE" resource
  std::vector<std::uint8_t> payloadDigest;    // and its "LZT"/"UPSUM" record
  bool payloadMissing = false;
  bool digestMissing = false;
  // Runs at each pause between tries (a scanner letting go of a file, say).
  std::function<void(FakePlatform&)> onPause;
  // Runs between the writer's close and the holder's open of update.exe: another program's chance.
  std::function<void(FakePlatform&, const std::string& path)> onHandOver;
  bool allocFails = false;
  bool writeFails = false;
  std::uint32_t writeLimit = UINT32_MAX;      // a write stores at most this many bytes
  bool processCreateFails = false;
  std::uint32_t waitResult = win::kWaitObject0;
  bool exitCodeFails = false;
  // The update program: runs when started, with the fake as its world.
  std::function<std::uint32_t(FakePlatform&)> updateProgram;

  // ---- what happened ----
  std::vector<std::string> log;
  std::vector<RecordedBox> boxes;
  std::string currentDir;
  std::string startedApplication;
  std::string startedCommandLine;
  std::uint32_t startedFlags = 0;
  StartupOptions startedWith;
  std::map<std::string, std::vector<std::uint8_t>> writtenWhenStarted;  // update.exe as it was run

  // What is open now; empty after a well-behaved run.
  std::size_t OpenCount() const { return openFiles_.size() + openKeys_.size() + openOther_.size(); }
  std::vector<std::string> Opened(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& line : log)
      if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
  }

  // ---- Platform ----
  long RegistryOpen(const char* subkey, std::uint32_t access, RegKey* key) override {
    log.push_back("RegistryOpen " + std::string(subkey) + " " + Hex(access));
    if (keysDenied.count(subkey) != 0) return win::kErrorAccessDenied;
    if (registry.count(subkey) == 0) return win::kErrorFileNotFound;
    auto token = ++nextToken_;
    openKeys_[token] = subkey;
    *key = static_cast<RegKey>(token);
    return win::kErrorSuccess;
  }
  long RegistryQuery(RegKey key, const char* valueName, std::uint32_t* type, std::uint8_t* data,
                     std::uint32_t* byteCount) override {
    const std::string& subkey = openKeys_.at(static_cast<std::uintptr_t>(key));
    log.push_back("RegistryQuery " + subkey + " [" + valueName + "] " + std::to_string(*byteCount));
    auto& values = registry[subkey];
    auto it = values.find(valueName);
    if (it == values.end()) return win::kErrorFileNotFound;
    *type = it->second.type;
    const auto& stored = it->second.data;
    if (stored.size() > *byteCount) {
      // The buffer's contents are undefined after a read that does not fit.
      std::memset(data, 'X', *byteCount);
      *byteCount = static_cast<std::uint32_t>(stored.size());
      return win::kErrorMoreData;
    }
    if (!stored.empty()) std::memcpy(data, stored.data(), stored.size());
    *byteCount = static_cast<std::uint32_t>(stored.size());
    return win::kErrorSuccess;
  }
  long RegistrySet(RegKey key, const char* valueName, std::uint32_t type, const std::uint8_t* data,
                   std::uint32_t byteCount) override {
    const std::string& subkey = openKeys_.at(static_cast<std::uintptr_t>(key));
    log.push_back("RegistrySet " + subkey + " [" + valueName + "] " + std::to_string(byteCount));
    FakeValue v;
    v.type = type;
    v.data.assign(data, data + byteCount);
    registry[subkey][valueName] = v;
    return win::kErrorSuccess;
  }
  void RegistryClose(RegKey key) override {
    log.push_back("RegistryClose");
    openKeys_.erase(static_cast<std::uintptr_t>(key));
  }

  bool FileCreate(const char* path, std::uint32_t access, std::uint32_t shareMode,
                  std::uint32_t disposition, std::uint32_t attributes, File* file) override {
    log.push_back("FileCreate " + std::string(path) + " " + Hex(access) + " share=" +
                  std::to_string(shareMode) + " disp=" + std::to_string(disposition) + " attr=" +
                  Hex(attributes));
    auto it = files.find(path);
    if (disposition == win::kOpenExisting && it == files.end()) return false;
    if (it != files.end()) {
      if (Conflicts(it->second, path, access, shareMode)) return false;
      if ((access & win::kGenericWrite) != 0 && it->second.readOnly) return false;
    }
    if (disposition == win::kCreateAlways) {
      FakeFile& f = files[path];
      f.content.clear();
      f.lastWrite = kFresh;
    }
    auto token = ++nextToken_;
    openFiles_[token] = OpenFile{path, access, shareMode, 0};
    *file = static_cast<File>(token);
    return true;
  }
  bool FileRead(File file, void* buffer, std::uint32_t size, std::uint32_t* read) override {
    OpenFile& open = openFiles_.at(static_cast<std::uintptr_t>(file));
    log.push_back("FileRead " + open.path);
    const auto& content = files.at(open.path).content;
    std::size_t n = open.offset < content.size() ? std::min<std::size_t>(size, content.size() - open.offset) : 0;
    std::memcpy(buffer, content.data() + open.offset, n);
    open.offset += n;
    *read = static_cast<std::uint32_t>(n);
    return true;
  }
  bool FileLastWriteTime(File file, FileTime* lastWrite) override {
    const OpenFile& open = openFiles_.at(static_cast<std::uintptr_t>(file));
    log.push_back("FileLastWriteTime " + open.path);
    *lastWrite = files.at(open.path).lastWrite;
    return true;
  }
  bool FileWrite(File file, const void* data, std::uint32_t size, std::uint32_t* written) override {
    const OpenFile& open = openFiles_.at(static_cast<std::uintptr_t>(file));
    log.push_back("FileWrite " + open.path + " " + std::to_string(size));
    *written = 0;
    if (writeFails) return false;
    std::uint32_t n = size < writeLimit ? size : writeLimit;
    auto* bytes = static_cast<const std::uint8_t*>(data);
    files[open.path].content.assign(bytes, bytes + n);
    *written = n;
    return true;
  }
  void FileClose(File file) override {
    auto it = openFiles_.find(static_cast<std::uintptr_t>(file));
    log.push_back("FileClose " + it->second.path);
    std::string path = it->second.path;
    bool writer = (it->second.access & win::kGenericWrite) != 0;
    openFiles_.erase(it);
    if (writer && onHandOver) onHandOver(*this, path);
  }
  bool FileDelete(const char* path) override {
    log.push_back("FileDelete " + std::string(path));
    auto it = files.find(path);
    if (it == files.end() || it->second.readOnly || it->second.heldByOther || IsOpen(path)) return false;
    files.erase(it);
    return true;
  }
  bool SetCurrentDir(const char* path) override {
    log.push_back("SetCurrentDir " + std::string(path));
    currentDir = path;
    return true;
  }

  bool ResourceLock(const char* type, const char* name, ResourceBytes* bytes) override {
    log.push_back("ResourceLock " + std::string(type) + " " + name);
    bool digest = std::string(name) == "UPSUM";
    if (digest ? digestMissing : payloadMissing) return false;
    const auto& bytesOf = digest ? payloadDigest : payload;
    bytes->data = bytesOf.data();
    bytes->size = static_cast<std::uint32_t>(bytesOf.size());
    return true;
  }

  bool MemoryAlloc(std::uint32_t flags, std::uint32_t size, Memory* memory) override {
    log.push_back("MemoryAlloc " + Hex(flags) + " " + std::to_string(size));
    if (allocFails) return false;
    auto token = ++nextToken_;
    // Filled with a pattern unless zero-filling was asked for.
    memory_[token].assign(size, (flags & win::kGmemZeroInit) != 0 ? 0 : 0xCD);
    openOther_.insert(token);
    *memory = static_cast<Memory>(token);
    return true;
  }
  void* MemoryLock(Memory memory) override {
    log.push_back("MemoryLock");
    locked_.insert(static_cast<std::uintptr_t>(memory));
    return memory_.at(static_cast<std::uintptr_t>(memory)).data();
  }
  void MemoryUnlock(Memory memory) override {
    log.push_back("MemoryUnlock");
    locked_.erase(static_cast<std::uintptr_t>(memory));
  }
  void MemoryFree(Memory memory) override {
    log.push_back("MemoryFree");
    if (locked_.count(static_cast<std::uintptr_t>(memory)) != 0) log.push_back("!FreedWhileLocked");
    memory_.erase(static_cast<std::uintptr_t>(memory));
    openOther_.erase(static_cast<std::uintptr_t>(memory));
  }

  bool ProcessCreate(const char* applicationName, char* commandLine, std::uint32_t creationFlags,
                     const StartupOptions& startup, StartedProcess* started) override {
    log.push_back("ProcessCreate " + std::string(applicationName ? applicationName : "(null)") +
                  " | " + commandLine + " " + Hex(creationFlags));
    startedApplication = applicationName ? applicationName : "";
    startedCommandLine = commandLine;
    startedFlags = creationFlags;
    startedWith = startup;
    auto program = files.find(startedApplication);
    if (processCreateFails || program == files.end()) return false;
    // The system opens the program for reading and executing, sharing reading and deleting.
    if (Conflicts(program->second, startedApplication, win::kGenericRead, win::kShareRead | win::kShareDelete)) {
      log.push_back("!ProgramInUse");
      return false;
    }
    writtenWhenStarted[startedApplication] = program->second.content;
    auto process = ++nextToken_;
    auto thread = ++nextToken_;
    openOther_.insert(process);
    openOther_.insert(thread);
    started->process = static_cast<Process>(process);
    started->thread = static_cast<Thread>(thread);
    exitCode_ = updateProgram ? updateProgram(*this) : 0;
    return true;
  }
  std::uint32_t ProcessWait(Process, std::uint32_t milliseconds) override {
    log.push_back("ProcessWait " + Hex(milliseconds));
    return waitResult;
  }
  bool ProcessExitCode(Process, std::uint32_t* exitCode) override {
    log.push_back("ProcessExitCode");
    if (exitCodeFails) return false;
    *exitCode = exitCode_;
    return true;
  }
  void ProcessClose(Process process) override {
    log.push_back("ProcessClose");
    openOther_.erase(static_cast<std::uintptr_t>(process));
  }
  void ThreadClose(Thread thread) override {
    log.push_back("ThreadClose");
    openOther_.erase(static_cast<std::uintptr_t>(thread));
  }

  void Pause(std::uint32_t milliseconds) override {
    log.push_back("Pause " + std::to_string(milliseconds));
    if (onPause) onPause(*this);
  }

  int MessageBoxUnowned(const char* text, const char* caption, std::uint32_t style) override {
    log.push_back("MessageBoxUnowned " + std::string(text));
    boxes.push_back({text, caption, style, false});
    return 1;
  }

  static std::string Hex(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
  }

 private:
  struct OpenFile {
    std::string path;
    std::uint32_t access;
    std::uint32_t share;
    std::size_t offset = 0;
  };

  bool IsOpen(const std::string& path) const {
    for (const auto& [token, open] : openFiles_)
      if (open.path == path) return true;
    return false;
  }

  // Two opens of one file conflict when either's access is not shared by the other.
  static bool Clash(std::uint32_t access, std::uint32_t otherShare) {
    return ((access & win::kGenericRead) != 0 && (otherShare & win::kShareRead) == 0) ||
           ((access & win::kGenericWrite) != 0 && (otherShare & win::kShareWrite) == 0);
  }
  bool Conflicts(const FakeFile& f, const std::string& path, std::uint32_t access,
                 std::uint32_t share) const {
    if (f.heldByOther && (Clash(access, f.otherShare) || Clash(f.otherAccess, share))) return true;
    for (const auto& [token, open] : openFiles_)
      if (open.path == path && (Clash(access, open.share) || Clash(open.access, share))) return true;
    return false;
  }

  std::uintptr_t nextToken_ = 0x100;
  std::map<std::uintptr_t, OpenFile> openFiles_;
  std::map<std::uintptr_t, std::string> openKeys_;
  std::set<std::uintptr_t> openOther_;
  std::map<std::uintptr_t, std::vector<std::uint8_t>> memory_;
  std::set<std::uintptr_t> locked_;
  std::uint32_t exitCode_ = 0;
};

// The logic as the dialog hosts it, with the dialog's side recorded.
class TestLauncher : public UpdateRun {
 public:
  explicit TestLauncher(FakePlatform& platform) : UpdateRun(platform), fake(platform) {}

  FakePlatform& fake;
  std::string installInfo;
  bool installInfoSet = false;
  int cancelled = 0;
  int accepted = 0;

 protected:
  int ShowMessage(const char* text, const char* caption, std::uint32_t style) override {
    fake.log.push_back("ShowMessage " + std::string(text));
    fake.boxes.push_back({text, caption, style, true});
    return 1;
  }
  void ShowInstallInfo(const char* text) override {
    fake.log.push_back("ShowInstallInfo");
    installInfo = text;
    installInfoSet = true;
  }
  void CancelDialog() override {
    fake.log.push_back("CancelDialog");
    ++cancelled;
  }
  void AcceptDialog() override {
    fake.log.push_back("AcceptDialog");
    ++accepted;
  }
};

}  // namespace kv::test
