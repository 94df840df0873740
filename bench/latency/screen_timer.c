/*
 * Times a program's pictures on the X screen. Launches the command in a process group of its
 * own, reads a few pixels of the root window about every millisecond until they all show the
 * first colour, then, when asked, presses a key (several times for a held key) and waits for
 * the listed colours, the last of which ends the run. Prints one line:
 *
 *   launch_ns=<CLOCK_MONOTONIC at the fork> first_ms=.. key_ms=.. lag_ms=.. shown=N hwm_kb=..
 *
 * key_ms runs from the first press to the last colour, lag_ms from the last press to it, and
 * shown counts the listed colours seen. When the first colour shows, the line also gets where
 * the command's threads spent their time until then (schedstat: running, waiting for a core).
 * The command's output goes to this program's stderr.
 * result=stopped-short: after the last press the screen settled on another colour for 2 s.
 * Exit status: 0 measured (stopped short too), 1 timed out, 2 the command ended first, 3 usage
 * or X error.
 *
 * Also a trivial X client, the floor of every row: `screen_timer --paint RRGGBB RRGGBB...`
 * shows a window of the first colour and takes the next one at each Right.
 */
#define _GNU_SOURCE
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

enum { kMaxPoints = 8, kMaxColours = 32, kTolerance = 40 };
static const long long kSettledNs = 2000000000LL;

static Display* dpy;
static int npoints, px[kMaxPoints], py[kMaxPoints];

static long long nowNs(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

static void sleepNs(long long ns) {
    struct timespec t = {(time_t)(ns / 1000000000LL), (long)(ns % 1000000000LL)};
    while (nanosleep(&t, &t) == -1 && errno == EINTR) {
    }
}

static unsigned long parseColour(const char* text) {
    char* end;
    unsigned long rgb = strtoul(text[0] == '#' ? text + 1 : text, &end, 16);
    if (*end != '\0' && *end != ',') {
        fprintf(stderr, "screen_timer: bad colour %s\n", text);
        exit(3);
    }
    return rgb;
}

static int parseColours(const char* list, unsigned long* out) {
    int n = 0;
    for (const char* p = list; p && *p && n < kMaxColours;
         p = strchr(p, ',') ? strchr(p, ',') + 1 : 0)
        out[n++] = parseColour(p);
    return n;
}

static int near(unsigned long a, unsigned long b) {
    for (int shift = 0; shift < 24; shift += 8) {
        if (abs((int)((a >> shift) & 255) - (int)((b >> shift) & 255)) > kTolerance)
            return 0;
    }
    return 1;
}

/* The root window's pixel as 0xRRGGBB; the server's visual is 24-bit TrueColor. */
static unsigned long rootPixel(int x, int y) {
    XImage* image = XGetImage(dpy, DefaultRootWindow(dpy), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return 0;
    unsigned long pixel = XGetPixel(image, 0, 0) & 0xffffff;
    XDestroyImage(image);
    return pixel;
}

static int screenShows(unsigned long colour) {
    for (int i = 0; i < npoints; i++) {
        if (!near(rootPixel(px[i], py[i]), colour))
            return 0;
    }
    return 1;
}

static void press(KeyCode key) {
    XTestFakeKeyEvent(dpy, key, True, 0);
    XTestFakeKeyEvent(dpy, key, False, 0);
    XFlush(dpy);
}

static long peakKb(pid_t pid) {
    char path[64], line[256];
    long kb = -1;
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE* status = fopen(path, "r");
    while (status && fgets(line, sizeof line, status)) {
        if (sscanf(line, "VmHWM: %ld", &kb) == 1)
            break;
    }
    if (status)
        fclose(status);
    return kb;
}

/* Where the command's threads spent the time so far: running, and runnable but waiting for a
 * core (the kernel's schedstat), the main thread apart from the others; and its page faults. */
static void schedSnapshot(pid_t pid, char* out, size_t size) {
    char path[320];
    double run[2] = {0, 0}, wait[2] = {0, 0};
    int threads = 0;
    snprintf(path, sizeof path, "/proc/%d/task", (int)pid);
    DIR* tasks = opendir(path);
    for (struct dirent* task; tasks && (task = readdir(tasks));) {
        if (task->d_name[0] == '.')
            continue;
        snprintf(path, sizeof path, "/proc/%d/task/%s/schedstat", (int)pid, task->d_name);
        FILE* file = fopen(path, "r");
        unsigned long long ranNs, waitedNs;
        if (file && fscanf(file, "%llu %llu", &ranNs, &waitedNs) == 2) {
            const int other = atoi(task->d_name) != pid;
            run[other] += ranNs / 1e6, wait[other] += waitedNs / 1e6, threads++;
        }
        if (file)
            fclose(file);
    }
    if (tasks)
        closedir(tasks);
    unsigned long faults = 0;
    snprintf(path, sizeof path, "/proc/%d/stat", (int)pid);
    FILE* stat = fopen(path, "r");
    /* minflt is the 10th field; the 2nd, the command's name, holds no blank here. */
    if (stat && fscanf(stat, "%*d %*s %*c %*d %*d %*d %*d %*d %*u %lu", &faults) != 1)
        faults = 0;
    if (stat)
        fclose(stat);
    snprintf(out, size,
             "main_run_ms=%.1f main_wait_ms=%.1f others_run_ms=%.1f others_wait_ms=%.1f "
             "threads=%d minflt=%lu",
             run[0], wait[0], run[1], wait[1], threads, faults);
}

_Noreturn static void paintWindow(int ncolours, char** colours) {
    Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 800, 600, 0, 0,
                                   parseColour(colours[0]));
    XSelectInput(dpy, w, KeyPressMask | ExposureMask);
    XMapWindow(dpy, w);
    KeyCode right = XKeysymToKeycode(dpy, XK_Right);
    for (int shown = 0;;) {
        XEvent event;
        XNextEvent(dpy, &event);
        if (event.type == KeyPress && event.xkey.keycode == right && shown + 1 < ncolours) {
            XSetWindowBackground(dpy, w, parseColour(colours[++shown]));
            XClearWindow(dpy, w);
            XFlush(dpy);
        }
    }
}

static void usage(void) {
    fprintf(stderr,
            "usage: screen_timer -p X,Y [-p X,Y...] -c FIRST [-w WAIT_MS] [-k KEYSYM -C "
            "COLOUR[,COLOUR...] [-n PRESSES -i INTERVAL_MS]] [-t TIMEOUT_MS] -- COMMAND...\n"
            "       screen_timer --paint RRGGBB [RRGGBB...]\n");
    exit(3);
}

int main(int argc, char** argv) {
    if (!(dpy = XOpenDisplay(NULL))) {
        fprintf(stderr, "screen_timer: no X display\n");
        return 3;
    }
    fcntl(ConnectionNumber(dpy), F_SETFD, FD_CLOEXEC);
    if (argc >= 3 && strcmp(argv[1], "--paint") == 0)
        paintWindow(argc - 2, argv + 2);

    unsigned long first = 0, after[kMaxColours];
    int nafter = 0, presses = 1, opt;
    long long waitNs = 0, intervalNs = 30000000LL, timeoutNs = 20000000000LL;
    const char* keyName = NULL;
    while ((opt = getopt(argc, argv, "p:c:w:k:C:n:i:t:")) != -1) {
        switch (opt) {
            case 'p':
                if (npoints == kMaxPoints ||
                    sscanf(optarg, "%d,%d", &px[npoints], &py[npoints]) != 2)
                    usage();
                npoints++;
                break;
            case 'c':
                first = parseColour(optarg);
                break;
            case 'w':
                waitNs = atoll(optarg) * 1000000LL;
                break;
            case 'k':
                keyName = optarg;
                break;
            case 'C':
                nafter = parseColours(optarg, after);
                break;
            case 'n':
                presses = atoi(optarg);
                break;
            case 'i':
                intervalNs = (long long)(atof(optarg) * 1e6);
                break;
            case 't':
                timeoutNs = atoll(optarg) * 1000000LL;
                break;
            default:
                usage();
        }
    }
    if (npoints == 0 || optind >= argc || (keyName && nafter == 0) || presses < 1)
        usage();
    KeyCode key = keyName ? XKeysymToKeycode(dpy, XStringToKeysym(keyName)) : 0;
    if (keyName && key == 0)
        usage();

    const long long launch = nowNs();
    pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execvp(argv[optind], argv + optind);
        _exit(127);
    }
    setpgid(child, child);

    int status = 1, pressed = 0;
    char sched[256] = "";
    unsigned seen = 0;
    long long shownAt = 0, firstPress = 0, lastPress = 0, nextPress = 0, endAt = 0, lastChange = 0;
    for (;;) {
        long long now = nowNs();
        if (now - launch > timeoutNs)
            break;
        if (waitpid(child, NULL, WNOHANG) == child) {
            status = 2;
            child = 0;
            break;
        }
        if (!shownAt) {
            if (screenShows(first)) {
                shownAt = nowNs();
                schedSnapshot(child, sched, sizeof sched);
                nextPress = shownAt + waitNs;
                if (!key) {
                    status = 0;
                    break;
                }
            }
        } else if (pressed < presses) {
            /* Presses keep their own beat, as a key's autorepeat does, however slow the
             * viewer is to follow. */
            if (now >= nextPress) {
                press(key);
                lastPress = nowNs();
                if (pressed++ == 0)
                    firstPress = lastPress;
                nextPress = firstPress + pressed * intervalNs;
            }
        }
        if (pressed) {
            /* Each listed colour counts once, in any order: a viewer may skip pictures. */
            const unsigned long centre = rootPixel(px[0], py[0]);
            for (int i = 0; i < nafter; i++) {
                if (near(centre, after[i]) && !(seen & (1u << i))) {
                    seen |= 1u << i;
                    lastChange = nowNs();
                }
            }
            if (pressed == presses && screenShows(after[nafter - 1])) {
                seen |= 1u << (nafter - 1);
                endAt = nowNs();
                status = 0;
                break;
            }
            /* A viewer that dropped presses never gets there: once it has shown nothing new
             * for a while after the last press, what it showed is the result. */
            if (pressed == presses &&
                now - (lastChange > lastPress ? lastChange : lastPress) > kSettledNs) {
                status = 4;
                break;
            }
        }
        const long long untilPress = nextPress - nowNs();
        sleepNs(shownAt && pressed < presses && untilPress < 1000000LL
                    ? (untilPress > 0 ? untilPress : 0)
                    : 1000000LL);
    }

    long hwm = child ? peakKb(child) : -1;
    if (child) {
        kill(-child, SIGKILL);
        waitpid(child, NULL, 0);
    }
    const int shown = __builtin_popcount(seen);
    printf(
        "launch_ns=%lld first_ms=%.1f key_ms=%.1f lag_ms=%.1f shown=%d hwm_kb=%ld %s result=%s\n",
        launch, shownAt ? (shownAt - launch) / 1e6 : -1.0,
        endAt ? (endAt - firstPress) / 1e6 : -1.0, endAt ? (endAt - lastPress) / 1e6 : -1.0, shown,
        hwm, sched,
        status == 0   ? "ok"
        : status == 4 ? "stopped-short"
        : status == 1 ? "timeout"
                      : "exited");
    return status == 4 ? 0 : status;
}
