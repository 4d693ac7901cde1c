// Host services the library needs from its platform: a per-thread slot with
// attach/detach notifications, a message box, and a fatal exit.
//
// On Linux there are no loader notifications per thread and no message box,
// so this layer provides its own:
//   - the per-thread slot is a C++ thread_local pointer; a thread "attaches"
//     the first time it touches the library and "detaches" when it ends
//     (a thread_local guard's destructor frees the context);
//   - the message box writes its caption and text to standard error, then
//     asks its question on the controlling terminal (/dev/tty) when there is
//     one, and otherwise takes the box's first (default) button;
//   - the fatal exit writes its text to standard error and ends the process
//     with exit code 1.
#pragma once

namespace vex::platform {

enum class Buttons { Ok, OkCancel, YesNo };
enum class Answer { Ok, Cancel, Yes, No };

// Shows a system-modal box; returns the button chosen.
Answer ownMessageBox(const char* text, const char* caption, Buttons buttons);

// Prints text and ends the process with exit code 1. Never returns.
[[noreturn]] void ownFatalAppExit(const char* text);

// The calling thread's slot value (null when never set).
void* ownTlsGetValue();
// Stores a value in the calling thread's slot. The destructor registered with
// ownTlsSetDetach runs on it when the thread ends.
void ownTlsSetValue(void* value);
// Empties the slot without running the detach handler; returns the old value.
void* ownTlsTakeValue();
using DetachFn = void (*)(void*);
void ownTlsSetDetach(DetachFn fn);

}  // namespace vex::platform
