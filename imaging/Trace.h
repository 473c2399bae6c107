#pragma once
// The component's debug trace: a failure that an entry swallows leaves a line
// with the hook the program set (PwImgSetTraceHook); with none set, nothing.
// Never throws. Any thread.
namespace pw::imaging {

// Traces "<where>: <message of the exception being handled>"; call it inside
// a catch block.
void TraceCurrentException(const char* where) noexcept;

}  // namespace pw::imaging
