// The settings file: INI texts read and written with the semantics of the
// Windows private-profile functions (GetPrivateProfileStringA and friends).
//
// Section and key names match without regard to case; blanks around names and
// values are dropped; a value in matching quotes loses them; the first matching
// section and key win; a missing file, section or key gives the default.
// Calls read the file anew each time; they are safe from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The text value of key in section, or defaultValue. Values are kept whole.
std::string ProfileReadText(const std::string& path, const std::string& section,
                            const std::string& key, const std::string& defaultValue);

// The integer value of key in section, as GetPrivateProfileIntA reads it:
// leading decimal digits with an optional sign, 0 when there are none;
// defaultValue when the key is missing or its value empty.
int32_t ProfileReadInt(const std::string& path, const std::string& section,
                       const std::string& key, int32_t defaultValue);

// Writes key=value into section, creating the file, section or key as needed
// and keeping every other line of the file as it was. False on failure.
bool ProfileWriteText(const std::string& path, const std::string& section,
                      const std::string& key, const std::string& value);

}  // namespace platform
