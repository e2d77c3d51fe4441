#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace a5merge {

// Work done off the window's thread. Each Start runs its work on a thread of
// its own and hands the result to `done` on the window's thread, through
// `post` (which runs what it is given there, later, or never once the window
// is gone). With `newestOnly`, a Start cancels the work before it and only
// the newest result comes back. Dropping it cancels all and waits.
class BackgroundRun {
public:
    using Post = std::function<void(std::function<void()>)>;

    BackgroundRun(Post post, bool newestOnly) : post_(std::move(post)), newestOnly_(newestOnly) {}
    ~BackgroundRun() {
        CancelAll();
        for (Job& job : jobs_) job.thread.join();
    }
    BackgroundRun(const BackgroundRun&) = delete;
    BackgroundRun& operator=(const BackgroundRun&) = delete;

    template <class Result>
    void Start(std::function<Result(const std::atomic<bool>& cancel)> work,
               std::function<void(Result)> done) {
        if (newestOnly_) CancelAll();
        Reap();
        const std::uint64_t generation = ++generation_;
        auto cancel = std::make_shared<std::atomic<bool>>(false);
        auto finished = std::make_shared<std::atomic<bool>>(false);
        ++running_;
        jobs_.push_back({std::thread([this, work = std::move(work), done = std::move(done), cancel,
                                      finished, generation] {
                             auto result = std::make_shared<Result>(work(*cancel));
                             post_([this, result, done, generation] {
                                 --running_;
                                 if (generation <= cancelledUpTo_) return;
                                 done(std::move(*result));
                             });
                             *finished = true;
                         }),
                         cancel, finished});
    }

    // Asks every work under way to stop; their results never come back.
    void CancelAll() {
        cancelledUpTo_ = generation_;
        for (Job& job : jobs_) *job.cancel = true;
    }

    // Whether some work has not handed its result back yet.
    bool Running() const { return running_ > 0; }

private:
    struct Job {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> cancel;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    // Joins the threads that are done.
    void Reap() {
        for (auto it = jobs_.begin(); it != jobs_.end();) {
            if (*it->finished) {
                it->thread.join();
                it = jobs_.erase(it);
            } else {
                ++it;
            }
        }
    }

    Post post_;
    bool newestOnly_;
    std::uint64_t generation_ = 0;     // of the newest Start
    std::uint64_t cancelledUpTo_ = 0;  // results of these and older are dropped
    int running_ = 0;
    std::vector<Job> jobs_;
};

}  // namespace a5merge
