// The update run behind the dialog's Yes: write the embedded update program as
// "update.exe" into the installation directory, run it there and wait for it,
// delete it, verify the installed files and record the new version.
#pragma once

#include <cstdint>

#include "install/installation_check.h"
#include "platform/handles.h"

namespace kv {

inline constexpr char UPDATE_PROGRAM_NAME[] = "update.exe";
// CREATE_DEFAULT_ERROR_MODE | CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS
inline constexpr std::uint32_t UPDATE_CREATION_FLAGS =
    win::kCreateDefaultErrorMode | win::kCreateNewProcessGroup | win::kNormalPriorityClass;
// A file still in use is deleted again, a bounded number of times over about a second.
inline constexpr int DELETE_TRIES = 10;
inline constexpr std::uint32_t DELETE_PAUSE_MS = 100;

class UpdateRun : public InstallationCheck {
 public:
  using InstallationCheck::InstallationCheck;

  // The Yes handler: runs the whole version-up and ends the dialog on every path.
  void RunUpdate();

  // Decodes the payload, checks it against the build's size and SHA-256, and
  // writes it as the update program. True only when the file holds exactly
  // that program and `hold` keeps it open, so that no other program can write,
  // replace or delete it while it may still run (reading stays shared so that
  // it can be started). Otherwise nothing of it is left and nothing is started.
  bool ExtractUpdateProgram(ScopedFile& hold);

  // Starts the program at programPath with commandLine (its bare path) and
  // waits for it to end, without a time limit.
  void RunProgram(const char* programPath, char* commandLine);

 protected:
  // The framework's OnOK: ends the dialog with IDOK.
  virtual void AcceptDialog() = 0;

 private:
  // "%s%s" of the installation directory and UPDATE_PROGRAM_NAME; false when
  // the path does not fit in MAX_PATH bytes.
  bool ComposeUpdateProgramPath(char (&path)[win::kMaxPath]) const;
  // Writes the program and leaves it held open read-only in `hold`.
  bool WriteAndHold(const char* path, const std::uint8_t* program, std::uint32_t size, ScopedFile& hold);
  // True when the held file reads back as exactly the program.
  bool ReadsBackAs(ScopedFile& hold, const std::uint8_t* program, std::uint32_t size);
  void DeleteUpdateProgram(const char* path);
  void RecordTargetVersion();
};

}  // namespace kv
