#pragma once
// Everything the programs share, in one include: a short way in for the
// programs, whose units each include what they use.

#include "artdmx.hpp"
#include "artnet_receiver.hpp"
#include "artnet_sender.hpp"
#include "clock.hpp"
#include "descriptors.hpp"
#include "notices.hpp"
#include "numbers.hpp"
#include "options.hpp"
#include "signals.hpp"
#include "status_line.hpp"
#include "udp.hpp"
