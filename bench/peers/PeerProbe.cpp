// Times what a user sees of any X11 program, with no help from the program:
// from the exec or the key until the screen shows its final pixels.
//
// Every drawing on the screen arrives as an X Damage event on the root window,
// stamped with the server's clock; the exec and the key are stamped with the
// same clock (a property change just before them). After each burst of damage
// the screen is read back. Once no new picture has come for the quiet period
// and the program has stopped working (its threads sleep), the
// pictures of that period are the final screen; pixels that still change
// among them (a blinking text cursor) are left out of every comparison. The
// time reported is that of the last damage before the first picture from
// which on every picture equals the final screen.
//
//   bench_peer_probe exec [options] -- program [arguments]
//       starts the program in a session of its own, leaves it running, and
//       prints its pid, the time to the final screen and its memory at
//       --memory-at milliseconds after the exec.
//   bench_peer_probe key [options] --pid PID KEYSYM
//       presses and releases KEYSYM (an X key name: 1, BackSpace) on the
//       focused window and prints the time to the final screen.
//   bench_peer_probe settle [options] --pid PID
//       waits until the screen and the program are quiet.
// Options: --quiet MS (default 1500), --timeout S (default 60),
//          --memory-at MS (exec only), --shot FILE.ppm (the final screen).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/XTest.h>
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <sys/select.h>
#include <tuple>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string mode;
    int quietMs = 1500;
    int timeoutS = 60;
    int memoryAtMs = -1;
    pid_t pid = -1;
    std::string keysym;
    std::string shot;
    std::vector<char *> command;
};

[[noreturn]] void fail(const std::string &message)
{
    std::fprintf(stderr, "bench_peer_probe: %s\n", message.c_str());
    std::exit(2);
}

Options parse(int argc, char **argv)
{
    if (argc < 2)
        fail("usage: bench_peer_probe exec|key|settle [options]");
    Options options;
    options.mode = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                fail(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--quiet")
            options.quietMs = std::stoi(value());
        else if (arg == "--timeout")
            options.timeoutS = std::stoi(value());
        else if (arg == "--memory-at")
            options.memoryAtMs = std::stoi(value());
        else if (arg == "--pid")
            options.pid = pid_t(std::stol(value()));
        else if (arg == "--shot")
            options.shot = value();
        else if (arg == "--") {
            for (++i; i < argc; ++i)
                options.command.push_back(argv[i]);
            options.command.push_back(nullptr);
        } else if (options.mode == "key" && options.keysym.empty())
            options.keysym = arg;
        else
            fail("unknown argument " + arg);
    }
    if (options.mode == "exec" && options.command.size() < 2)
        fail("exec needs -- program");
    if (options.mode == "key" && (options.keysym.empty() || options.pid <= 0))
        fail("key needs --pid and a key");
    if (options.mode == "settle" && options.pid <= 0)
        fail("settle needs --pid");
    if (options.mode != "exec" && options.mode != "key" && options.mode != "settle")
        fail("unknown mode " + options.mode);
    return options;
}

// Whether any thread of `pid` wants the processor or waits for the disk;
// nothing once the process has gone. On a busy machine a working program
// gets little processor time, but its threads stay runnable.
std::optional<bool> working(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR *folder = opendir(tasks.c_str());
    if (!folder)
        return std::nullopt;
    bool any = false;
    while (const dirent *entry = readdir(folder)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream stat(tasks + "/" + entry->d_name + "/stat");
        std::string text;
        std::getline(stat, text);
        // The state follows the name, which may hold spaces.
        const size_t close = text.rfind(')');
        if (close != std::string::npos && close + 2 < text.size()) {
            const char state = text[close + 2];
            any = any || state == 'R' || state == 'D';
        }
    }
    closedir(folder);
    return any;
}

// Pss and Rss of `pid` in kilobytes.
std::pair<long, long> memoryKb(pid_t pid)
{
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line;
    long pss = -1, rss = -1;
    while (std::getline(rollup, line)) {
        if (line.rfind("Pss:", 0) == 0)
            pss = std::stol(line.substr(4));
        else if (line.rfind("Rss:", 0) == 0)
            rss = std::stol(line.substr(4));
    }
    return {pss, rss};
}

class ScreenWatcher {
public:
    ScreenWatcher()
    {
        m_display = XOpenDisplay(nullptr);
        if (!m_display)
            fail("cannot open the display");
        int eventBase = 0, errorBase = 0;
        if (!XDamageQueryExtension(m_display, &eventBase, &errorBase))
            fail("the X server has no DAMAGE extension");
        int major = 0, minor = 0;
        if (!XTestQueryExtension(m_display, &eventBase, &errorBase, &major, &minor))
            fail("the X server has no XTEST extension");
        XDamageQueryExtension(m_display, &m_damageEvent, &errorBase);
        m_root = DefaultRootWindow(m_display);
        XWindowAttributes attributes;
        XGetWindowAttributes(m_display, m_root, &attributes);
        m_width = attributes.width;
        m_height = attributes.height;
        // Every drawing anywhere on the screen, each rectangle as it comes.
        m_damage = XDamageCreate(m_display, m_root, XDamageReportRawRectangles);
        XSetWindowAttributes clockAttributes{};
        clockAttributes.event_mask = PropertyChangeMask;
        m_clockWindow = XCreateWindow(m_display, m_root, -10, -10, 1, 1, 0, 0, InputOnly, CopyFromParent,
                                      CWEventMask, &clockAttributes);
        m_clockAtom = XInternAtom(m_display, "BENCH_PEER_PROBE_CLOCK", False);
        XSync(m_display, False);
    }
    ~ScreenWatcher() { XCloseDisplay(m_display); }

    Display *display() const { return m_display; }
    size_t pixelBytes() const { return size_t(m_width) * size_t(m_height) * 3; }
    int width() const { return m_width; }
    int height() const { return m_height; }

    // The server's clock now: the time of a property change on our window.
    // Damage seen while waiting for it is kept.
    Time serverNow()
    {
        const unsigned char byte = 0;
        XChangeProperty(m_display, m_clockWindow, m_clockAtom, XA_INTEGER, 8, PropModeReplace, &byte, 1);
        XFlush(m_display);
        for (;;) {
            XEvent event;
            XNextEvent(m_display, &event);
            if (event.type == PropertyNotify && event.xproperty.window == m_clockWindow)
                return event.xproperty.time;
            take(event);
        }
    }

    // Handles every event already received; true if any was damage.
    bool drain()
    {
        bool damaged = false;
        while (XEventsQueued(m_display, QueuedAfterReading) > 0) {
            XEvent event;
            XNextEvent(m_display, &event);
            damaged = take(event) || damaged;
        }
        return damaged;
    }

    bool waitForEvents(int milliseconds)
    {
        if (XPending(m_display) > 0)
            return true;
        const int fd = ConnectionNumber(m_display);
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
        return select(fd + 1, &set, nullptr, nullptr, &timeout) > 0;
    }

    // The whole screen as 8-bit RGB. The events that reached us before the
    // picture stand for drawings that it shows: they are handled here, so
    // lastDamage() is the time of the last drawing the picture holds.
    std::vector<uint8_t> grab()
    {
        XImage *image = XGetImage(m_display, m_root, 0, 0, unsigned(m_width), unsigned(m_height), AllPlanes, ZPixmap);
        if (!image)
            fail("cannot read the screen");
        while (XEventsQueued(m_display, QueuedAlready) > 0) {
            XEvent event;
            XNextEvent(m_display, &event);
            take(event);
        }
        std::vector<uint8_t> pixels(pixelBytes());
        uint8_t *out = pixels.data();
        if (image->bits_per_pixel == 32 && image->byte_order == LSBFirst && image->red_mask == 0xff0000
            && image->green_mask == 0xff00 && image->blue_mask == 0xff) {
            // The usual 24-bit screen: read the bytes, a call per pixel is slow.
            for (int y = 0; y < m_height; ++y) {
                const auto *in = reinterpret_cast<const uint8_t *>(image->data) + size_t(y) * size_t(image->bytes_per_line);
                for (int x = 0; x < m_width; ++x, in += 4) {
                    *out++ = in[2];
                    *out++ = in[1];
                    *out++ = in[0];
                }
            }
            XDestroyImage(image);
            return pixels;
        }
        for (int y = 0; y < m_height; ++y) {
            for (int x = 0; x < m_width; ++x) {
                const unsigned long pixel = XGetPixel(image, x, y);
                *out++ = uint8_t(pixel >> 16);
                *out++ = uint8_t(pixel >> 8);
                *out++ = uint8_t(pixel);
            }
        }
        XDestroyImage(image);
        return pixels;
    }

    Time lastDamage() const { return m_lastDamage; }

    void pressKey(const std::string &name)
    {
        const KeySym keysym = XStringToKeysym(name.c_str());
        const KeyCode code = keysym == NoSymbol ? 0 : XKeysymToKeycode(m_display, keysym);
        if (code == 0)
            fail("no key for " + name);
        XTestFakeKeyEvent(m_display, code, True, CurrentTime);
        XTestFakeKeyEvent(m_display, code, False, CurrentTime);
        XFlush(m_display);
    }

private:
    bool take(const XEvent &event)
    {
        if (event.type != m_damageEvent + XDamageNotify)
            return false;
        const auto &damage = reinterpret_cast<const XDamageNotifyEvent &>(event);
        m_lastDamage = damage.timestamp;
        return true;
    }

    Display *m_display = nullptr;
    Window m_root = 0;
    Window m_clockWindow = 0;
    Atom m_clockAtom = 0;
    Damage m_damage = 0;
    int m_damageEvent = 0;
    int m_width = 0;
    int m_height = 0;
    Time m_lastDamage = 0;
};

uint64_t hashOf(const std::vector<uint8_t> &pixels)
{
    uint64_t hash = 1469598103934665603ull;
    const auto *words = reinterpret_cast<const uint64_t *>(pixels.data());
    for (size_t i = 0; i < pixels.size() / 8; ++i)
        hash = (hash ^ words[i]) * 1099511628211ull;
    return hash;
}

// One picture of the screen: its hash, the server time of the last drawing
// it shows and when we took it.
struct Picture {
    uint64_t hash;
    Time drawn;
    Clock::time_point taken;
};

struct Result {
    bool changed = false;   // the final screen differs from the one before
    long finalMs = -1;      // start to the final screen, server clock
    long changedPixels = 0;
    int top = 0, bottom = -1, left = 0, right = -1;  // where it changed
    bool timedOut = false;
    long pssKb = -1, rssKb = -1;
};

void writePpm(const std::string &path, const std::vector<uint8_t> &pixels, int width, int height)
{
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    out.write(reinterpret_cast<const char *>(pixels.data()), std::streamsize(pixels.size()));
}

Result watch(ScreenWatcher &screen, const Options &options, pid_t pid, Time start, const std::vector<uint8_t> &before,
             Clock::time_point startedAt)
{
    // Pixel data of the most recent distinct pictures; older ones keep only
    // their hash. A bound, so a program that animates cannot fill memory.
    constexpr size_t keptPictures = 120;
    std::map<uint64_t, std::vector<uint8_t>> pixelsOf;
    std::deque<uint64_t> keptOrder;
    std::vector<Picture> pictures;
    const uint64_t beforeHash = hashOf(before);
    pixelsOf[beforeHash] = before;
    keptOrder.push_back(beforeHash);
    pictures.push_back({beforeHash, start, startedAt});

    const auto quiet = std::chrono::milliseconds(options.quietMs);
    const auto deadline = startedAt + std::chrono::seconds(options.timeoutS);
    Clock::time_point lastNew = startedAt;
    std::deque<std::pair<Clock::time_point, bool>> work;  // samples over the last quiet period
    Result result;
    bool memoryRead = options.memoryAtMs < 0;

    for (;;) {
        const bool pending = screen.waitForEvents(20);
        const Clock::time_point now = Clock::now();
        if (!memoryRead && now - startedAt >= std::chrono::milliseconds(options.memoryAtMs)) {
            std::tie(result.pssKb, result.rssKb) = memoryKb(pid);
            memoryRead = true;
        }
        if (pending && screen.drain()) {
            std::vector<uint8_t> pixels = screen.grab();
            const uint64_t hash = hashOf(pixels);
            if (pixelsOf.find(hash) == pixelsOf.end()) {
                bool seen = false;
                for (const Picture &picture : pictures)
                    seen = seen || picture.hash == hash;
                if (!seen)
                    lastNew = Clock::now();
                pixelsOf[hash] = std::move(pixels);
                keptOrder.push_back(hash);
                if (keptOrder.size() > keptPictures) {
                    pixelsOf.erase(keptOrder.front());
                    keptOrder.pop_front();
                }
            }
            pictures.push_back({hash, screen.lastDamage(), Clock::now()});
        }
        const std::optional<bool> busyNow = working(pid);
        if (!busyNow)
            fail("the program has gone");
        work.emplace_back(now, *busyNow);
        while (work.size() > 2 && now - work[1].first >= quiet)
            work.pop_front();
        // Working means runnable in a quarter of the samples or more: a
        // blinking cursor costs less, a search or a load costs more.
        size_t busySamples = 0;
        for (const auto &sample : work)
            busySamples += sample.second ? 1 : 0;
        const double busy = double(busySamples) / double(work.size());
        const bool quietLongEnough = now - lastNew >= quiet && now - startedAt >= quiet
            && work.back().first - work.front().first >= quiet * 9 / 10;
        if ((quietLongEnough && busy < 0.25 && memoryRead) || now >= deadline) {
            result.timedOut = now >= deadline;
            break;
        }
    }

    // The final screen: the pictures of the quiet period and one more now.
    std::vector<uint8_t> last = screen.grab();
    const uint64_t lastHash = hashOf(last);
    pixelsOf.emplace(lastHash, last);
    std::vector<uint64_t> finals{lastHash};
    const Clock::time_point quietFrom = Clock::now() - quiet;
    for (const Picture &picture : pictures) {
        if (picture.taken >= quietFrom && pixelsOf.count(picture.hash)
            && std::find(finals.begin(), finals.end(), picture.hash) == finals.end())
            finals.push_back(picture.hash);
    }
    // Pixels that differ among the final pictures keep changing by
    // themselves: they take no part in the comparison.
    std::vector<uint8_t> still(last.size() / 3, 1);
    for (uint64_t hash : finals) {
        const std::vector<uint8_t> &other = pixelsOf.at(hash);
        for (size_t p = 0; p < still.size(); ++p) {
            if (std::memcmp(&other[p * 3], &last[p * 3], 3) != 0)
                still[p] = 0;
        }
    }
    std::map<uint64_t, bool> matches;
    const auto matchesFinal = [&](uint64_t hash) -> std::optional<bool> {
        if (const auto found = matches.find(hash); found != matches.end())
            return found->second;
        const auto pixels = pixelsOf.find(hash);
        if (pixels == pixelsOf.end())
            return std::nullopt;
        bool same = true;
        for (size_t p = 0; same && p < still.size(); ++p)
            same = !still[p] || std::memcmp(&pixels->second[p * 3], &last[p * 3], 3) == 0;
        matches[hash] = same;
        return same;
    };
    // Back from the end to the first picture of the final run.
    size_t first = pictures.size();
    while (first > 0) {
        const std::optional<bool> same = matchesFinal(pictures[first - 1].hash);
        if (!same || !*same)
            break;
        --first;
    }
    if (first == 0) {
        result.finalMs = 0;  // the screen never changed
    } else if (first == pictures.size()) {
        // The final screen appeared only in the last picture.
        result.finalMs = long(screen.lastDamage() - start);
        result.changed = true;
    } else {
        result.finalMs = long(pictures[first].drawn - start);
        result.changed = true;
    }
    for (int y = 0; y < screen.height(); ++y) {
        for (int x = 0; x < screen.width(); ++x) {
            const size_t p = size_t(y) * size_t(screen.width()) + size_t(x);
            if (still[p] && std::memcmp(&before[p * 3], &last[p * 3], 3) != 0) {
                ++result.changedPixels;
                if (result.bottom < 0) {
                    result.top = y;
                    result.left = x;
                    result.right = x;
                }
                result.bottom = y;
                result.left = std::min(result.left, x);
                result.right = std::max(result.right, x);
            }
        }
    }
    if (!options.shot.empty())
        writePpm(options.shot, last, screen.width(), screen.height());
    return result;
}

void print(const Result &result, pid_t pid)
{
    std::printf("pid %d\n", int(pid));
    std::printf("final_ms %ld\n", result.changed ? result.finalMs : -1);
    std::printf("changed_pixels %ld\n", result.changedPixels);
    std::printf("changed_box %d,%d %d,%d\n", result.left, result.top, result.right, result.bottom);
    std::printf("timed_out %d\n", result.timedOut ? 1 : 0);
    if (result.pssKb >= 0)
        std::printf("pss_kb %ld\nrss_kb %ld\n", result.pssKb, result.rssKb);
}

} // namespace

int main(int argc, char **argv)
{
    const Options options = parse(argc, argv);
    ScreenWatcher screen;
    screen.drain();
    const std::vector<uint8_t> before = screen.grab();
    pid_t pid = options.pid;
    Time start = 0;
    if (options.mode == "exec") {
        start = screen.serverNow();
        pid = fork();
        if (pid < 0)
            fail("fork failed");
        if (pid == 0) {
            setsid();
            close(ConnectionNumber(screen.display()));
            // Whoever reads our output waits for its end: the program writes
            // to our error channel instead.
            dup2(STDERR_FILENO, STDOUT_FILENO);
            execvp(options.command[0], options.command.data());
            std::perror("exec");
            _exit(127);
        }
    } else if (options.mode == "key") {
        start = screen.serverNow();
        screen.pressKey(options.keysym);
    } else {
        start = screen.serverNow();
    }
    const Result result = watch(screen, options, pid, start, before, Clock::now());
    print(result, pid);
    return 0;
}
