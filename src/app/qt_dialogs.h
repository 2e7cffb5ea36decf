#pragma once
#include <QPointer>
#include <QWidget>

#include "app/dialogs.h"

namespace pellavo {

// The real dialogs, modal to the window they are given.
class TQtDialogs final : public TDialogs {
 public:
  void SetParent(QWidget* parent) { parent_ = parent; }

  void Message(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  bool AskToProceed(const std::string& text, const std::string& proceed) override;
  std::optional<std::vector<std::string>> OpenFiles(const std::string& filter) override;
  std::optional<std::string> PickFolder(const std::string& start_folder) override;
  std::optional<TColor> PickColor(TColor initial, TCustomColors& custom) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace pellavo
