// Test seam of the file store: a hook called between the steps of a save, so
// a test can end the process at each of them and check what a crash leaves.
#pragma once

namespace platform {

enum class SaveStep { kTempCreated, kTempWritten, kTempSynced, kRenamed };
using SaveStepHook = void (*)(SaveStep step);
void SetSaveStepHook(SaveStepHook hook);

}  // namespace platform
