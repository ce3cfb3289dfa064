// A settings store of the test's own: a fresh temporary root where the store
// is a folder, an emptied key where it is the registry. Natively every test
// program that links this gets a private root before its first test, so
// nothing reads or writes the machine's settings; under Wine the prefix is
// private to the build tree already.
#pragma once

#include <cstdint>
#include <string>

namespace settings_sandbox {

void Reset();
bool KeyExists();
// Writes raw bytes as the value, bypassing the store's own writer.
void PutRawValue(const void* data, std::uint32_t size);
// The value's bytes as stored.
std::string RawValue();

}  // namespace settings_sandbox
