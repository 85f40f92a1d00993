#pragma once

// Work on a list of items on several threads while one place, the calling thread, takes their
// results strictly in list order. Workers take items in list order from a window of at most
// `window` items past the last one committed, so memory stays bounded however long the list.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace varnel::rules::detail {

/// Runs `convert(worker, i)` for i in [0, count) on one thread per entry of `workers` and
/// `commit(i, result)` on the calling thread in increasing i. `convert` must not throw; it
/// returns a movable result. `commit` returns false to end the run at once (results converted
/// but not committed are destroyed). `stop` is asked on the calling thread between commits and
/// while waiting: once it says true, no further item is taken and the items already taken are
/// committed. `window` (at least the number of workers) bounds the items taken but not yet
/// committed. Returns the number of items committed. Exceptions of `commit` or `stop` end the
/// run (the threads are joined) and pass on to the caller.
template <typename Result, typename Worker, typename Convert, typename Commit, typename Stop>
std::size_t runOrdered(std::size_t count, std::vector<Worker>& workers, std::size_t window,
                       Convert convert, Commit commit, Stop stop) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable workCv;  // a worker may take the next item, or must end
    std::condition_variable doneCv;  // a result arrived
    std::size_t next = 0;            // the next item to take
    std::size_t committed = 0;
    std::size_t limit = 0;  // items at or past this are not taken
    bool abort = false;
    std::vector<std::optional<Result>> slots;
  } sh;
  if (window < workers.size()) window = workers.size();
  sh.slots.resize(window);
  sh.limit = count;

  const auto work = [&sh, &convert, window](Worker& worker) {
    for (;;) {
      std::size_t i = 0;
      {
        std::unique_lock<std::mutex> lock(sh.mutex);
        sh.workCv.wait(lock, [&] {
          return sh.abort || sh.next >= sh.limit || sh.next < sh.committed + window;
        });
        if (sh.abort || sh.next >= sh.limit) return;
        i = sh.next++;
      }
      Result result = convert(worker, i);
      {
        const std::lock_guard<std::mutex> lock(sh.mutex);
        sh.slots[i % window].emplace(std::move(result));
      }
      sh.doneCv.notify_all();
    }
  };

  // Ends the workers and joins them on every way out, exceptions included.
  struct Threads {
    Shared& sh;
    std::vector<std::thread> list;
    ~Threads() {
      {
        const std::lock_guard<std::mutex> lock(sh.mutex);
        sh.abort = true;
      }
      sh.workCv.notify_all();
      for (std::thread& t : list) t.join();
    }
  } threads{sh, {}};
  threads.list.reserve(workers.size());
  for (Worker& w : workers) threads.list.emplace_back(work, std::ref(w));

  std::size_t done = 0;
  bool stopping = false;
  for (;;) {
    if (!stopping && stop()) {
      stopping = true;
      {
        const std::lock_guard<std::mutex> lock(sh.mutex);
        sh.limit = sh.next;
      }
      sh.workCv.notify_all();
    }
    std::optional<Result> result;
    {
      std::unique_lock<std::mutex> lock(sh.mutex);
      if (done >= sh.limit) break;
      std::optional<Result>& slot = sh.slots[done % window];
      // Woken now and then to ask `stop` while a long item is converted.
      if (!sh.doneCv.wait_for(lock, std::chrono::milliseconds(50),
                              [&] { return slot.has_value(); })) {
        continue;
      }
      result.swap(slot);  // leaves the slot empty for the item `window` places on
    }
    const bool goOn = commit(done, std::move(*result));
    {
      const std::lock_guard<std::mutex> lock(sh.mutex);
      sh.committed = ++done;
    }
    sh.workCv.notify_all();
    if (!goOn) break;
  }
  return done;
}

}  // namespace varnel::rules::detail
