// ravlen-launch-bench [--runs R] [--display N] [--cpus LIST] [--pages N,N…] [--ravlen PROGRAM]
//
// Launch: the time from exec to the first page painted in the real window,
// for ravlen and for MuPDF's own X11 viewer (`mupdf`, Debian package
// `mupdf`) opening the same file, in turn, R times each (7); the medians are
// compared. Both run under an X server of the bench's own (Xvfb on display N,
// by default the first free one) with a window manager (openbox), on the same
// cores (LIST in taskset's form, by default every core).
//
// The first paint is seen on the screen, as a user sees it: a warm-up launch
// of each program is left to settle, and the page in its window is found as
// the largest white area on the screen; what counts as the page's content is
// every dark pixel next to a white one inside that area. A timed launch has
// painted its first page once that area holds at least 80 % of the settled
// content (a placeholder, a background or a window frame holds none). The
// screen is read through shared memory every 2 ms.
//
// The documents (10 and 5,000 pages by default) are made from the corpus with
// ravlen-makebig. Every ravlen launch has a runtime folder of its own, as
// after a login: no earlier instance is found. The last lines read
// "launch-N ratio R" with R = ravlen's median ÷ mupdf's. --before times an
// earlier build of ravlen in the same rounds, for comparing a change.
//
// Where ravlen's time goes: each launch notes its stages (RAVLEN_LAUNCH_TIMES),
// and the bench reports their medians from exec: the libraries loaded (main
// entered), the application made, the first window shown, and its first page
// painted in the process; the rest, to the screen, is the X server's.
#include "bench/BenchMachine.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool onPath(const std::string& program)
{
    std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    for (std::string dir; std::getline(path, dir, ':');)
        if (access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    return false;
}

// ---------------------------------------------------------------- processes

struct Launch {
    std::vector<std::string> argv;
    std::vector<std::string> env; // NAME=value, added to (or replacing) ours
};

// Starts the program with its environment; the child gets `cpus` (when set)
// before exec, so the measured process never runs anywhere else.
pid_t spawn(const Launch& launch, const std::optional<cpu_set_t>& cpus, bool quiet = true)
{
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        const bool replaced = std::any_of(launch.env.begin(), launch.env.end(), [&](const std::string& ours) {
            return ours.substr(0, ours.find('=')) == name;
        });
        if (!replaced) envStrings.push_back(entry);
    }
    envStrings.insert(envStrings.end(), launch.env.begin(), launch.env.end());
    std::vector<char*> argv, envp;
    for (const std::string& a : launch.argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : envStrings) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        if (cpus) sched_setaffinity(0, sizeof(*cpus), &*cpus);
        if (quiet) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        execve(argv[0], argv.data(), envp.data());
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

void stop(pid_t pid)
{
    if (pid <= 0) return;
    kill(-pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// ---------------------------------------------------------------- the screen

struct Box {
    int x = 0, y = 0, w = 0, h = 0;
};

// One shared-memory image of a screen rectangle, read again on each grab.
class Grabber {
public:
    Grabber(Display* display, const Box& box) : display_(display), box_(box)
    {
        const int screen = DefaultScreen(display);
        image_ = XShmCreateImage(display, DefaultVisual(display, screen), unsigned(DefaultDepth(display, screen)),
                                 ZPixmap, nullptr, &shm_, unsigned(box.w), unsigned(box.h));
        shm_.shmid = shmget(IPC_PRIVATE, size_t(image_->bytes_per_line) * size_t(image_->height), IPC_CREAT | 0600);
        shm_.shmaddr = image_->data = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
        shm_.readOnly = False;
        XShmAttach(display, &shm_);
        XSync(display, False);
        shmctl(shm_.shmid, IPC_RMID, nullptr); // freed once both sides let go
    }
    ~Grabber()
    {
        XShmDetach(display_, &shm_);
        XSync(display_, False);
        XDestroyImage(image_);
        shmdt(shm_.shmaddr);
    }
    Grabber(const Grabber&) = delete;
    Grabber& operator=(const Grabber&) = delete;

    const XImage& grab()
    {
        XShmGetImage(display_, DefaultRootWindow(display_), image_, box_.x, box_.y, AllPlanes);
        return *image_;
    }

private:
    Display* display_;
    Box box_;
    XImage* image_ = nullptr;
    XShmSegmentInfo shm_ = {};
};

struct Rgb {
    int r, g, b;
};

Rgb pixelAt(const XImage& image, int x, int y)
{
    const auto p =
        *reinterpret_cast<const uint32_t*>(image.data + size_t(y) * size_t(image.bytes_per_line) + size_t(x) * 4);
    return {int((p >> 16) & 0xff), int((p >> 8) & 0xff), int(p & 0xff)};
}

bool paper(const Rgb& c) { return c.r >= 235 && c.g >= 235 && c.b >= 235; }
bool dark(const Rgb& c) { return c.r * 299 + c.g * 587 + c.b * 114 < 140 * 1000; }

// Dark pixels with a white neighbour inside the image: a page's text and
// drawings on its paper, never a flat background or an empty page.
long inkOf(const XImage& image)
{
    long ink = 0;
    for (int y = 1; y + 1 < image.height; ++y)
        for (int x = 1; x + 1 < image.width; ++x) {
            if (!dark(pixelAt(image, x, y))) continue;
            bool nextToPaper = false;
            for (int dy = -1; dy <= 1 && !nextToPaper; ++dy)
                for (int dx = -1; dx <= 1 && !nextToPaper; ++dx) nextToPaper = paper(pixelAt(image, x + dx, y + dy));
            ink += nextToPaper;
        }
    return ink;
}

// The bounding box of the largest connected white area of the screen: the
// page on show.
Box pageBox(const XImage& screen)
{
    const int w = screen.width, h = screen.height;
    std::vector<int> label(size_t(w) * size_t(h), 0);
    std::vector<int> stack;
    Box best;
    long bestArea = 0;
    int next = 0;
    for (int start = 0; start < w * h; ++start) {
        if (label[size_t(start)] || !paper(pixelAt(screen, start % w, start / w))) continue;
        ++next;
        long area = 0;
        int x0 = w, y0 = h, x1 = -1, y1 = -1;
        stack.assign(1, start);
        label[size_t(start)] = next;
        while (!stack.empty()) {
            const int at = stack.back();
            stack.pop_back();
            const int x = at % w, y = at / w;
            ++area;
            x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
            const int around[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
            for (const auto& n : around) {
                if (n[0] < 0 || n[1] < 0 || n[0] >= w || n[1] >= h) continue;
                const int i = n[1] * w + n[0];
                if (label[size_t(i)] || !paper(pixelAt(screen, n[0], n[1]))) continue;
                label[size_t(i)] = next;
                stack.push_back(i);
            }
        }
        if (area > bestArea) {
            bestArea = area;
            best = {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
        }
    }
    return best;
}

// ---------------------------------------------------------------- X server

class XServer {
public:
    // Starts Xvfb (on `display`, or on the first free one) and openbox in it.
    explicit XServer(int display)
    {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) return;
        Launch xvfb{{"Xvfb"}, {}};
        if (display >= 0) xvfb.argv.push_back(":" + std::to_string(display));
        for (const char* a : {"-screen", "0", "1600x1000x24", "-br", "-nolisten", "tcp", "-displayfd"})
            xvfb.argv.push_back(a);
        xvfb.argv.push_back(std::to_string(pipeFds[1]));
        xvfb_ = spawn(xvfb, std::nullopt);
        close(pipeFds[1]);
        char number[32] = {};
        const ssize_t n = read(pipeFds[0], number, sizeof number - 1);
        close(pipeFds[0]);
        if (n <= 0) return;
        name_ = ":" + std::string(number, size_t(n));
        name_.erase(name_.find_last_not_of("\n ") + 1);
        display_ = XOpenDisplay(name_.c_str());
        if (!display_) return;
        windowManager_ = spawn({{"openbox"}, {"DISPLAY=" + name_}}, std::nullopt);
        // The window manager is ready once it names itself on the root window.
        const Atom check = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", False);
        for (int i = 0; i < 500 && !ready_; ++i) {
            Atom type;
            int format;
            unsigned long items = 0, after;
            unsigned char* data = nullptr;
            XGetWindowProperty(display_, DefaultRootWindow(display_), check, 0, 1, False, XA_WINDOW, &type, &format,
                               &items, &after, &data);
            ready_ = items > 0;
            if (data) XFree(data);
            if (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~XServer()
    {
        if (display_) XCloseDisplay(display_);
        stop(windowManager_);
        stop(xvfb_);
    }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool ready() const { return ready_; }
    Display* display() const { return display_; }
    const std::string& name() const { return name_; }

private:
    pid_t xvfb_ = -1, windowManager_ = -1;
    Display* display_ = nullptr;
    std::string name_;
    bool ready_ = false;
};

// ---------------------------------------------------------------- measuring

struct Program {
    std::string name;
    std::vector<std::string> argv; // the file is added at the end
    std::vector<std::string> env;
    bool notesStages = false; // writes its stages where RAVLEN_LAUNCH_TIMES says
};

// The stages a ravlen launch notes, in order, and what each one ends.
const std::vector<std::pair<std::string, std::string>> launchStages = {
    {"main", "libraries"}, {"application", "application"}, {"window", "window"}, {"painted", "first paint"}};

// Milliseconds from `began` to each stage noted in `file`.
std::vector<std::pair<std::string, double>> stagesIn(const fs::path& file, Clock::time_point began)
{
    std::vector<std::pair<std::string, double>> stages;
    std::ifstream in(file);
    std::string name;
    long long ns = 0;
    const long long start = std::chrono::duration_cast<std::chrono::nanoseconds>(began.time_since_epoch()).count();
    while (in >> name >> ns) stages.push_back({name, (ns - start) / 1e6});
    return stages;
}

// Where a program shows the first page of a file, and how much of it.
struct Calibration {
    Box box;
    long ink = 0;
};

class Bench {
public:
    Bench(XServer& x, std::optional<cpu_set_t> cpus, fs::path scratch)
        : x_(x), cpus_(cpus), scratch_(std::move(scratch))
    {}

    // One launch left to settle: the page's place and content.
    std::optional<Calibration> settle(const Program& program, const fs::path& file)
    {
        const pid_t pid = start(program, file);
        Display* d = x_.display();
        const int screen = DefaultScreen(d);
        Grabber whole(d, {0, 0, DisplayWidth(d, screen), DisplayHeight(d, screen)});
        // Settled: the screen unchanged for a second and a half (ten seconds at most).
        std::vector<char> last;
        Clock::time_point unchangedSince = Clock::now();
        const Clock::time_point began = Clock::now();
        while (msSince(began) < 10000) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const XImage& image = whole.grab();
            std::vector<char> now(image.data, image.data + size_t(image.bytes_per_line) * size_t(image.height));
            if (now != last) {
                last = std::move(now);
                unchangedSince = Clock::now();
            } else if (msSince(unchangedSince) > 1500) {
                break;
            }
        }
        Calibration found;
        found.box = pageBox(whole.grab());
        if (found.box.w >= 50 && found.box.h >= 50) {
            Grabber page(d, found.box);
            found.ink = inkOf(page.grab());
        }
        stop(pid);
        if (found.box.w < 50 || found.box.h < 50) {
            std::fprintf(stderr, "%s: no page found on the screen\n", program.name.c_str());
            return std::nullopt;
        }
        waitForEmptyScreen(found.box);
        if (found.ink < 200) {
            std::fprintf(stderr, "%s: the first page shows too little to see it painted\n", program.name.c_str());
            return std::nullopt;
        }
        return found;
    }

    // One timed launch: milliseconds from exec to the first page painted, or
    // a negative number when it never came (in 20 seconds). The stages the
    // program noted on the way go to `stages`.
    double once(const Program& program, const Calibration& calibration, const fs::path& file,
                std::vector<std::pair<std::string, double>>* stages = nullptr)
    {
        Grabber page(x_.display(), calibration.box);
        const fs::path times = scratch_ / ("times-" + std::to_string(++timed_));
        fs::remove(times);
        const Clock::time_point began = Clock::now();
        const pid_t pid = start(program, file, program.notesStages ? times : fs::path());
        double painted = -1;
        while (msSince(began) < 20000) {
            if (inkOf(page.grab()) * 10 >= calibration.ink * 8) {
                painted = msSince(began);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        stop(pid);
        if (stages && program.notesStages) *stages = stagesIn(times, began);
        waitForEmptyScreen(calibration.box);
        return painted;
    }

private:
    pid_t start(const Program& program, const fs::path& file, const fs::path& times = {})
    {
        // A runtime folder of its own for each launch: no instance to hand over to.
        const fs::path runtime = scratch_ / ("run-" + std::to_string(++launches_));
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
        Launch launch{program.argv, program.env};
        launch.argv.push_back(file.string());
        launch.env.push_back("DISPLAY=" + x_.name());
        launch.env.push_back("XDG_RUNTIME_DIR=" + runtime.string());
        if (!times.empty()) launch.env.push_back("RAVLEN_LAUNCH_TIMES=" + times.string());
        return spawn(launch, cpus_);
    }

    // The last window gone: nothing of a page left where it was.
    void waitForEmptyScreen(const Box& box)
    {
        Grabber page(x_.display(), box);
        for (int i = 0; i < 500 && inkOf(page.grab()) > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }

    XServer& x_;
    std::optional<cpu_set_t> cpus_;
    fs::path scratch_;
    int launches_ = 0;
    inline static int timed_ = 0; // across documents: each launch's own times file
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

struct Series {
    const Program* program;
    Calibration page;
    std::vector<double> ms;
    std::map<std::string, std::vector<double>> stages; // ms from exec, per stage
    // "libraries 17.0, application 12.1, …": each stage's median length.
    std::string split() const
    {
        std::string text;
        double before = 0;
        for (const auto& [stage, what] : launchStages) {
            const auto found = stages.find(stage);
            if (found == stages.end() || found->second.empty()) continue;
            const double at = median(found->second);
            char part[96];
            std::snprintf(part, sizeof part, "%s%s %.1f", text.empty() ? "" : ", ", what.c_str(), at - before);
            text += part;
            before = at;
        }
        if (text.empty()) return text;
        char rest[96];
        std::snprintf(rest, sizeof rest, ", to the screen %.1f ms", median(ms) - before);
        return text + rest;
    }
    std::string summary() const
    {
        char text[128];
        std::snprintf(text, sizeof text, "%.1f ms (%.1f–%.1f)", median(ms), *std::min_element(ms.begin(), ms.end()),
                      *std::max_element(ms.begin(), ms.end()));
        return text;
    }
};

int main(int argc, char** argv)
{
    int runs = 7;
    int display = -1;
    std::string cpus;
    std::string before;
    std::vector<int> sizes = {10, 5000};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--display" && i + 1 < argc) display = std::atoi(argv[++i]);
        else if (arg == "--cpus" && i + 1 < argc) cpus = argv[++i];
        else if (arg == "--before" && i + 1 < argc) before = argv[++i];
        else if (arg == "--pages" && i + 1 < argc) {
            sizes.clear();
            std::istringstream list(argv[++i]);
            for (std::string n; std::getline(list, n, ',');) sizes.push_back(std::max(1, std::atoi(n.c_str())));
        } else {
            std::fprintf(stderr, "usage: %s [--runs R] [--display N] [--cpus LIST] [--pages N,N…] [--before PROGRAM]\n",
                         argv[0]);
            return 2;
        }
    }
    for (const char* needed : {"Xvfb", "openbox", "mupdf"})
        if (!onPath(needed)) {
            std::fprintf(stderr, "%s is missing: apt-get install xvfb openbox mupdf\n", needed);
            return 1;
        }

    char folder[] = "/tmp/ravlen-launch-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    const fs::path scratch = folder;
    struct Cleanup {
        fs::path path;
        ~Cleanup() { fs::remove_all(path); }
    } cleanup{scratch};

    // One home for every launch, as a user's: the settings and caches of the
    // warm-up launch stay for the timed ones.
    const fs::path home = scratch / "home";
    for (const char* sub : {"config", "data", "cache", "state"}) fs::create_directories(home / sub);
    const std::vector<std::string> homeEnv = {"HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / "config").string(),
                                              "XDG_DATA_HOME=" + (home / "data").string(),
                                              "XDG_CACHE_HOME=" + (home / "cache").string(),
                                              "XDG_STATE_HOME=" + (home / "state").string()};
    std::vector<std::string> ravlenEnv = homeEnv;
    ravlenEnv.push_back("QT_QPA_PLATFORM=xcb");
    const Program ravlen{"ravlen", {RAVLEN_APP}, ravlenEnv, true};
    const Program earlier{"ravlen (before)", {before}, ravlenEnv, true};
    const Program mupdf{"mupdf", {"mupdf"}, homeEnv};
    std::vector<const Program*> programs = {&ravlen, &mupdf};
    if (!before.empty()) programs.insert(programs.begin() + 1, &earlier);

    XServer x(display);
    if (!x.ready()) {
        std::fprintf(stderr, "cannot start Xvfb and openbox%s\n",
                     display >= 0 ? (" on display :" + std::to_string(display)).c_str() : "");
        return 1;
    }
    const std::optional<cpu_set_t> cpuSet = cpus.empty() ? std::nullopt : bench::coresOf(cpus);
    std::printf("display %s with openbox; cores: %s; load average %s\n", x.name().c_str(),
                cpus.empty() ? "all" : cpus.c_str(), bench::loadAverage().c_str());

    std::vector<std::pair<int, double>> ratios;
    for (const int pages : sizes) {
        const fs::path file = scratch / ("launch-" + std::to_string(pages) + ".pdf");
        const pid_t maker =
            spawn({{RAVLEN_MAKEBIG, std::to_string(pages), file.string(), RAVLEN_CORPUS_DIR}, {}}, std::nullopt);
        int status = 0;
        waitpid(maker, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "cannot build a %d-page document from %s\n", pages, RAVLEN_CORPUS_DIR);
            return 1;
        }
        Bench bench(x, cpuSet, scratch);
        std::vector<Series> series;
        for (const Program* program : programs) {
            const std::optional<Calibration> page = bench.settle(*program, file);
            if (!page) return 1;
            series.push_back({program, *page, {}, {}});
        }
        // In turn, so that all meet the same machine.
        for (int run = 0; run < runs; ++run)
            for (Series& one : series) {
                std::vector<std::pair<std::string, double>> stages;
                const double ms = bench.once(*one.program, one.page, file, &stages);
                if (ms < 0) {
                    std::fprintf(stderr, "%s never painted its first page\n", one.program->name.c_str());
                    return 1;
                }
                one.ms.push_back(ms);
                for (const auto& [stage, at] : stages) one.stages[stage].push_back(at);
            }
        std::printf("launch-%d: ravlen %s, peer mupdf %s", pages, series.front().summary().c_str(),
                    series.back().summary().c_str());
        if (series.size() > 2) std::printf(", ravlen before %s", series[1].summary().c_str());
        std::printf("; median of %d each\n", runs);
        for (const Series& one : series)
            if (!one.split().empty())
                std::printf("launch-%d split, %s (medians, ms): %s\n", pages, one.program->name.c_str(),
                            one.split().c_str());
        std::fflush(stdout);
        ratios.push_back({pages, median(series.front().ms) / median(series.back().ms)});
    }
    std::printf("load average at the end %s\n", bench::loadAverage().c_str());
    for (const auto& [pages, ratio] : ratios) std::printf("launch-%d ratio %.2f\n", pages, ratio);
    return 0;
}
