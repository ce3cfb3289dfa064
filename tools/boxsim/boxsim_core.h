// The pure parts of the box simulator, for the program and the tests: request
// framing, the box's time code, the command language and the simulated box.
#pragma once

#include "tools/boxsim/box_time_code.h"
#include "tools/boxsim/command_language.h"
#include "tools/boxsim/request_frames.h"
#include "tools/boxsim/simulated_box.h"
