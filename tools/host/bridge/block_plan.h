// How a group's tags are read: as few block reads (command 6) as their addresses allow. Tags of
// one station whose addresses the driver parsed (command 3) to the same AreaTypeCode and block
// lie in one array of elements, each at its stored offset; a run of them spanning no more
// elements than one transfer moves is read as one block from the lowest, and each tag takes its
// element from the host array the driver filled. Bits (command 5) and strings are read alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tags/tag.h"

namespace tavhost::bridge {

struct BlockRead {
  Tag block;                    // the first tag's address, with the run's element count
  std::vector<size_t> tags;     // indices into the planned tags
  std::vector<size_t> element;  // each one's element in the block, in the same order
};

// The reads for `tags`; every tag is in exactly one. A tag's element `element[i]` of its read
// starts at byte element[i] × (its host bytes) of the host array.
std::vector<BlockRead> PlanBlockReads(std::span<const Tag> tags);

// The bytes of `tags[read.tags[i]]`'s value within the host array that `read` filled.
std::vector<uint8_t> ElementValues(const BlockRead& read, size_t i, const Tag& tag,
                                   const std::vector<uint8_t>& values);

}  // namespace tavhost::bridge
