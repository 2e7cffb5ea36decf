#pragma once
#include <QIcon>
#include <array>

#include "batch/run_view.h"

namespace pellavo {

// The marks a finished list entry carries, indexed by TFileStatus: a green tick for written, a
// red cross for failed, a grey dash for skipped; told apart by shape as well as by colour.
std::array<QIcon, 3> OutcomeIcons();

}  // namespace pellavo
