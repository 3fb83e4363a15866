// What tavhost's commands that use libh1eth's transport directly (h1 probe, gateway) share: the
// transport's settings from h1eth.conf, read where libh1eth would find it, and the clock.
#pragma once

#include "h1eth/class4.h"
#include "runtime/host.h"

namespace tavhost {

// The transport settings of h1eth.conf beside the host's libh1eth (or where TAV_H1ETH_CONF
// names it); the defaults otherwise. Its problems go to standard error under `command`.
tav::h1eth::TransportSettings H1TransportSettings(const Host& host, const char* command);
tav::h1eth::Microseconds SteadyMicroseconds();

}  // namespace tavhost
