#include "update/update_run.h"

#include <cstdio>
#include <cstring>

#include "platform/handles.h"
#include "res/resource.h"
#include "res/texts.h"
#include "update/lzss.h"

namespace kv {

bool UpdateRun::ComposeUpdateProgramPath(char (&path)[win::kMaxPath]) const {
  int length = std::snprintf(path, sizeof path, "%s%s", m_szInstallDir, UPDATE_PROGRAM_NAME);
  return length >= 0 && static_cast<std::size_t>(length) < sizeof path;
}

bool UpdateRun::ExtractUpdateProgram() {
  ResourceBytes resource;
  if (!platform_.ResourceLock(KV_PAYLOAD_TYPE, KV_PAYLOAD_NAME, &resource)) return false;

  ScopedGlobalMemory memory(platform_);
  auto* area = static_cast<std::uint8_t*>(
      memory.AllocateAndLock(win::kGmemMoveable | win::kGmemZeroInit, PAYLOAD_BUFFER_SIZE));
  if (area == nullptr) return false;

  // A container that breaks a bound is unusable: nothing of it is written.
  std::uint32_t count = 0;
  if (DecodePayload(resource.data, resource.size, area, PAYLOAD_BUFFER_SIZE, &count) !=
      PayloadStatus::kOk) {
    return false;
  }

  char path[win::kMaxPath];
  if (!ComposeUpdateProgramPath(path)) return false;

  ScopedFile file(platform_);
  if (!file.Create(path, win::kGenericWrite, win::kShareNone, win::kCreateAlways)) return false;
  std::uint32_t written = 0;
  bool whole = platform_.FileWrite(file.get(), area, count, &written) && written == count;
  file.Close();
  if (!whole) {
    // A partly written program must never be started.
    platform_.FileDelete(path);
    return false;
  }
  return true;
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
  bool written = ExtractUpdateProgram();
  platform_.SetCurrentDir(m_szInstallDir);

  char path[win::kMaxPath];
  if (ComposeUpdateProgramPath(path)) {
    if (written) {
      char commandLine[win::kMaxPath];
      std::memcpy(commandLine, path, sizeof commandLine);
      RunProgram(path, commandLine);
    }
    platform_.FileDelete(path);
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
