#pragma once
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/color.h"

namespace pellavo {

// The 16 custom colours the colour dialog offers.
using TCustomColors = std::array<TColor, 16>;

// Every modal dialog the window opens goes through here, so that tests can answer them
// without a dialog ever appearing.
class TDialogs {
 public:
  virtual ~TDialogs() = default;

  // A message box with an OK button: the run's destination messages and the error report.
  virtual void Message(const std::string& text) = 0;
  // A question with Yes and No; true for Yes.
  virtual bool AskYesNo(const std::string& text) = 0;
  // A warning before something that cannot be undone, with a button named proceed and Cancel,
  // which is the default; true for proceed.
  virtual bool AskToProceed(const std::string& text, const std::string& proceed) = 0;
  // The open-file dialog with multi-selection; the picked paths in the dialog's order, or
  // nothing on cancel. filter is in Qt's syntax.
  virtual std::optional<std::vector<std::string>> OpenFiles(const std::string& filter) = 0;
  // The folder chooser's dialog, opened at start_folder (the current folder when that is empty
  // or cannot be opened); the folder shown in its edit line, which need not exist, or nothing
  // on cancel.
  virtual std::optional<std::string> PickFolder(const std::string& start_folder) = 0;
  // The colour dialog with its custom-colour area open, at colour initial and offering custom.
  // OK gives the chosen colour and stores the dialog's custom colours into custom; Cancel gives
  // nothing and leaves custom as it was.
  virtual std::optional<TColor> PickColor(TColor initial, TCustomColors& custom) = 0;
};

}  // namespace pellavo
