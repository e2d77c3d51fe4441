// How long programs take from their start until their window is on screen,
// under an Xvfb of its own, in turns (A B A B ...): the time from the spawn
// to the first top-level window mapped, after which the program is ended.
//
//   window_start ROUNDS NAME=PROGRAM [NAME=PROGRAM...]
// prints one line per program with its median and, for the second and later,
// its ratio to the first.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

pid_t Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Waits for the next top-level window to be mapped; false after 10 s.
bool WaitForMap(xcb_connection_t* x) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(x)) {
            const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
            std::free(event);
            if (mapped) return true;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ROUNDS NAME=PROGRAM...\n", argv[0]);
        return 2;
    }
    const int rounds = std::atoi(argv[1]);
    std::vector<std::pair<std::string, std::string>> programs;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        programs.emplace_back(arg.substr(0, arg.find('=')), arg.substr(arg.find('=') + 1));
    }

    // A display of its own, and a runtime folder of its own for the programs.
    const std::string display = ":" + std::to_string(70 + getpid() % 20);
    const pid_t xvfb = Spawn({"Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    xcb_connection_t* x = nullptr;
    for (int tries = 0; tries < 100; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        x = xcb_connect(display.c_str(), nullptr);
        if (!xcb_connection_has_error(x)) break;
        xcb_disconnect(x);
        x = nullptr;
    }
    if (x == nullptr) {
        std::fprintf(stderr, "window_start: no Xvfb on %s\n", display.c_str());
        return 2;
    }
    setenv("DISPLAY", display.c_str(), 1);
    char runtime[] = "/tmp/window-start-XXXXXX";
    setenv("XDG_RUNTIME_DIR", mkdtemp(runtime), 1);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);

    std::vector<std::vector<double>> times(programs.size());
    for (int round = -1; round < rounds; ++round) {  // round -1 warms the caches
        for (std::size_t i = 0; i < programs.size(); ++i) {
            const auto start = Clock::now();
            const pid_t pid = Spawn({programs[i].second});
            const bool shown = pid > 0 && WaitForMap(x);
            const std::chrono::duration<double> took = Clock::now() - start;
            if (pid > 0) {
                kill(pid, SIGTERM);
                waitpid(pid, nullptr, 0);
            }
            if (!shown) {
                std::fprintf(stderr, "window_start: %s showed no window\n",
                             programs[i].first.c_str());
                kill(xvfb, SIGTERM);
                return 1;
            }
            if (round >= 0) times[i].push_back(took.count() * 1000.0);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    xcb_disconnect(x);
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    rmdir(runtime);

    const double first = Median(times[0]);
    for (std::size_t i = 0; i < programs.size(); ++i) {
        const double median = Median(times[i]);
        std::printf("%s shown after %.0f ms (median of %d)", programs[i].first.c_str(), median,
                    rounds);
        if (i > 0) std::printf(", %.2f times %s", median / first, programs[0].first.c_str());
        std::printf("\n");
    }
    return 0;
}
