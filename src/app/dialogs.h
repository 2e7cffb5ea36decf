#pragma once
#include <optional>
#include <string>
#include <vector>

namespace pellavo {

// Every modal dialog the window opens goes through here, so that tests can answer them
// without a dialog ever appearing.
class TDialogs {
 public:
  virtual ~TDialogs() = default;

  // A message box with an OK button: the run's destination messages and the error report.
  virtual void Message(const std::string& text) = 0;
  // A question with Yes and No; true for Yes.
  virtual bool AskYesNo(const std::string& text) = 0;
  // The open-file dialog with multi-selection; the picked paths in the dialog's order, or
  // nothing on cancel. filter is in Qt's syntax.
  virtual std::optional<std::vector<std::string>> OpenFiles(const std::string& filter) = 0;
  // The folder chooser's dialog, opened at start_folder (the current folder when that is empty
  // or cannot be opened); the folder shown in its edit line, which need not exist, or nothing
  // on cancel.
  virtual std::optional<std::string> PickFolder(const std::string& start_folder) = 0;
};

}  // namespace pellavo
