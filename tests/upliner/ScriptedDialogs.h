// Dialogs with scripted answers that record what the window showed, and a
// fixture that creates the window the way the program does.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/Utf.h"
#include "tests/FileContents.h"
#include "tests/ScratchDir.h"
#include "upliner/Dialogs.h"
#include "upliner/ReinstallForm.h"

namespace zo::testing {

class ScriptedDialogs : public IFormDialogs {
 public:
  std::vector<String> Messages;  // message boxes, in order
  std::vector<String> Errors;    // standard error boxes, in order
  std::vector<String> Questions;
  std::deque<bool> Answers;      // Yes/No answers, consumed in order (No when empty)
  std::deque<std::optional<String>> SaveNames;
  std::deque<std::optional<String>> Directories;
  std::vector<String> SaveRequests;       // "ext|filter" of each save dialog
  std::vector<String> DirectoryRequests;  // initial directory of each picker

  void ShowMessage(const String& Text) override { Messages.push_back(Text); }
  void ShowError(const String& Text) override { Errors.push_back(Text); }
  bool AskYesNo(const String& Text, const String&, TMessageIcon) override {
    Questions.push_back(Text);
    if (Answers.empty()) return false;
    const bool answer = Answers.front();
    Answers.pop_front();
    return answer;
  }
  std::optional<String> AskSaveFileName(const String& DefaultExt, const String& Filter) override {
    SaveRequests.push_back(DefaultExt + u"|" + Filter);
    return Next(SaveNames);
  }
  std::optional<String> ChooseDirectory(const String& InitialDir) override {
    DirectoryRequests.push_back(InitialDir);
    return Next(Directories);
  }

 private:
  static std::optional<String> Next(std::deque<std::optional<String>>& queue) {
    if (queue.empty()) return std::nullopt;
    std::optional<String> value = queue.front();
    queue.pop_front();
    return value;
  }
};

// A private directory standing in for the program's own, removed afterwards.
class AppDirFixture : public ::testing::Test {
 protected:
  String AppDir() const { return FScratch.UDir(); }
  std::filesystem::path Path(const std::string& name) const { return FScratch.Path(name); }

  void WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  std::string ReadFile(const std::filesystem::path& path) const { return test::ReadAll(path); }
  void WriteVersions(const std::string& bytes) const { WriteFile("Versions.sl", bytes); }

  // A window created from Args and activated, as the program shows it.
  std::unique_ptr<TReinstallForm> Open(std::vector<String> args = {}) {
    auto form = std::make_unique<TReinstallForm>(dialogs, AppDir());
    form->FormCreate(args);
    if (!form->Terminated()) form->FormActivate();
    return form;
  }

  ScriptedDialogs dialogs;

 private:
  test::ScratchDir FScratch{"upliner"};
};

}  // namespace zo::testing
