// Which Vorlan instance serves a DB2 session, as far as DB2's options or the
// environment say: the user interface's record, the "XjInstanceName=" key of
// an options text, or VORLAN_INST when DB2 passed no options.
#pragma once

#include <cstddef>
#include <string_view>

#include "kelmar/db2_vendor.h"

namespace kelmar {
inline constexpr std::string_view kInstanceNameKey = "XjInstanceName=";
inline constexpr const char* kInstanceVariable = "VORLAN_INST";

// False for names that would lead out of the registry's instance directory:
// any name holding "/", and exactly "." or "..".
bool IsAcceptableInstanceName(std::string_view name);
}  // namespace kelmar

// The one source the shape of DB2's options selects; the others are never
// consulted. A null `in` means no options.
enum class InstanceSource { Record, OptionsText, Environment };
InstanceSource ChooseInstanceSource(const Init_input* in);

// 1 with the (possibly empty) name in `name`, at most capacity-1 characters and
// terminated; 0 when the chosen source names none, with `name` left alone.
int GetVorlanInstanceName(char* name, std::size_t capacity, const Init_input* in);
