#include "app/folder_chooser.h"

#include <filesystem>
#include <system_error>

#include "core/files.h"

namespace pellavo {

std::optional<std::string> TFolderChooser::Choose() {
  std::string open_at = start_folder_;
  for (;;) {
    std::optional<std::string> picked = dialogs_.PickFolder(open_at);
    if (!picked || picked->empty()) return std::nullopt;
    if (DirectoryExists(*picked)) return picked;
    if (dialogs_.AskYesNo(kCreateFolderPrompt)) {
      std::error_code ignored;
      std::filesystem::create_directories(*picked, ignored);
      return picked;
    }
    open_at = *picked;  // back to the chooser, with what was typed still in its edit line
  }
}

}  // namespace pellavo
