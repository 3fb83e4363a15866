#include "bridge/block_plan.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "abi/address_block.h"

namespace tavhost::bridge {

namespace {

bool ReadAlone(const Tag& tag) {
  return tag.kind == ValueKind::kBit || tag.kind == ValueKind::kString || tag.count != 1;
}

// Tags that can share a read: one station, one AreaTypeCode, one block.
using RunKey = std::tuple<int32_t, uint32_t, uint32_t>;

RunKey KeyOf(const Tag& tag) {
  return {tag.parsed.plcNumber, tag.parsed.areaTypeCode,
          tav::PackedBlock(tag.parsed.packedAddress)};
}

uint32_t OffsetOf(const Tag& tag) {
  return tav::PackedOffset(tag.parsed.packedAddress);
}

BlockRead Alone(const Tag& tag, size_t index) {
  return BlockRead{tag, {index}, {0}};
}

}  // namespace

std::vector<BlockRead> PlanBlockReads(std::span<const Tag> tags) {
  std::vector<BlockRead> reads;
  std::map<RunKey, std::vector<size_t>> runs;
  for (size_t i = 0; i < tags.size(); ++i) {
    if (ReadAlone(tags[i])) {
      reads.push_back(Alone(tags[i], i));
    } else {
      runs[KeyOf(tags[i])].push_back(i);
    }
  }
  for (auto& [key, members] : runs) {
    std::stable_sort(members.begin(), members.end(),
                     [&tags](size_t a, size_t b) { return OffsetOf(tags[a]) < OffsetOf(tags[b]); });
    const Tag& any = tags[members.front()];
    const auto most =
        static_cast<uint32_t>(MaxElementsPerTransfer(any.parsed.areaTypeCode, any.plcType));
    size_t open = reads.size();  // the read the run goes on filling
    uint32_t first = 0;
    for (const size_t index : members) {
      const uint32_t offset = OffsetOf(tags[index]);
      if (open == reads.size() || offset - first >= most) {
        open = reads.size();
        reads.push_back(Alone(tags[index], index));
        first = offset;
        continue;
      }
      BlockRead& read = reads[open];
      read.tags.push_back(index);
      read.element.push_back(offset - first);
      read.block.count = static_cast<int32_t>(offset - first + 1);
    }
  }
  return reads;
}

std::vector<uint8_t> ElementValues(const BlockRead& read, size_t i, const Tag& tag,
                                   const std::vector<uint8_t>& values) {
  const size_t bytes = tag.HostBytes();
  const size_t at = read.element[i] * bytes;
  if (at + bytes > values.size()) return std::vector<uint8_t>(bytes, 0);
  return {values.begin() + static_cast<std::ptrdiff_t>(at),
          values.begin() + static_cast<std::ptrdiff_t>(at + bytes)};
}

}  // namespace tavhost::bridge
