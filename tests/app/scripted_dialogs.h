#pragma once
#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/desktop_actions.h"
#include "app/dialogs.h"

namespace pellavo::test {

// Answers each dialog with the next answer a test queued, and records what was asked. A dialog
// that opens without a queued answer fails the test and is cancelled.
class TScriptedDialogs final : public TDialogs {
 public:
  std::vector<std::string> messages;
  std::vector<std::string> questions;
  std::vector<std::string> open_filters;
  std::vector<std::string> folder_starts;
  // What each colour dialog was opened with: its colour and the custom colours it offered.
  std::vector<std::pair<TColor, TCustomColors>> color_requests;

  std::deque<bool> yes_no_answers;
  // For AskToProceed, which records its text in questions too.
  std::deque<bool> proceed_answers;
  std::vector<std::string> proceed_captions;
  std::deque<std::optional<std::vector<std::string>>> open_answers;
  std::deque<std::optional<std::string>> folder_answers;
  // OK with a colour and the custom colours the user left in the dialog, or Cancel.
  std::deque<std::optional<std::pair<TColor, TCustomColors>>> color_answers;

  void Message(const std::string& text) override { messages.push_back(text); }

  bool AskYesNo(const std::string& text) override {
    questions.push_back(text);
    if (yes_no_answers.empty()) {
      ADD_FAILURE() << "unexpected question: " << text;
      return false;
    }
    const bool answer = yes_no_answers.front();
    yes_no_answers.pop_front();
    return answer;
  }

  bool AskToProceed(const std::string& text, const std::string& proceed) override {
    questions.push_back(text);
    proceed_captions.push_back(proceed);
    if (proceed_answers.empty()) {
      ADD_FAILURE() << "unexpected warning: " << text;
      return false;
    }
    const bool answer = proceed_answers.front();
    proceed_answers.pop_front();
    return answer;
  }

  std::optional<std::vector<std::string>> OpenFiles(const std::string& filter) override {
    open_filters.push_back(filter);
    return Next(open_answers, "open-file dialog");
  }

  std::optional<std::string> PickFolder(const std::string& start_folder) override {
    folder_starts.push_back(start_folder);
    return Next(folder_answers, "folder chooser");
  }

  std::optional<TColor> PickColor(TColor initial, TCustomColors& custom) override {
    color_requests.emplace_back(initial, custom);
    const auto answer = Next(color_answers, "colour dialog");
    if (!answer) return std::nullopt;
    custom = answer->second;
    return answer->first;
  }

 private:
  template <class T>
  static std::optional<T> Next(std::deque<std::optional<T>>& answers, const char* what) {
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected " << what;
      return std::nullopt;
    }
    std::optional<T> answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

// Records what the window asked the desktop to open.
class TRecordingDesktop final : public TDesktopActions {
 public:
  std::vector<std::string> folders;
  std::vector<std::string> urls;
  std::vector<std::string> files;
  void OpenFolder(const std::string& folder) override { folders.push_back(folder); }
  void OpenUrl(const std::string& url) override { urls.push_back(url); }
  void OpenFile(const std::string& path) override { files.push_back(path); }
};

}  // namespace pellavo::test
