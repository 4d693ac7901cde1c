#include "ownplatform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace vex::platform {

namespace {

DetachFn g_detach = nullptr;  // written once, at library load

// The slot itself is a plain thread_local word; a guard object registered on
// first use runs the thread-detach handler when the thread ends.
thread_local void* t_value = nullptr;

struct DetachGuard {
    bool armed = false;
    ~DetachGuard() {
        void* value = t_value;
        t_value = nullptr;
        if (value && g_detach) g_detach(value);
    }
};
thread_local DetachGuard t_guard;

// Reads one answer line from the controlling terminal. Returns false when the
// process has no controlling terminal or the read fails.
bool askTerminal(const char* question, char* answer, size_t size) {
    int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t w = ::write(fd, question, std::strlen(question));
    (void)w;
    size_t n = 0;
    while (n + 1 < size) {
        char ch;
        ssize_t r = ::read(fd, &ch, 1);
        if (r <= 0) break;
        if (ch == '\n') break;
        answer[n++] = ch;
    }
    answer[n] = '\0';
    ::close(fd);
    return true;
}

}  // namespace

Answer ownMessageBox(const char* text, const char* caption, Buttons buttons) {
    std::fprintf(stderr, "[%s]\n%s\n", caption ? caption : "", text ? text : "");
    std::fflush(stderr);
    Answer first = buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    if (buttons == Buttons::Ok) {
        char sink[8];
        askTerminal("[OK] press Enter ", sink, sizeof sink);
        return Answer::Ok;
    }
    const char* question = buttons == Buttons::YesNo ? "[Yes/No] (default Yes): "
                                                     : "[OK/Cancel] (default OK): ";
    char line[32];
    if (!askTerminal(question, line, sizeof line)) return first;
    char c = line[0];
    if (buttons == Buttons::YesNo) return (c == 'n' || c == 'N') ? Answer::No : Answer::Yes;
    return (c == 'c' || c == 'C') ? Answer::Cancel : Answer::Ok;
}

void ownFatalAppExit(const char* text) {
    std::fprintf(stderr, "%s\n", text ? text : "");
    std::fflush(stderr);
    std::_Exit(1);
}

void* ownTlsGetValue() { return t_value; }
void ownTlsSetValue(void* value) {
    t_guard.armed = true;  // constructs the guard on this thread
    t_value = value;
}
void* ownTlsTakeValue() {
    void* value = t_value;
    t_value = nullptr;
    return value;
}
void ownTlsSetDetach(DetachFn fn) { g_detach = fn; }

}  // namespace vex::platform
