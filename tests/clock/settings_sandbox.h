// A settings store of the test's own: a fresh temporary root where the store
// is a folder, an emptied key where it is the registry.
#pragma once

#include <cstdint>

namespace settings_sandbox {

void Reset();
bool KeyExists();
// Writes raw bytes as the value, bypassing the store's own writer.
void PutRawValue(const void* data, std::uint32_t size);
// Makes the key read-only to this process, as a service account sees it.
// Returns false where that cannot be arranged (root ignores file modes).
bool MakeKeyReadOnly();

}  // namespace settings_sandbox
