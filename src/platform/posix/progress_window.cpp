#include "platform/progress_window.h"

std::unique_ptr<ProgressWindow> ProgressWindow::Start(const ProgressTexts&) { return nullptr; }
