/* Modem lines for pseudo-terminals, preloaded into Wine for the end-to-end tests.
 *
 * A pseudo-terminal has no DTR or RTS: the kernel refuses TIOCMGET, TIOCMSET, TIOCMBIS and
 * TIOCMBIC on it, so Wine fails EscapeCommFunction and GetCommModemStatus there with error 50 and
 * the link worker cannot raise DTR. These tests run the real worker and the real command-line
 * program on the simulator's pseudo-terminal, unchanged, so this library gives every
 * pseudo-terminal the two output lines a real port has: each keeps what was last set on it, and
 * the input lines read as low. Other terminals and requests pass through untouched. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

/* Linux numbers the slave sides of pseudo-terminals under these majors. */
#define PTY_SLAVE_FIRST_MAJOR 136
#define PTY_SLAVE_LAST_MAJOR 143
#define MAX_TERMINALS 64

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static dev_t terminal[MAX_TERMINALS];
static int lines[MAX_TERMINALS];
static int terminals;

static int* lines_of(dev_t device) {
    for (int i = 0; i < terminals; ++i)
        if (terminal[i] == device) return &lines[i];
    if (terminals == MAX_TERMINALS) return 0;
    terminal[terminals] = device;
    lines[terminals] = TIOCM_DTR | TIOCM_RTS; /* raised by the open, as a real port's are */
    return &lines[terminals++];
}

int ioctl(int fd, unsigned long request, ...) {
    static int (*real_ioctl)(int, unsigned long, ...);
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (!real_ioctl) real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");

    int result = real_ioctl(fd, request, argument);
    if (result == 0 || (errno != ENOTTY && errno != EINVAL)) return result;
    if (request != TIOCMGET && request != TIOCMSET && request != TIOCMBIS && request != TIOCMBIC)
        return result;
    const int refused = errno;
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode) ||
        major(status.st_rdev) < PTY_SLAVE_FIRST_MAJOR || major(status.st_rdev) > PTY_SLAVE_LAST_MAJOR) {
        errno = refused;
        return result;
    }
    pthread_mutex_lock(&lock);
    int* state = lines_of(status.st_rdev);
    if (state) {
        const int asked = request == TIOCMGET ? 0 : *(const int*)argument & (TIOCM_DTR | TIOCM_RTS);
        if (request == TIOCMGET) *(int*)argument = *state;
        if (request == TIOCMSET) *state = asked;
        if (request == TIOCMBIS) *state |= asked;
        if (request == TIOCMBIC) *state &= ~asked;
    }
    pthread_mutex_unlock(&lock);
    if (!state) errno = refused;
    return state ? 0 : result;
}
