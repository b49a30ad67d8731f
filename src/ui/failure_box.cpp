#include "ui/failure_box.h"

#include "platform/stall_watch.h"
#include "ui/console_window.h"
#include "ui/progress_line.h"

namespace {

// The system's text of error in the user's language, on one line.
std::string SystemMessage(DWORD error) {
  char text[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, error, 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ')) {
    message.pop_back();
  }
  return message;
}

// Other programs' names come as UTF-8; the box shows the code page's text,
// with the default character for what it cannot hold.
std::string Utf8ToBoxText(const std::string& utf8) {
  if (utf8.empty()) return utf8;
  const int length = static_cast<int>(utf8.size());
  std::basic_string<WCHAR> wide(utf8.size(), 0);
  wide.resize(static_cast<size_t>(
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, &wide[0], length)));
  if (wide.empty()) return std::string();
  std::string text(wide.size() * 4, '\0');
  text.resize(static_cast<size_t>(WideCharToMultiByte(
      StringConversionCodePage(), 0, wide.data(), static_cast<int>(wide.size()), &text[0],
      static_cast<int>(text.size()), nullptr, nullptr)));
  return text;
}

int ShowBox(const RunFailure& failure, bool retry) {
  const std::string text = FailureText(failure, retry);
  const UINT buttons = retry ? MB_RETRYCANCEL : MB_OK;
  const stall_watch::Pause waiting;
  return MessageBoxA(FindConsoleWindow(), text.c_str(), LoadStringText(kCompletionCaption).c_str(),
                     buttons | MB_ICONWARNING | MB_TOPMOST);
}

}  // namespace

bool WindowStationIsVisible() {
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  const HWINSTA station = GetProcessWindowStation();
  if (!station ||
      !GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed)) {
    return false;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

std::string FailureText(const RunFailure& failure, bool retry) {
  std::string text =
      failure.what == kNoSpace
          ? FillInText(LoadStringText(kNoSpace), {failure.subject, ProgressSize(failure.spaceNeeded),
                                                  ProgressSize(failure.spaceFree)})
          : FillInText(LoadStringText(failure.what), {failure.subject});
  std::string why;
  if (failure.error != ERROR_SUCCESS) why = SystemMessage(failure.error);
  if (!failure.holders.empty()) {
    if (!why.empty()) why += '\n';
    why += FillInText(LoadStringText(kHeldBy), {Utf8ToBoxText(failure.holders)});
  }
  if (!why.empty()) text += "\n\n" + why;
  text += "\n\n" + FillInText(LoadStringText(retry ? kRetryHeldFile : kStoppedWithCode),
                              {std::to_string(failure.exitCode)});
  return text;
}

void ShowFailureBox(const RunFailure& failure) { ShowBox(failure, false); }

bool AskRetry(const RunFailure& failure) { return ShowBox(failure, true) == IDRETRY; }
