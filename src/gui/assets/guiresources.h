// SPDX-License-Identifier: MIT
#pragma once

// Resources compiled into the static nuvgui library are dropped by the linker unless an
// executable registers them; every program and widget test calls this once.
void initGuiResources();
