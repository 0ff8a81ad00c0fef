#pragma once
// The mails of one spool run between their claim and their delivery, by destination (the
// relay, or the domain of a mail's first recipient): at most `perDestination` of them go to
// one destination at once. A mail that finds its destination full is parked, and the lane that
// claimed it goes on with the next file; a lane that finished a mail takes the oldest one
// parked for the same destination. So a slow or deferring host holds up its own mails only.
// Parking is bounded (mails and bytes): past that a lane waits for room instead. Thread-safe.
#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pv {

template <typename Mail>
class LaneSchedule {
 public:
  enum class Entry { Start, Parked, Full };

  LaneSchedule(std::size_t perDestination, std::size_t parkMails, std::size_t parkBytes)
      : perDestination_(std::max<std::size_t>(perDestination, 1)),
        parkMails_(parkMails),
        parkBytes_(parkBytes) {}

  // Start: the mail may go now (it is counted). Parked: the schedule holds it. Full: neither;
  // WaitForRoom, then it may go.
  Entry Enter(const std::string& destination, std::unique_ptr<Mail>& mail, std::size_t bytes) {
    const std::lock_guard lock(mutex_);
    Destination& d = destinations_[destination];
    if (d.running < perDestination_) {
      ++d.running;
      return Entry::Start;
    }
    if (parked_ >= parkMails_ || parkedBytes_ + bytes > parkBytes_) return Entry::Full;
    d.parked.push_back({std::move(mail), bytes});
    ++parked_;
    parkedBytes_ += bytes;
    return Entry::Parked;
  }

  void WaitForRoom(const std::string& destination) {
    std::unique_lock lock(mutex_);
    Destination& d = destinations_[destination];
    room_.wait(lock, [&] { return stopping_ || (d.running < perDestination_ && d.parked.empty()); });
    ++d.running;
  }

  // A mail to destination was delivered (or failed): with handOver, the oldest mail parked
  // for it takes its place and is given back; else, or with none parked, the count drops.
  // Without handOver the run is stopping: parked mails stay for TakeParked, and a lane waiting
  // for room goes on with the mail it holds.
  std::unique_ptr<Mail> Leave(const std::string& destination, bool handOver) {
    const std::lock_guard lock(mutex_);
    if (!handOver) stopping_ = true;
    Destination& d = destinations_[destination];
    if (handOver && !d.parked.empty()) {
      Parked next = std::move(d.parked.front());
      d.parked.pop_front();
      --parked_;
      parkedBytes_ -= next.bytes;
      room_.notify_all();
      return std::move(next.mail);
    }
    --d.running;
    room_.notify_all();
    return nullptr;
  }

  // What is still parked, oldest first per destination (after a pause).
  std::vector<std::unique_ptr<Mail>> TakeParked() {
    const std::lock_guard lock(mutex_);
    std::vector<std::unique_ptr<Mail>> left;
    for (auto& [name, d] : destinations_)
      for (Parked& p : d.parked) left.push_back(std::move(p.mail));
    destinations_.clear();
    parked_ = parkedBytes_ = 0;
    return left;
  }

 private:
  struct Parked {
    std::unique_ptr<Mail> mail;
    std::size_t bytes = 0;
  };
  struct Destination {
    std::size_t running = 0;
    std::deque<Parked> parked;
  };

  const std::size_t perDestination_, parkMails_, parkBytes_;
  std::mutex mutex_;
  std::condition_variable room_;
  std::map<std::string, Destination> destinations_;
  std::size_t parked_ = 0, parkedBytes_ = 0;
  bool stopping_ = false;
};

}  // namespace pv
