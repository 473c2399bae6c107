// Process entry of pagewick.exe. Until the service host exists, a start runs
// the main window's start-up sequence once, as every start of the program
// does, and ends.
#include "ui/MainForm.h"
#include "ui/ProcessState.h"

int main() {
  pw::ui::ProcessState process;
  pw::ui::TMainForm form(process, nullptr);
  process.MainForm = &form;
  form.FormCreate();
  return 0;
}
