#include <gtest/gtest.h>

#include <filesystem>

#include "app/folder_chooser.h"
#include "app/scripted_dialogs.h"
#include "core/files.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

TEST(FolderChooser, ExistingFolderCancelAndTheStartFolder) {
  test::TTempDir dir;
  test::TScriptedDialogs dialogs;
  TFolderChooser chooser(dialogs);

  dialogs.folder_answers = {dir.Path(), std::nullopt, std::string()};
  EXPECT_EQ(chooser.Choose(), dir.Path());
  EXPECT_EQ(chooser.Choose(), std::nullopt);
  EXPECT_EQ(chooser.Choose(), std::nullopt) << "an empty edit line chooses nothing";
  EXPECT_TRUE(dialogs.questions.empty());
  // Before any start folder is set the dialog opens at the current folder (its empty start).
  EXPECT_EQ(dialogs.folder_starts, (std::vector<std::string>{"", "", ""}));

  chooser.SetStartFolder(dir.Path());
  dialogs.folder_answers = {std::nullopt};
  chooser.Choose();
  EXPECT_EQ(dialogs.folder_starts.back(), dir.Path());
}

TEST(FolderChooser, ANewFolderIsCreatedWithItsParentsOnlyAfterYes) {
  test::TTempDir dir;
  test::TScriptedDialogs dialogs;
  TFolderChooser chooser(dialogs);
  const std::string typed = dir.File("a/b/c");

  // No goes back to the chooser, which opens with what was typed; then Yes creates it.
  dialogs.folder_answers = {typed, typed};
  dialogs.yes_no_answers = {false, true};
  EXPECT_EQ(chooser.Choose(), typed);
  EXPECT_EQ(dialogs.questions, (std::vector<std::string>(2, kCreateFolderPrompt)));
  EXPECT_EQ(dialogs.folder_starts, (std::vector<std::string>{"", typed}));
  EXPECT_TRUE(DirectoryExists(typed));

  // No, then cancel: nothing is created.
  const std::string other = dir.File("x/y");
  dialogs.folder_answers = {other, std::nullopt};
  dialogs.yes_no_answers = {false};
  EXPECT_EQ(chooser.Choose(), std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(dir.File("x")));
}

TEST(FolderChooser, AFolderThatCannotBeCreatedIsStillReturned) {
  test::TTempDir dir;
  test::WriteBytes(dir.File("file"), {1});
  test::TScriptedDialogs dialogs;
  TFolderChooser chooser(dialogs);
  const std::string impossible = dir.File("file/sub");  // below a file
  dialogs.folder_answers = {impossible};
  dialogs.yes_no_answers = {true};
  EXPECT_EQ(chooser.Choose(), impossible);
  EXPECT_FALSE(DirectoryExists(impossible));
}

}  // namespace
}  // namespace pellavo
