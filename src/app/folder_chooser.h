#pragma once
#include <optional>
#include <string>

#include "app/dialogs.h"

namespace pellavo {

inline constexpr const char* kCreateFolderPrompt = "The specified directory does not exist. Create it?";

// The folder chooser SD that "Destination" and "Source folder" share. It opens at the starting
// folder, which only "Destination" sets, and offers to create a typed folder that does not
// exist: No goes back to the chooser, Yes creates the folder with its missing parents.
class TFolderChooser {
 public:
  explicit TFolderChooser(TDialogs& dialogs) : dialogs_(dialogs) {}

  void SetStartFolder(const std::string& folder) { start_folder_ = folder; }
  const std::string& StartFolder() const { return start_folder_; }

  // The chosen folder, or nothing when the user cancelled. A folder that could not be created
  // is still returned: the run's destination check reports it.
  std::optional<std::string> Choose();

 private:
  TDialogs& dialogs_;
  std::string start_folder_;
};

}  // namespace pellavo
