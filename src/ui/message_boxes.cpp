#include "ui/message_boxes.h"

#include "platform/afx/app.h"
#include "platform/stall_watch.h"
#include "ui/console_window.h"
#include "ui/string_table.h"

// The time a box waits for a person is no stall.
void ShowCompletionBox() {
  const stall_watch::Pause waiting;
  HWND owner = FindConsoleWindow();
  MessageBoxA(owner, LoadStringText(kCompletionText).c_str(),
              LoadStringText(kCompletionCaption).c_str(),
              MB_OK | MB_ICONINFORMATION | MB_TOPMOST);
}

void ShowRefusalBox() {
  const stall_watch::Pause waiting;
  afx::AppMessageBox(LoadStringText(kRefusalText).c_str(), MB_OK, 0);
}

bool AskOverwrite(const std::string& destinationPath) {
  // The path replaces "%s" as it is: it is never read as a format.
  std::string prompt = LoadStringText(kOverwritePrompt);
  size_t placeholder = prompt.find("%s");
  if (placeholder != std::string::npos) prompt.replace(placeholder, 2, destinationPath);
  const stall_watch::Pause waiting;
  return MessageBoxA(nullptr, prompt.c_str(), "", MB_YESNO | MB_ICONQUESTION) == IDYES;
}
