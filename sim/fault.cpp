#include "sim/fault.h"

namespace tav::sim {

void FaultQueue::Add(Operation operation, const Fault& fault) {
  if (fault.times <= 0) return;
  queues_[static_cast<size_t>(operation)].push_back(fault);
}

std::optional<Fault> FaultQueue::Take(Operation operation) {
  std::deque<Fault>& queue = queues_[static_cast<size_t>(operation)];
  if (queue.empty()) return std::nullopt;
  Fault& next = queue.front();
  if (next.after > 0) {
    --next.after;
    return std::nullopt;
  }
  const Fault answer = next;
  if (--next.times == 0) queue.pop_front();
  return answer;
}

void FaultQueue::Clear() {
  for (std::deque<Fault>& queue : queues_) queue.clear();
}

}  // namespace tav::sim
