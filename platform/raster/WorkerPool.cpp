#include "raster/WorkerPool_p.h"

namespace raster {

WorkerPool::WorkerPool(int extra) {
  for (int i = 0; i < extra; ++i) threads_.emplace_back([this, i] { loop(i + 1); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void WorkerPool::run(Job job, void* context) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = job;
    context_ = context;
    pending_ = static_cast<int>(threads_.size());
    ++generation_;
  }
  wake_.notify_all();
  job(context, 0);
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return pending_ == 0; });
  job_ = nullptr;
}

void WorkerPool::loop(int index) {
  uint64_t seen = 0;
  for (;;) {
    Job job;
    void* context;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
      job = job_;
      context = context_;
    }
    job(context, index);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      --pending_;
    }
    done_.notify_one();
  }
}

}  // namespace raster
