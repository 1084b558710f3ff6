#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace raster {

// Extra threads that run one job together with the caller and return when all are done.
class WorkerPool {
 public:
  explicit WorkerPool(int extra);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  int count() const { return static_cast<int>(threads_.size()); }

  // Runs job(context, index) on the caller (index 0) and on every extra thread (1 ..).
  using Job = void (*)(void* context, int index);
  void run(Job job, void* context);

 private:
  void loop(int index);

  std::mutex mutex_;
  std::condition_variable wake_, done_;
  Job job_ = nullptr;
  void* context_ = nullptr;
  uint64_t generation_ = 0;
  int pending_ = 0;
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace raster
