#include "update/update_run.h"

#include <cstdio>
#include <cstring>

#include "res/resource.h"
#include "res/texts.h"
#include "update/lzss.h"
#include "update/payload_digest.h"

namespace kv {

bool UpdateRun::ComposeUpdateProgramPath(char (&path)[win::kMaxPath]) const {
  int length = std::snprintf(path, sizeof path, "%s%s", m_szInstallDir, UPDATE_PROGRAM_NAME);
  return length >= 0 && static_cast<std::size_t>(length) < sizeof path;
}

bool UpdateRun::ExtractUpdateProgram(ScopedFile& hold) {
  ResourceBytes resource;
  if (!platform_.ResourceLock(KV_PAYLOAD_TYPE, KV_PAYLOAD_NAME, &resource)) return false;
  ResourceBytes record;
  PayloadDigest digest;
  if (!platform_.ResourceLock(KV_PAYLOAD_TYPE, KV_PAYLOAD_DIGEST_NAME, &record) ||
      !ReadPayloadDigest(record.data, record.size, &digest)) {
    return false;
  }

  ScopedGlobalMemory memory(platform_);
  auto* area = static_cast<std::uint8_t*>(
      memory.AllocateAndLock(win::kGmemMoveable | win::kGmemZeroInit, PAYLOAD_BUFFER_SIZE));
  if (area == nullptr) return false;

  // A container that breaks a bound, or decodes to anything but the program
  // the build embedded, is unusable: nothing of it is written.
  std::uint32_t count = 0;
  if (DecodePayload(resource.data, resource.size, area, PAYLOAD_BUFFER_SIZE, &count) != PayloadStatus::kOk ||
      !MatchesPayloadDigest(digest, area, count)) {
    return false;
  }

  char path[win::kMaxPath];
  if (!ComposeUpdateProgramPath(path)) return false;
  return WriteAndHold(path, area, count, hold);
}

bool UpdateRun::WriteAndHold(const char* path, const std::uint8_t* program, std::uint32_t size,
                             ScopedFile& hold) {
  ScopedFile writer(platform_);
  if (!writer.Create(path, win::kGenericWrite, win::kShareRead, win::kCreateAlways)) return false;
  std::uint32_t written = 0;
  bool whole = platform_.FileWrite(writer.get(), program, size, &written) && written == size;

  // The system starts a program only while nobody holds it open for writing,
  // so the writer hands over to a read-only holder that shares reading alone.
  // A bridge keeps the file open while the writer closes; the holder then
  // fails if anybody else got the file open for writing in between.
  ScopedFile bridge(platform_);
  bool held = whole && bridge.Create(path, win::kGenericRead, win::kShareRead | win::kShareWrite,
                                     win::kOpenExisting);
  writer.Close();
  held = held && hold.Create(path, win::kGenericRead, win::kShareRead, win::kOpenExisting);
  bridge.Close();
  if (held && ReadsBackAs(hold, program, size)) return true;

  // A partly written or tampered program must never be started.
  hold.Close();
  platform_.FileDelete(path);
  return false;
}

bool UpdateRun::ReadsBackAs(ScopedFile& hold, const std::uint8_t* program, std::uint32_t size) {
  std::uint8_t chunk[4096];
  std::uint32_t offset = 0;
  for (;;) {
    std::uint32_t read = 0;
    if (!platform_.FileRead(hold.get(), chunk, sizeof chunk, &read)) return false;
    if (read == 0) return offset == size;
    if (read > size - offset || std::memcmp(chunk, program + offset, read) != 0) return false;
    offset += read;
  }
}

void UpdateRun::DeleteUpdateProgram(const char* path) {
  // A virus scanner or the ending process may still have the file briefly.
  for (int attempt = 1; !platform_.FileDelete(path) && attempt < DELETE_TRIES; ++attempt) {
    platform_.Pause(DELETE_PAUSE_MS);
  }
}

void UpdateRun::RunProgram(const char* programPath, char* commandLine) {
  StartupOptions startup;
  startup.flags = win::kStartfUseShowWindow;
  startup.showWindow = win::kSwShowDefault;
  StartedProcess started;
  // The program's path is also passed as the application name, so that an
  // unquoted path with spaces cannot start another program at a split point.
  if (!platform_.ProcessCreate(programPath, commandLine, UPDATE_CREATION_FLAGS, startup, &started)) {
    return;
  }
  ScopedProcess process(platform_);
  process.Adopt(started.process);
  platform_.ThreadClose(started.thread);

  if (platform_.ProcessWait(process.get(), win::kInfinite) == win::kWaitFailed) {
    platform_.MessageBoxUnowned(text::kWaitFailedText, text::kWaitFailedCaption, win::kMbIconError);
  }
  // The exit code means nothing to the run: only the installed files count.
  std::uint32_t exitCode = 0;
  platform_.ProcessExitCode(process.get(), &exitCode);
}

void UpdateRun::RecordTargetVersion() {
  ScopedRegKey key(platform_);
  if (key.Open(VERSION_KEY, win::kKeySetValue) != win::kErrorSuccess) return;
  platform_.RegistrySet(key.get(), VERSION_VALUE, win::kRegSz,
                        reinterpret_cast<const std::uint8_t*>(TARGET_VERSION),
                        static_cast<std::uint32_t>(std::strlen(TARGET_VERSION) + 1));
}

void UpdateRun::RunUpdate() {
  ScopedFile hold(platform_);
  bool written = ExtractUpdateProgram(hold);
  platform_.SetCurrentDir(m_szInstallDir);

  char path[win::kMaxPath];
  if (ComposeUpdateProgramPath(path)) {
    if (written) {
      char commandLine[win::kMaxPath];
      std::memcpy(commandLine, path, sizeof commandLine);
      RunProgram(path, commandLine);
    }
    hold.Close();
    DeleteUpdateProgram(path);
  }

  if (ProbeInstalledFiles(&InstallationCheck::ProbeFileFresh)) {
    ShowMessage(text::kUpdateCompleted, text::kUpdateCaption, win::kMbOk | win::kMbIconInformation);
    RecordTargetVersion();
    AcceptDialog();
  } else {
    ShowMessage(text::kUpdateFailed, text::kUpdateCaption, win::kMbOk | win::kMbIconExclamation);
    CancelDialog();
  }
}

}  // namespace kv
