#pragma once
// TEventLogger: writes error entries to the Windows event log under one source
// name. The source is opened (RegisterEventSourceA) at the first entry and
// closed (DeregisterEventSource) with the logger. Any thread.
#include <mutex>
#include <string>

#include "platform/EventLog.h"

namespace pw::service {

class TEventLogger {
 public:
  explicit TEventLogger(std::string sourceName);
  TEventLogger(const TEventLogger&) = delete;
  TEventLogger& operator=(const TEventLogger&) = delete;

  const std::string& SourceName() const { return sourceName_; }

  // One entry: EVENTLOG_ERROR_TYPE, category 0, event id 0, no user, the
  // message as its one string, no raw data. A log that cannot be written has
  // nowhere further to report to: the entry is dropped.
  void LogMessage(const std::string& message);

 private:
  std::mutex mutex_;
  std::string sourceName_;
  platform::EventSourceHandle source_;
};

}  // namespace pw::service
