// The update run behind the dialog's Yes: write the embedded update program as
// "update.exe" into the installation directory, run it there and wait for it,
// delete it, verify the installed files and record the new version.
#pragma once

#include <cstdint>

#include "install/installation_check.h"

namespace kv {

inline constexpr char UPDATE_PROGRAM_NAME[] = "update.exe";
// CREATE_DEFAULT_ERROR_MODE | CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS
inline constexpr std::uint32_t UPDATE_CREATION_FLAGS =
    win::kCreateDefaultErrorMode | win::kCreateNewProcessGroup | win::kNormalPriorityClass;

class UpdateRun : public InstallationCheck {
 public:
  using InstallationCheck::InstallationCheck;

  // The Yes handler: runs the whole version-up and ends the dialog on every path.
  void RunUpdate();

  // Decodes the payload and writes it whole as the update program. True only
  // when the file now holds exactly the decoded program; otherwise nothing of
  // it is left behind and nothing is to be started.
  bool ExtractUpdateProgram();

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
  void RecordTargetVersion();
};

}  // namespace kv
