// What the desktop benchmarks share: a private Xvfb + openbox, programs started in fresh
// folders as process groups, X windows found and captured, memory of a process tree, and
// summaries of the rounds.
#pragma once

#include <X11/Xlib.h>

#include <sys/types.h>

#include <string>
#include <vector>

namespace velmora::bench {

double NowMs();
void SleepMs(double ms);
[[noreturn]] void Fail(const std::string& what);

// A process started in its own process group, so it and everything it starts (WebKit's web
// and network processes) are stopped together, also when the benchmark is interrupted.
class Child {
  public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
          const std::string& dir, const std::string& log, int displayFd = -1);
    ~Child() { Stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    bool Running();
    // SIGTERM to the group, SIGKILL after 3 s; returns once no process of the group is left.
    void Stop();

  private:
    pid_t pid_ = -1;
};

// Xvfb on a free display with openbox on it, and a connection to it. Everything the
// benchmark writes (logs, the GStreamer registry, demo media) goes in workDir, which is
// removed at the end unless something failed.
class Desktop {
  public:
    explicit Desktop(const char* name);
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    Display* display() const { return display_; }
    const std::string& workDir() const { return workDir_; }
    // The private X server: it draws only for the program under test.
    pid_t xServerPid() const { return children_.front()->pid(); }
    // Makes `episodes` demo clips in workDir/media and returns that folder.
    std::string MakeMedia(const std::string& makeScript, int episodes);
    // The environment of a program run in the fresh folder dir: this display, caches and
    // settings inside dir, the shared GStreamer registry.
    std::vector<std::string> Environment(const std::string& dir) const;
    void KeepWorkDir() { keepWorkDir_ = true; }

  private:
    std::string workDir_;
    std::vector<Child*> children_;
    Display* display_ = nullptr;
    bool keepWorkDir_ = false;
};

// The window's client area as it is on screen now, and its size.
struct WindowArea {
    Window window = 0;
    int width = 0, height = 0;
};

// Waits (checking every 2 ms) until a window whose title contains `title` is mapped, and
// returns it; fails when the child exits or after timeoutMs. Call WatchNewWindows before
// the child is started.
void WatchNewWindows(Display* display);
WindowArea WaitForMappedWindow(Display* display, const char* title, Child& child, double timeoutMs);
std::string WindowTitle(Display* display, Window window);

// An XTest double-click (two press+release pairs 80 ms apart) at client coordinates x, y.
void DoubleClick(Display* display, Window window, int x, int y);

// The Config.ini of a player past its first run with a list of episodes, Last=1.
std::string PlayerConfig(int episodes, bool onTop = false);

struct Colour {
    int rgb[3];
    int tolerance;
};

// Counts, in a rectangle of a window's client area sampled every `step` pixels in both
// directions, the pixels near each colour, and the dark ones (text).
class AreaProbe {
  public:
    AreaProbe(Display* display, Window window, int x, int y, int width, int height, int step);
    struct Counts {
        std::vector<int> near; // one per colour asked for
        int dark = 0;          // every channel below 0x60
    };
    Counts Count(const std::vector<Colour>& colours);

  private:
    Display* display_;
    int rootX_ = 0, rootY_ = 0, width_, height_, step_;
};

// Proportional set size of a process and all its descendants (also those inside WebKit's
// sandbox), one entry per process, in kB.
struct ProcessMemory {
    pid_t pid;
    std::string name;
    long pssKb;
    long anonKb; // the private part: heap, JIT, ...
};
std::vector<ProcessMemory> TreeMemory(pid_t root);
long TotalPssKb(const std::vector<ProcessMemory>& processes);
// The process and all its descendants, root first.
std::vector<pid_t> TreePids(pid_t root);

// CPU time (user + system) used so far by each process of a tree (tid 0: the whole process,
// also threads that have ended) and by each of its threads.
struct CpuTicks {
    pid_t pid, tid;
    std::string process, thread;
    long ticks;
};
std::vector<CpuTicks> TreeCpuTicks(pid_t root);
double TicksPerSecond();

double Percentile(std::vector<double> values, double p);
// "name  median ...  min p25 p75 max (n runs)" on one line.
void PrintSummary(const char* name, const std::vector<double>& values, const char* unit);

} // namespace velmora::bench
