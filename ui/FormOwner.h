#pragma once
// The owner of main windows: it outlives them and destroys them when they ask.
#include <string>

namespace pw::ui {

class TMainForm;

class FormOwner {
 public:
  virtual ~FormOwner() = default;
  // The window object asks to go (Exit). The owner destroys it later, from
  // the top of its thread's loop: never inside one of the window's handlers,
  // nor inside a modal loop that such a handler runs, since they still use
  // the object. Window's thread only.
  virtual void ReleaseForm(TMainForm& form) = 0;
  // Something an administrator should read: the service writes it to its
  // event log. An owner without a log traces it. Any thread.
  virtual void RecordEvent(const std::string& text);
};

}  // namespace pw::ui
