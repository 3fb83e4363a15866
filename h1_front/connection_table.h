// The connections of one H1 library by their identifiers, 1 to 65,535, as the 16 bits of the
// connect record's field hold them (an operation passes one in the low 16 bits of its argument).
// A new connection takes the next identifier after the last one given that no connection holds,
// counting on from 1 after 65,535, so that an identifier just released is not given again at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>

namespace tav::front {

template <typename Held>
class ConnectionTable {
 public:
  // An identifier no connection holds, or 0 when every one is in use.
  uint16_t FreeIdentifier() {
    for (size_t tries = 0; tries < 0xFFFF; ++tries) {
      last_ = last_ == 0xFFFF ? 1 : static_cast<uint16_t>(last_ + 1);
      if (!held_.contains(last_)) return last_;
    }
    return 0;
  }

  Held& Add(uint16_t id, Held connection) {
    return held_.emplace(id, std::move(connection)).first->second;
  }

  // The connection `id` names (what a held pointer points to), or null.
  auto* Find(uint32_t id) {
    const auto found = held_.find(static_cast<uint16_t>(id));
    if constexpr (IsPointer()) {
      return found == held_.end() ? nullptr : found->second.get();
    } else {
      return found == held_.end() ? nullptr : &found->second;
    }
  }

  // Whether a connection had the identifier; it is gone.
  bool Release(uint32_t id) { return held_.erase(static_cast<uint16_t>(id)) != 0; }
  void Clear() { held_.clear(); }

  // What the table holds, by identifier.
  const std::map<uint16_t, Held>& All() const { return held_; }
  auto begin() { return held_.begin(); }
  auto end() { return held_.end(); }
  const Held* FindHeld(uint16_t id) const {
    const auto found = held_.find(id);
    return found == held_.end() ? nullptr : &found->second;
  }

 private:
  static constexpr bool IsPointer() {
    return requires(Held held) { held.get(); };
  }

  std::map<uint16_t, Held> held_;
  uint16_t last_ = 0;
};

}  // namespace tav::front
