// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "sim/MatrixResponder.h"

namespace matrix::sim {

// Every command family the simulated matrix answers. The one place to add
// a family: the matrix-sim program and anything else that wants "the whole
// matrix" install through here.
void installAllCommands(MatrixResponder& responder);

}  // namespace matrix::sim
