#pragma once
// Registry of the data files built into the program ("incbin::" names).
// The program registers its files by name, bytes and size before anything else; the
// bytes are borrowed (they live in the executable's read-only data).
#include <cstdint>
#include <string>

namespace kin {

struct IncbinEntry {
    const char* name;
    const uint8_t* data;
    int64_t size;
};

/// Registers (or replaces) a built-in file of size bytes. data is borrowed and must stay
/// valid for the program's life; an empty name, a negative size or null data is ignored.
void RegisterIncbin(const std::string& name, const uint8_t* data, int64_t size);
/// The built-in file registered under name (without the "incbin::" prefix), or null.
const IncbinEntry* FindIncbin(const std::string& name);
/// Number of registered files.
int IncbinCount();
/// Forgets every registration (tests).
void ClearIncbin();

}  // namespace kin
