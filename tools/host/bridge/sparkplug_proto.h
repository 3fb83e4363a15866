// The one place the bridge includes protobuf: the classes protoc generates from
// sparkplug_b.proto at build time. Generated code, so its warnings are not the bridge's.
#pragma once

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "sparkplug_b.pb.h"
#pragma GCC diagnostic pop

namespace tavhost::bridge::sparkplug {
namespace wire = ::tavhost::sparkplug::wire;
}  // namespace tavhost::bridge::sparkplug
